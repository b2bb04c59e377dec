// Counting and writing code units as message text: portably, with SSSE3
// shuffles and with AVX-512 (VBMI2) compression.
//
// The portable path takes units below 0x100 from a table of their texts and
// writes wider ones digit by digit.
//
// The SSSE3 path turns eight units at a time into their four hex digits each
// (two table look-ups with pshufb), then writes every group of four units
// with shuffle masks chosen by the group's widths: 3^4 = 81 patterns, each
// with the masks that pick the digits of its text and the spaces between
// them. A block of sixteen units all below 0x100, by far the usual case,
// has a cheaper fixed layout and goes through it instead.
//
// The AVX-512 path takes 32 units at a time. When they all have the same
// width, their text has a fixed layout: one byte permutation per 32
// characters. Otherwise it lays out six units at a time in slots of five
// characters (four digits and a space) and compresses away the digits each
// unit does not need, so every mix of widths costs the same. Its last few
// units go through the SSSE3 path.
#include "UnitText.h"

#include "HexText.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <functional>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define UNIT_TEXT_HAS_X86_PATHS 1
#endif

namespace unit_text {
namespace {

// For every value below 0x100: its two digits, a space, and one spare
// character, so that one 8-byte copy writes a whole entry; the next text
// overwrites the spare.
using ByteText = std::array<char16_t, 4>;
constexpr std::array<ByteText, 256> MakeByteTexts() {
    std::array<ByteText, 256> texts{};
    for (std::size_t v = 0; v < texts.size(); ++v) {
        texts[v] = {hex_text::kDigits[v >> 4], hex_text::kDigits[v & 0xF], u' ', u' '};
    }
    return texts;
}
constexpr std::array<ByteText, 256> kByteTexts = MakeByteTexts();

char16_t* WriteUnit(char16_t* out, char16_t unit) {
    if (unit < 0x100) {
        std::memcpy(out, kByteTexts[unit].data(), sizeof(ByteText));
        return out + 3;
    }
    out = hex_text::Write(out, unsigned{unit}, unit < 0x1000 ? 3u : 4u);
    *out = u' ';
    return out + 1;
}

char16_t* WriteEach(char16_t* out, const char16_t* in, const char16_t* end) {
    for (; in != end; ++in) {
        out = WriteUnit(out, *in);
    }
    return out;
}

char16_t* WritePortable(char16_t* out, std::u16string_view units) {
    return WriteEach(out, units.data(), units.data() + units.size());
}

#ifdef UNIT_TEXT_HAS_X86_PATHS

// The sixteen digits in each 16-byte lane, for pshufb.
constexpr std::array<std::uint8_t, 64> MakeHexDigits64() {
    std::array<std::uint8_t, 64> digits{};
    for (std::size_t i = 0; i < digits.size(); ++i) {
        digits[i] = static_cast<std::uint8_t>(hex_text::kDigits[i % 16]);
    }
    return digits;
}
alignas(64) constexpr std::array<std::uint8_t, 64> kHexDigits64 = MakeHexDigits64();

// --- Blocks of sixteen units below 0x100 ---------------------------------

// Shuffle masks that spread eight pairs of digit bytes (h0 l0 h1 l1 ... h7
// l7) over 24 UTF-16 characters "h0 l0 _ h1 l1 _ ...", eight characters per
// mask: each character takes one digit byte and a zero high byte (index -1
// gives zero); the spaces are zero here and added afterwards.
constexpr std::array<std::array<std::int8_t, 16>, 3> MakeSpreadMasks() {
    std::array<std::array<std::int8_t, 16>, 3> masks{};
    for (std::size_t k = 0; k < 3; ++k) {
        for (std::size_t j = 0; j < 8; ++j) {
            const std::size_t position = 8 * k + j;
            const auto unit = static_cast<int>(position / 3);
            const auto part = static_cast<int>(position % 3);
            masks[k][2 * j] = static_cast<std::int8_t>(part == 2 ? -1 : 2 * unit + part);
            masks[k][2 * j + 1] = -1;
        }
    }
    return masks;
}
constexpr auto kSpreadMasks = MakeSpreadMasks();

// The spaces of the same three stretches of 8 characters.
constexpr std::array<std::array<char16_t, 8>, 3> MakeSpaces() {
    std::array<std::array<char16_t, 8>, 3> spaces{};
    for (std::size_t k = 0; k < 3; ++k) {
        for (std::size_t j = 0; j < 8; ++j) {
            spaces[k][j] = (8 * k + j) % 3 == 2 ? u' ' : 0;
        }
    }
    return spaces;
}
constexpr auto kSpaces = MakeSpaces();

// --- Groups of four units of any widths -----------------------------------

// The digits of four units lie in a vector as n1 n0 n3 n2 per unit (n0 the
// lowest nibble), that is unit i's nibble k at byte 4i + kNibbleByte[k].
constexpr std::array<int, 4> kNibbleByte = {1, 0, 3, 2};

// What writing one group takes: three masks that fill 24 characters from the
// digit vector (the text is at most 4 x 5 = 20 of them; the rest is
// overwritten by what follows) and the spaces to add to them.
struct GroupMasks {
    std::array<std::array<std::int8_t, 16>, 3> shuffles;
    std::array<std::array<char16_t, 8>, 3> spaces;
};

// Pattern p gives unit i the width 2 + (p / 3^i) % 3.
constexpr std::size_t kPatterns = 81;

constexpr std::array<GroupMasks, kPatterns> MakeGroupMasks() {
    std::array<GroupMasks, kPatterns> all{};
    for (std::size_t p = 0; p < kPatterns; ++p) {
        std::size_t position = 0;
        auto put = [&](int digitByte) {
            auto& shuffle = all[p].shuffles[position / 8];
            const std::size_t j = position % 8;
            shuffle[2 * j] = static_cast<std::int8_t>(digitByte);
            shuffle[2 * j + 1] = -1;
            all[p].spaces[position / 8][j] = digitByte < 0 ? u' ' : 0;
            ++position;
        };
        for (int i = 0, rest = static_cast<int>(p); i < 4; ++i, rest /= 3) {
            for (int k = 2 + rest % 3; k-- > 0;) {
                put(4 * i + kNibbleByte[static_cast<std::size_t>(k)]);
            }
            put(-1);
        }
        for (; position < 24; ++position) {
            all[p].shuffles[position / 8][2 * (position % 8)] = -1;
            all[p].shuffles[position / 8][2 * (position % 8) + 1] = -1;
        }
    }
    return all;
}
alignas(16) constexpr std::array<GroupMasks, kPatterns> kGroupMasks = MakeGroupMasks();

// A group's pattern and text length, found from eight bits: bit i says that
// unit i is 0x100 or above, bit 4 + i that it is 0x1000 or above.
struct GroupShape {
    std::uint8_t pattern;
    std::uint8_t length;
};
constexpr std::array<GroupShape, 256> MakeGroupShapes() {
    std::array<GroupShape, 256> shapes{};
    for (unsigned bits = 0; bits < 256; ++bits) {
        unsigned pattern = 0;
        unsigned length = 0;
        for (unsigned i = 0, weight = 1; i < 4; ++i, weight *= 3) {
            const unsigned extra = (bits >> i & 1) + (bits >> (4 + i) & 1);
            pattern += extra * weight;
            length += 3 + extra;
        }
        shapes[bits] = {static_cast<std::uint8_t>(pattern), static_cast<std::uint8_t>(length)};
    }
    return shapes;
}
constexpr std::array<GroupShape, 256> kGroupShapes = MakeGroupShapes();

__attribute__((target("ssse3"))) inline __m128i Load(const void* from) {
    return _mm_loadu_si128(static_cast<const __m128i*>(from));
}

__attribute__((target("ssse3"))) inline void Store(char16_t* to, __m128i text) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), text);
}

__attribute__((target("ssse3"))) inline char16_t* WriteGroup(char16_t* out, __m128i digits,
                                                             GroupShape shape) {
    const GroupMasks& masks = kGroupMasks[shape.pattern];
    for (std::size_t k = 0; k < 3; ++k) {
        const __m128i text = _mm_shuffle_epi8(digits, Load(masks.shuffles[k].data()));
        Store(out + 8 * k, _mm_or_si128(text, Load(masks.spaces[k].data())));
    }
    return out + shape.length;
}

// Writes eight units of any widths; up to 12 characters past the end of their
// text are overwritten with scratch.
__attribute__((target("ssse3"))) inline char16_t* WriteEight(char16_t* out, __m128i units) {
    const __m128i lowNibble = _mm_set1_epi8(0x0F);
    const __m128i hexDigits = Load(kHexDigits64.data());
    const __m128i zero = _mm_setzero_si128();
    const __m128i high = _mm_and_si128(_mm_srli_epi16(units, 4), lowNibble);
    const __m128i low = _mm_and_si128(units, lowNibble);
    const __m128i highDigits = _mm_shuffle_epi8(hexDigits, high);
    const __m128i lowDigits = _mm_shuffle_epi8(hexDigits, low);

    const __m128i below100 = _mm_cmpeq_epi16(_mm_srli_epi16(units, 8), zero);
    const __m128i below1000 = _mm_cmpeq_epi16(_mm_srli_epi16(units, 12), zero);
    // Bits 0-7: units 0-7 are 0x100 or above; bits 8-15: 0x1000 or above.
    const unsigned wide =
        ~static_cast<unsigned>(_mm_movemask_epi8(_mm_packs_epi16(below100, below1000))) & 0xFFFF;

    out = WriteGroup(out, _mm_unpacklo_epi8(highDigits, lowDigits),
                     kGroupShapes[(wide & 0x0F) | (wide >> 4 & 0xF0)]);
    return WriteGroup(out, _mm_unpackhi_epi8(highDigits, lowDigits),
                      kGroupShapes[(wide >> 4 & 0x0F) | (wide >> 8 & 0xF0)]);
}

__attribute__((target("ssse3"))) void
Store24(char16_t* out, __m128i digitPairs, const __m128i (&masks)[3], const __m128i (&spaces)[3]) {
    for (int k = 0; k < 3; ++k) {
        const __m128i text = _mm_or_si128(_mm_shuffle_epi8(digitPairs, masks[k]), spaces[k]);
        Store(out + 8 * k, text);
    }
}

// Writes sixteen units all below 0x100, exactly 48 characters.
__attribute__((target("ssse3"))) inline void WriteSixteenBytes(char16_t* out, __m128i first,
                                                               __m128i second,
                                                               const __m128i (&masks)[3],
                                                               const __m128i (&spaces)[3]) {
    const __m128i lowNibble = _mm_set1_epi8(0x0F);
    const __m128i hexDigits = Load(kHexDigits64.data());
    const __m128i bytes = _mm_packus_epi16(first, second);
    const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), lowNibble);
    const __m128i low = _mm_and_si128(bytes, lowNibble);
    const __m128i highDigits = _mm_shuffle_epi8(hexDigits, high);
    const __m128i lowDigits = _mm_shuffle_epi8(hexDigits, low);
    Store24(out, _mm_unpacklo_epi8(highDigits, lowDigits), masks, spaces);
    Store24(out + 24, _mm_unpackhi_epi8(highDigits, lowDigits), masks, spaces);
}

__attribute__((target("ssse3"))) char16_t* WriteSsse3(char16_t* out, std::u16string_view units) {
    const char16_t* in = units.data();
    const char16_t* const end = in + units.size();
    const __m128i zero = _mm_setzero_si128();
    __m128i masks[3];
    __m128i spaces[3];
    for (std::size_t k = 0; k < 3; ++k) {
        masks[k] = Load(kSpreadMasks[k].data());
        spaces[k] = Load(kSpaces[k].data());
    }
    // WriteEight's scratch needs 12 characters after its text, which the at
    // least four units still to come (3 characters or more each) cover.
    while (end - in >= 16 + 4) {
        const __m128i first = Load(in);
        const __m128i second = Load(in + 8);
        const __m128i highBytes = _mm_or_si128(_mm_srli_epi16(first, 8), _mm_srli_epi16(second, 8));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(highBytes, zero)) == 0xFFFF) {
            WriteSixteenBytes(out, first, second, masks, spaces);
            out += 48;
        } else {
            out = WriteEight(out, first);
            out = WriteEight(out, second);
        }
        in += 16;
    }
    if (end - in >= 8 + 4) {
        out = WriteEight(out, Load(in));
        in += 8;
    }
    return WriteEach(out, in, end);
}

bool HasSsse3() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

// --- AVX-512 ----------------------------------------------------------------

#define UNIT_TEXT_AVX512                                                                           \
    __attribute__((target("avx512f,avx512bw,avx512vbmi,avx512vbmi2,bmi,bmi2,popcnt")))

// Every layout below picks digit bytes from two vectors made from the same 32
// units: `low`, the digit of the low nibble of each byte (byte 2i is n0 of
// unit i, byte 2i + 1 is n2), and `high`, that of the high nibble (n1 and
// n3). As a two-source byte permutation index, high's byte b is 64 + b.
constexpr int kLowN0 = 0, kLowN2 = 1, kHighN1 = 64, kHighN3 = 65;

// Where digit `k` (0 the lowest) of unit `unit` lies in the digit vectors.
constexpr int DigitIndex(int unit, int k) {
    constexpr int kNibbles[4] = {kLowN0, kHighN1, kLowN2, kHighN3};
    return kNibbles[k] + 2 * unit;
}

// A stretch of 32 characters as one permutation: each byte set in `picked`
// is an index into the digit vectors, every other byte is its own value (the
// zero high bytes and the spaces).
struct Layout {
    std::array<std::uint8_t, 64> bytes;
    std::uint64_t picked;

    constexpr void Pick(int character, int index) {
        bytes[static_cast<std::size_t>(2 * character)] = static_cast<std::uint8_t>(index);
        picked |= std::uint64_t{1} << (2 * character);
    }
    constexpr void Space(int character) { bytes[static_cast<std::size_t>(2 * character)] = ' '; }
};

// Characters 32k to 32k + 31 of the text of 32 units that all have `width`
// digits.
constexpr Layout MakeRun(int width, int k) {
    Layout layout{};
    for (int c = 0; c < 32; ++c) {
        const int position = 32 * k + c;
        const int part = position % (width + 1);
        if (part == width) {
            layout.Space(c);
        } else {
            layout.Pick(c, DigitIndex(position / (width + 1), width - 1 - part));
        }
    }
    return layout;
}

// Runs of 32 units of one width, 2, 3 or 4: width + 1 stretches each.
template <std::size_t Width> constexpr std::array<Layout, Width + 1> MakeRuns() {
    std::array<Layout, Width + 1> runs{};
    for (std::size_t k = 0; k <= Width; ++k) {
        runs[k] = MakeRun(static_cast<int>(Width), static_cast<int>(k));
    }
    return runs;
}
constexpr auto kRuns2 = MakeRuns<2>();
constexpr auto kRuns3 = MakeRuns<3>();
constexpr auto kRuns4 = MakeRuns<4>();

// Six units of any widths in slots of five characters "n3 n2 n1 n0 _" (the
// last two of the 32 characters unused), from which compression keeps the
// text. `first` is the first unit's place among the 32.
constexpr unsigned kSlotUnits = 6;
constexpr unsigned kSlotGroups = 5; // 30 of the 32 units
constexpr Layout MakeSlots(int first) {
    Layout layout{};
    for (int unit = 0; unit < static_cast<int>(kSlotUnits); ++unit) {
        for (int k = 3; k >= 0; --k) {
            layout.Pick(5 * unit + 3 - k, DigitIndex(first + unit, k));
        }
        layout.Space(5 * unit + 4);
    }
    return layout;
}
constexpr std::array<Layout, kSlotGroups> kSlots = {MakeSlots(0), MakeSlots(6), MakeSlots(12),
                                                    MakeSlots(18), MakeSlots(24)};

// Which characters of six slots are kept, from twelve bits: bit 2i says
// that unit i is 0x100 or above (its n2 stays), bit 2i + 1 that it is 0x1000
// or above (n3 stays). n1, n0 and the space always stay.
constexpr std::array<std::uint32_t, 4096> MakeKept() {
    std::array<std::uint32_t, 4096> kept{};
    for (std::uint32_t bits = 0; bits < kept.size(); ++bits) {
        for (std::uint32_t unit = 0; unit < kSlotUnits; ++unit) {
            kept[bits] |= (0b11100u | (bits >> (2 * unit) & 1) << 1 | (bits >> (2 * unit + 1) & 1))
                          << (5 * unit);
        }
    }
    return kept;
}
alignas(64) constexpr std::array<std::uint32_t, 4096> kKept = MakeKept();

// For pshufb: each unit's high byte twice, so that one byte comparison gives
// the two width bits of every unit (see WidthBits).
constexpr std::array<std::uint8_t, 64> MakeHighBytesTwice() {
    std::array<std::uint8_t, 64> picks{};
    for (std::size_t i = 0; i < picks.size(); ++i) {
        picks[i] = static_cast<std::uint8_t>((i % 16) | 1);
    }
    return picks;
}
alignas(64) constexpr std::array<std::uint8_t, 64> kHighBytesTwice = MakeHighBytesTwice();
constexpr std::uint64_t kWidth3Bits = 0x5555555555555555; // bits 2i
constexpr std::uint64_t kWidth4Bits = 0xAAAAAAAAAAAAAAAA; // bits 2i + 1

UNIT_TEXT_AVX512 inline __m512i Load64(const void* from) {
    return _mm512_loadu_si512(from);
}

// The widths of 32 units: bit 2i says that unit i is 0x100 or above (its high
// byte at least 1), bit 2i + 1 that it is 0x1000 or above (at least 0x10).
// Their count is the number of digits beyond two.
UNIT_TEXT_AVX512 inline std::uint64_t WidthBits(__m512i block) {
    return _mm512_cmpge_epu8_mask(_mm512_shuffle_epi8(block, Load64(kHighBytesTwice.data())),
                                  _mm512_set1_epi16(0x1001));
}

// The twelve width bits of group `g` of six units.
UNIT_TEXT_AVX512 inline std::uint64_t GroupWidths(std::uint64_t widths, unsigned g) {
#ifdef __x86_64__
    return _bextr_u64(widths, 2 * kSlotUnits * g, 2 * kSlotUnits);
#else
    return widths >> (2 * kSlotUnits * g) & 0xFFF;
#endif
}

// The 32 characters of `layout` from the digit vectors.
UNIT_TEXT_AVX512 inline __m512i Lay(const Layout& layout, __m512i low, __m512i high) {
    return _mm512_mask2_permutex2var_epi8(low, Load64(layout.bytes.data()), layout.picked, high);
}

// Writes a run of 32 units of one width: exactly as many characters as the
// run's text.
template <std::size_t Stretches>
UNIT_TEXT_AVX512 inline char16_t* WriteRun(char16_t* out, const std::array<Layout, Stretches>& run,
                                           __m512i low, __m512i high) {
    for (std::size_t k = 0; k < Stretches; ++k) {
        _mm512_storeu_si512(out + 32 * k, Lay(run[k], low, high));
    }
    return out + 32 * Stretches;
}

UNIT_TEXT_AVX512 char16_t* WriteAvx512(char16_t* out, std::u16string_view units) {
    const char16_t* in = units.data();
    const char16_t* const end = in + units.size();
    const __m512i lowNibble = _mm512_set1_epi8(0x0F);
    const __m512i hexDigits = Load64(kHexDigits64.data());
    // A group of slots is stored as 32 characters, at least 18 of them its
    // own text; the rest is overwritten by what follows. A mixed block takes
    // 30 of the 32 units read, so at least six are still to come (3
    // characters or more each), which cover it.
    while (end - in >= 32 + 4) {
        const __m512i block = Load64(in);
        const __m512i low = _mm512_shuffle_epi8(hexDigits, _mm512_and_si512(block, lowNibble));
        const __m512i high = _mm512_shuffle_epi8(
            hexDigits, _mm512_and_si512(_mm512_srli_epi16(block, 4), lowNibble));
        const std::uint64_t widths = WidthBits(block);
        in += 32;
        if (widths == 0) {
            out = WriteRun(out, kRuns2, low, high);
        } else if (widths == kWidth3Bits) {
            out = WriteRun(out, kRuns3, low, high);
        } else if (widths == kWidth3Bits + kWidth4Bits) {
            out = WriteRun(out, kRuns4, low, high);
        } else {
            for (unsigned g = 0; g < kSlotGroups; ++g) {
                const std::uint64_t bits = GroupWidths(widths, g);
                const __m512i text = _mm512_maskz_compress_epi16(
                    _cvtu32_mask32(kKept[static_cast<std::size_t>(bits)]),
                    Lay(kSlots[g], low, high));
                _mm512_storeu_si512(out, text);
                // Three characters a unit and one for every width bit.
                out += 3 * kSlotUnits + static_cast<std::size_t>(__builtin_popcountll(bits));
            }
            in -= 32 - kSlotUnits * kSlotGroups;
        }
    }
    return WriteSsse3(out, std::u16string_view(in, static_cast<std::size_t>(end - in)));
}

UNIT_TEXT_AVX512 std::size_t LengthAvx512(std::u16string_view units) {
    const char16_t* in = units.data();
    const char16_t* const end = in + units.size();
    std::size_t extra = 0;
    for (; end - in >= 64; in += 64) {
        extra += static_cast<std::size_t>(__builtin_popcountll(WidthBits(Load64(in))) +
                                          __builtin_popcountll(WidthBits(Load64(in + 32))));
    }
    for (; in < end; in += 32) {
        // Units past the end are not read and count as zero.
        const std::size_t rest = static_cast<std::size_t>(end - in);
        const __mmask32 present =
            rest >= 32 ? _cvtu32_mask32(~0u) : _cvtu32_mask32((1u << rest) - 1);
        extra += static_cast<std::size_t>(
            __builtin_popcountll(WidthBits(_mm512_maskz_loadu_epi16(present, in))));
    }
    return 3 * units.size() + extra;
}

bool HasAvx512() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
           __builtin_cpu_supports("avx512vbmi") && __builtin_cpu_supports("avx512vbmi2") &&
           __builtin_cpu_supports("bmi") && __builtin_cpu_supports("bmi2") &&
           __builtin_cpu_supports("popcnt");
}

#endif

std::size_t LengthPortable(std::u16string_view units) {
    // Units of 0x100 and above take three or four digits instead of two.
    // Counting runs in blocks with 16-bit counters (at most 2 per unit, so a
    // block of 16384 cannot overflow one), which lets the compiler count
    // eight units per vector step.
    constexpr std::size_t kBlock = 16384;
    std::size_t extra = 0;
    for (std::size_t start = 0; start < units.size(); start += kBlock) {
        std::uint16_t count = 0;
        for (char16_t unit : units.substr(start, kBlock)) {
            count = static_cast<std::uint16_t>(count + (unit >= 0x100) + (unit >= 0x1000));
        }
        extra += count;
    }
    return 3 * units.size() + extra;
}

std::span<const Path> AllPaths() {
    static const Path paths[] = {
        {"portable", true, LengthPortable, WritePortable},
#ifdef UNIT_TEXT_HAS_X86_PATHS
        {"ssse3", HasSsse3(), LengthPortable, WriteSsse3},
        {"avx512vbmi2", HasAvx512(), LengthAvx512, WriteAvx512},
#endif
    };
    return paths;
}

const Path& Chosen() {
    static const Path& chosen = [] {
        const Path* best = nullptr;
        for (const Path& path : AllPaths()) {
            if (path.usable) {
                best = &path;
            }
        }
        return std::cref(*best);
    }();
    return chosen;
}

} // namespace

std::size_t Length(std::u16string_view units) {
    return Chosen().length(units);
}

char16_t* WriteUnits(char16_t* out, std::u16string_view units) {
    return Chosen().write(out, units);
}

std::span<const Path> Paths() {
    return AllPaths();
}

} // namespace unit_text
