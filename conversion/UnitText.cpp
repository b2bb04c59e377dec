// Writing code units as message text: portably, and with SSSE3 and AVX2
// shuffles.
//
// The portable path (WriteEach, in the header) takes units below 0x100 from
// a table of their texts and writes wider ones digit by digit.
//
// The SSSE3 path turns eight units at a time into their four hex digits each
// (two table look-ups with pshufb), then writes every group of four units
// with shuffle masks chosen by the group's widths (81 combinations of two,
// three and four digits), each with the masks that pick the digits of its
// text and the spaces between them. A block of sixteen units all below
// 0x100, by far the usual case, has a cheaper fixed layout and goes through
// it instead.
//
// The AVX2 path does the same sixteen units a step, with a group's first 16
// characters in one 32-byte store; blocks of units all of two, all of three
// or all of four digits take fixed layouts, without looking up masks, and
// blocks of units of two and four digits only go as two halves of eight
// units, each with one look-up by its widths rather than two groups'. Units
// that do not fill a last step are written as part of the last sixteen,
// whose first ones are written again with the same text, so that no unit
// of a text of sixteen or more goes through the portable loop. A long text
// is first brought to a 32-byte boundary.
#include "UnitText.h"

#include "HexText.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <bit>
#include <cstdint>
#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define UNIT_TEXT_HAS_X86_PATHS 1
#endif

namespace unit_text {
namespace {

char16_t* WritePortable(char16_t* out, std::u16string_view units) {
    return WriteEach(out, units);
}

#ifdef UNIT_TEXT_HAS_X86_PATHS

// The sixteen digits, for pshufb.
constexpr std::array<std::uint8_t, 16> MakeHexDigits() {
    std::array<std::uint8_t, 16> digits{};
    for (std::size_t i = 0; i < digits.size(); ++i) {
        digits[i] = static_cast<std::uint8_t>(hex_text::kDigits[i]);
    }
    return digits;
}
alignas(16) constexpr std::array<std::uint8_t, 16> kHexDigits = MakeHexDigits();

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

// A group's widths, as eight bits: bit 2i says that unit i is 0x100 or
// above, bit 2i + 1 that it is 0x1000 or above. Of the 256 values, the 81 in
// which every unit's second bit comes with its first occur. These are the
// bits movemask gives for the bytes of UnitWidths, so that a block's group
// g has bits 8g to 8g + 7.
constexpr std::size_t kGroupWidths = 256;

// What writing one group takes: three masks that fill 24 characters from the
// digit vector (the text is at most 4 x 5 = 20 of them; the rest is
// overwritten by what follows), the spaces to add to them, and the length
// of the text. An entry takes 128 bytes, so that its place is the widths
// shifted, and the first 16 characters' masks, all that most groups need,
// share one cache line.
struct alignas(128) GroupMasks {
    std::array<std::array<std::int8_t, 16>, 3> shuffles;
    std::array<std::array<char16_t, 8>, 3> spaces;
    std::uint8_t length;
};

constexpr unsigned GroupLength(unsigned widths) {
    return 12 + static_cast<unsigned>(std::popcount(widths));
}

constexpr std::array<GroupMasks, kGroupWidths> MakeGroupMasks() {
    std::array<GroupMasks, kGroupWidths> all{};
    for (unsigned widths = 0; widths < kGroupWidths; ++widths) {
        GroupMasks& masks = all[widths];
        masks.length = static_cast<std::uint8_t>(GroupLength(widths));
        std::size_t position = 0;
        auto put = [&](int digitByte) {
            masks.shuffles[position / 8][2 * (position % 8)] = static_cast<std::int8_t>(digitByte);
            masks.shuffles[position / 8][2 * (position % 8) + 1] = -1;
            masks.spaces[position / 8][position % 8] = digitByte < 0 ? u' ' : 0;
            ++position;
        };
        for (unsigned i = 0; i < 4; ++i) {
            const auto digits = 2u + static_cast<unsigned>(std::popcount(widths >> (2 * i) & 3));
            for (unsigned k = digits; k-- > 0;) {
                put(static_cast<int>(4 * i) + kNibbleByte[k]);
            }
            put(-1);
        }
        while (position < 24) {
            masks.shuffles[position / 8][2 * (position % 8)] = -1;
            masks.shuffles[position / 8][2 * (position % 8) + 1] = -1;
            ++position;
        }
    }
    return all;
}
constexpr std::array<GroupMasks, kGroupWidths> kGroupMasks = MakeGroupMasks();

__attribute__((target("ssse3"))) inline __m128i Load(const void* from) {
    return _mm_loadu_si128(static_cast<const __m128i*>(from));
}

__attribute__((target("ssse3"))) inline void Store(char16_t* to, __m128i text) {
    _mm_storeu_si128(reinterpret_cast<__m128i*>(to), text);
}

// For each unit, its high byte in its low byte (zero below 0x100) and its
// top four bits in its high byte (zero below 0x1000): the bytes that are
// not zero are the unit's bits of its group's widths.
__attribute__((target("ssse3"))) inline __m128i UnitWidths(__m128i units) {
    return _mm_or_si128(_mm_srli_epi16(units, 8),
                        _mm_and_si128(_mm_srli_epi16(units, 4), _mm_set1_epi16(0x0F00)));
}

__attribute__((target("ssse3"))) inline char16_t* WriteGroup(char16_t* out, __m128i digits,
                                                             unsigned widths) {
    const GroupMasks& masks = kGroupMasks[widths];
    for (std::size_t k = 0; k < 3; ++k) {
        const __m128i text = _mm_shuffle_epi8(digits, Load(masks.shuffles[k].data()));
        Store(out + 8 * k, _mm_or_si128(text, Load(masks.spaces[k].data())));
    }
    return out + masks.length;
}

// Writes eight units of any widths; up to 12 characters past the end of their
// text are overwritten with scratch.
__attribute__((target("ssse3"))) inline char16_t* WriteEight(char16_t* out, __m128i units) {
    const __m128i lowNibble = _mm_set1_epi8(0x0F);
    const __m128i hexDigits = Load(kHexDigits.data());
    const __m128i zero = _mm_setzero_si128();
    const __m128i high = _mm_and_si128(_mm_srli_epi16(units, 4), lowNibble);
    const __m128i low = _mm_and_si128(units, lowNibble);
    const __m128i highDigits = _mm_shuffle_epi8(hexDigits, high);
    const __m128i lowDigits = _mm_shuffle_epi8(hexDigits, low);

    const unsigned wide =
        ~static_cast<unsigned>(_mm_movemask_epi8(_mm_cmpeq_epi8(UnitWidths(units), zero))) & 0xFFFF;
    out = WriteGroup(out, _mm_unpacklo_epi8(highDigits, lowDigits), wide & 0xFF);
    return WriteGroup(out, _mm_unpackhi_epi8(highDigits, lowDigits), wide >> 8);
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
    const __m128i hexDigits = Load(kHexDigits.data());
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
    return WriteEach(out, std::u16string_view(in, static_cast<std::size_t>(end - in)));
}

// --- AVX2: the same layouts, sixteen units a step ------------------------
//
// vpshufb works within each 128-bit half of a vector, so a vector whose two
// halves hold the same digits can be spread over 16 characters at once: the
// two halves of a 32-byte mask are two of the 8-character masks above, which
// lie next to each other in the tables.

// PREFETCHW asks for a cache line to be written soon; processors without
// it take it as a no-op.
#define UNIT_TEXT_AVX2 __attribute__((target("avx2,prfchw")))

UNIT_TEXT_AVX2 inline __m256i Load256(const void* from) {
    return _mm256_loadu_si256(static_cast<const __m256i*>(from));
}

UNIT_TEXT_AVX2 inline void Store256(char16_t* to, __m256i text) {
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(to), text);
}

// A constant of the loop below, kept as it is: otherwise the compiler may
// build it anew, in two or three instructions, at each use.
UNIT_TEXT_AVX2 inline __m256i Kept(__m256i constant) {
    asm("" : "+x"(constant));
    return constant;
}

// Sixteen spaces. The shuffles below leave the spaces of a text zero, and
// every digit is above a space, so the larger of each character and a
// space is the text.
alignas(32) constexpr std::array<char16_t, 16> kSpaceChars = [] {
    std::array<char16_t, 16> spaces{};
    spaces.fill(u' ');
    return spaces;
}();

// The four digits of every unit of `units`, ordered as kNibbleByte says,
// one unit to each 32 bits: those of units 0-3 of each 128-bit half in
// `first`, of units 4-7 in `second`.
UNIT_TEXT_AVX2 inline void UnitDigits(__m256i units, __m256i& first, __m256i& second) {
    const __m256i lowNibble = _mm256_set1_epi8(0x0F);
    const __m256i hexDigits = _mm256_broadcastsi128_si256(Load(kHexDigits.data()));
    const __m256i highDigits =
        _mm256_shuffle_epi8(hexDigits, _mm256_and_si256(_mm256_srli_epi16(units, 4), lowNibble));
    const __m256i lowDigits = _mm256_shuffle_epi8(hexDigits, _mm256_and_si256(units, lowNibble));
    first = _mm256_unpacklo_epi8(highDigits, lowDigits);
    second = _mm256_unpackhi_epi8(highDigits, lowDigits);
}

// The digits of the sixteen units of `block`, group g's four units in both
// halves of groups[g], as WriteGroupAvx2 takes them.
UNIT_TEXT_AVX2 inline void SixteenDigits(__m256i block, __m256i (&groups)[4]) {
    // Groups 0 and 2, and groups 1 and 3, each in one half.
    __m256i even;
    __m256i odd;
    UnitDigits(block, even, odd);
    groups[0] = _mm256_permute4x64_epi64(even, 0x44);
    groups[1] = _mm256_permute4x64_epi64(odd, 0x44);
    groups[2] = _mm256_permute4x64_epi64(even, 0xEE);
    groups[3] = _mm256_permute4x64_epi64(odd, 0xEE);
}

// Writes one group of four units: up to 7 characters past its text are
// overwritten with scratch. `MaybeLong` false promises a text of at most 16
// characters.
template <bool MaybeLong = true>
UNIT_TEXT_AVX2 inline char16_t* WriteGroupAvx2(char16_t* out, __m256i digits,
                                               const GroupMasks& masks, __m256i space) {
    const __m256i text = _mm256_shuffle_epi8(digits, Load256(masks.shuffles[0].data()));
    Store256(out, _mm256_max_epu16(text, space));
    if (MaybeLong && masks.length > 16) {
        const __m128i rest =
            _mm_shuffle_epi8(_mm256_castsi256_si128(digits), Load(masks.shuffles[2].data()));
        Store(out + 16, _mm_max_epu16(rest, _mm256_castsi256_si128(space)));
    }
    return out + masks.length;
}

// Per group of four, 1000: a little less than 255 times four.
alignas(32) constexpr std::array<std::int64_t, 4> kFourZeroBytes = {1000, 1000, 1000, 1000};

// Whether some group of a block has a text longer than 16 characters: fewer
// than four of the eight bytes of its widths are zero, given as zeroBytes
// (see ZeroWidthBytes).
UNIT_TEXT_AVX2 inline bool HasLongGroup(__m256i zeroBytes, __m256i fourZeroBytes) {
    // Per group, 255 times the count of zero bytes.
    const __m256i zeros = _mm256_sad_epu8(zeroBytes, _mm256_setzero_si256());
    return _mm256_movemask_epi8(_mm256_cmpgt_epi64(zeros, fourZeroBytes)) != -1;
}

// The bytes of the widths of the four groups of sixteen units (see
// UnitWidths) that are zero, all ones.
UNIT_TEXT_AVX2 inline __m256i ZeroWidthBytes(__m256i block) {
    const __m256i widths =
        _mm256_or_si256(_mm256_srli_epi16(block, 8),
                        _mm256_and_si256(_mm256_srli_epi16(block, 4), _mm256_set1_epi16(0x0F00)));
    return _mm256_cmpeq_epi8(widths, _mm256_setzero_si256());
}

// The widths of the four groups of sixteen units, group g's in byte g.
UNIT_TEXT_AVX2 inline std::uint32_t GroupWidths(__m256i zeroBytes) {
    return ~static_cast<std::uint32_t>(_mm256_movemask_epi8(zeroBytes));
}

// Writes sixteen units all below 0x100, exactly 48 characters.
UNIT_TEXT_AVX2 inline void WriteSixteenBytesAvx2(char16_t* out, __m256i units,
                                                 const __m256i (&masks)[3], __m256i space) {
    const __m256i lowNibble = _mm256_set1_epi16(0x0F);
    const __m256i hexDigits = _mm256_broadcastsi128_si256(Load(kHexDigits.data()));
    // Each unit's high nibble in its low byte, its low nibble in its high
    // byte: after the look-up, each 16-bit lane holds the unit's two digits
    // in writing order. Half 0 holds units 0-7, half 1 units 8-15.
    const __m256i nibbles = _mm256_or_si256(
        _mm256_srli_epi16(units, 4), _mm256_slli_epi16(_mm256_and_si256(units, lowNibble), 8));
    const __m256i digits = _mm256_shuffle_epi8(hexDigits, nibbles);
    // Characters 0-15 come from units 0-5, 16-31 from units 5-10, 32-47
    // from units 10-15.
    const __m256i sources[3] = {_mm256_permute4x64_epi64(digits, 0x44), digits,
                                _mm256_permute4x64_epi64(digits, 0xEE)};
    for (int k = 0; k < 3; ++k) {
        const __m256i text = _mm256_shuffle_epi8(sources[k], masks[k]);
        Store256(out + 16 * k, _mm256_max_epu16(text, space));
    }
}

// Two of three stretches of 16 bytes, `low` in the low half.
template <typename Stretches>
UNIT_TEXT_AVX2 inline __m256i Pair(const Stretches& parts, std::size_t low, std::size_t high) {
    static_assert(sizeof parts[0] == 16);
    return _mm256_loadu2_m128i(reinterpret_cast<const __m128i*>(parts[high].data()),
                               reinterpret_cast<const __m128i*>(parts[low].data()));
}

// --- Blocks of units of two and four digits only --------------------------
//
// Such blocks, as with a few units from U+1000 on among ASCII, go as two
// halves of eight units, without the masks of four groups. The digits of a
// half's eight units lie in one vector, unit i's four (ordered as
// kNibbleByte says) in its 32-bit lane i: units 0-3 in the low 128 bits,
// 4-7 in the high. Its text, 24 to 40 characters, is written with two
// stores of 16 characters and, when longer than 32, one of 8; pshufb picks
// each stretch of 8 characters from the four units of one 128-bit half.
// Characters 0-7 lie among units 0-3, and 24-39 among units 4-7, where the
// digits are already; characters 8-15 and 16-23 may begin at any of units
// 1-4, so one vpermd brings their units, those of 16-23 to the low half
// and those of 8-15 to the high, and each store's source is that vector
// blended with the digits, which costs no shuffle.

// A half's widths: bit i says that unit i is 0x1000 or above.
constexpr std::size_t kHalfWidths = 256;

// What writing one half takes: the unit whose digits go to each 32-bit lane
// of the brought units, and per store the mask that picks each character's
// digit from its source (the spaces zero, as for the groups). An entry
// takes 128 bytes, so that its place is the widths shifted.
struct alignas(128) HalfMasks {
    std::array<std::int32_t, 8> sources;
    std::array<std::array<std::int8_t, 32>, 3> shuffles;
};

constexpr unsigned HalfLength(unsigned widths) {
    return 24 + 2 * static_cast<unsigned>(std::popcount(widths));
}

constexpr std::array<HalfMasks, kHalfWidths> MakeHalfMasks() {
    std::array<HalfMasks, kHalfWidths> all{};
    for (unsigned widths = 0; widths < kHalfWidths; ++widths) {
        // Each character of the text: its unit and the byte of its digit
        // among the unit's four, -1 for a space. Past the text, nothing.
        std::array<int, 48> units{};
        std::array<int, 48> bytes{};
        units.fill(7);
        bytes.fill(-1);
        std::size_t position = 0;
        for (unsigned i = 0; i < 8; ++i) {
            for (unsigned k = (widths >> i & 1) != 0 ? 4u : 2u; k-- > 0;) {
                units[position] = static_cast<int>(i);
                bytes[position++] = kNibbleByte[k];
            }
            units[position] = static_cast<int>(i);
            bytes[position++] = -1;
        }
        HalfMasks& masks = all[widths];
        // Each stretch of 8 characters: where it goes among the stores'
        // halves, and the first unit of its source's 128-bit half. The
        // digits' own halves hold units 0 and 4 first, the brought ones
        // the first units of characters 16 and 8. The third store keeps only
        // its high half, which takes characters 32-39.
        struct Stretch {
            std::size_t store, half, first;
            int firstUnit;
        };
        const Stretch stretches[] = {
            {0, 0, 0, 0}, {0, 1, 8, units[8]}, {1, 0, 16, units[16]}, {1, 1, 24, 4}, {2, 1, 32, 4},
        };
        for (std::size_t slot = 0; slot < 4; ++slot) {
            masks.sources[slot] = std::min(units[16] + static_cast<int>(slot), 7);
            masks.sources[4 + slot] = std::min(units[8] + static_cast<int>(slot), 7);
        }
        for (auto& shuffle : masks.shuffles) {
            shuffle.fill(-1);
        }
        for (const Stretch& stretch : stretches) {
            for (std::size_t j = 0; j < 8; ++j) {
                const int byte = bytes[stretch.first + j];
                if (byte < 0) {
                    continue; // a space, or past the text
                }
                const int lane = units[stretch.first + j] - stretch.firstUnit;
                if (lane < 0 || lane > 3) {
                    throw "a digit lies outside the four units of its source";
                }
                masks.shuffles[stretch.store][16 * stretch.half + 2 * j] =
                    static_cast<std::int8_t>(4 * lane + byte);
            }
        }
    }
    return all;
}
// Built at compile time, so that a mask picking a digit from outside its
// source's four units fails the build.
constexpr std::array<HalfMasks, kHalfWidths> kHalfMasks = MakeHalfMasks();

// Writes the eight units whose digits are `digits` and whose widths are
// `widths`; up to 8 characters past their text are overwritten with scratch.
UNIT_TEXT_AVX2 inline char16_t* WriteHalfAvx2(char16_t* out, __m256i digits, unsigned widths,
                                              __m256i space) {
    const HalfMasks& masks = kHalfMasks[widths];
    const __m256i brought = _mm256_permutevar8x32_epi32(digits, Load256(masks.sources.data()));
    const __m256i sources[2] = {_mm256_blend_epi32(digits, brought, 0xF0),
                                _mm256_blend_epi32(brought, digits, 0xF0)};
    for (std::size_t store = 0; store < 2; ++store) {
        const __m256i text =
            _mm256_shuffle_epi8(sources[store], Load256(masks.shuffles[store].data()));
        Store256(out + 16 * store, _mm256_max_epu16(text, space));
    }
    const unsigned length = HalfLength(widths);
    if (length > 32) {
        // Characters 32-39, from units 4-7: the high half of a shuffle of
        // the digits, stored straight from it.
        const __m256i text = _mm256_shuffle_epi8(digits, Load256(masks.shuffles[2].data()));
        Store(out + 32, _mm256_extracti128_si256(_mm256_max_epu16(text, space), 1));
    }
    return out + length;
}

// What every block of the loop below uses, loaded once.
struct BlockConstants {
    // The three stretches of 16 characters of a block of bytes, each two of
    // the stretches of 8 of the SSSE3 layout.
    __m256i masks[3];
    __m256i highByte;
    __m256i space;
    __m256i fourZeroBytes;
    // 0x0F in every 16 bits: high bytes above it are those of units of four
    // digits.
    __m256i threeDigitsHigh;
};

// Writes the sixteen units of `block`; up to 8 characters past their text
// are overwritten with scratch (a group's last store of 16 or 8 characters
// runs at most 7 past a text of at least 12 or 17, a half's of 16 or 8 at
// most 8 past one of at least 24 or 34).
// Always inline: it is the body of the loop below, which the compiler
// otherwise may call instead once it grows.
UNIT_TEXT_AVX2 __attribute__((always_inline)) inline char16_t*
WriteBlockAvx2(char16_t* out, __m256i block, const BlockConstants& c) {
    if (_mm256_testz_si256(block, c.highByte)) {
        WriteSixteenBytesAvx2(out, block, c.masks, c.space);
        return out + 48;
    }
    const __m256i highBytes = _mm256_srli_epi16(block, 8);
    const __m256i four = _mm256_cmpgt_epi16(highBytes, c.threeDigitsHigh);
    // The high bytes of units of three digits, all others zero.
    const __m256i three = _mm256_andnot_si256(four, highBytes);
    if (_mm256_testz_si256(three, three)) {
        // Units of two and four digits only. Bits 0-7 of `wide` are the
        // widths of units 0-7, bits 16-23 those of units 8-15.
        const auto wide =
            static_cast<std::uint32_t>(_mm256_movemask_epi8(_mm256_packs_epi16(four, four)));
        if (wide == 0xFFFFFFFF) {
            // Four digits each, as in CJK: a fixed layout.
            __m256i digits[4];
            SixteenDigits(block, digits);
            for (const __m256i& group : digits) {
                out = WriteGroupAvx2(out, group, kGroupMasks[0xFF], c.space);
            }
            return out;
        }
        // Units 0-3 and 8-11 in the low 128 bits, 4-7 and 12-15 in the high,
        // so that the digits come as those of units 0-7 and 8-15.
        __m256i first;
        __m256i second;
        UnitDigits(_mm256_permute4x64_epi64(block, 0xD8), first, second);
        out = WriteHalfAvx2(out, first, wide & 0xFF, c.space);
        return WriteHalfAvx2(out, second, wide >> 16 & 0xFF, c.space);
    }
    const __m256i zeroBytes = ZeroWidthBytes(block);
    const std::uint32_t widths = GroupWidths(zeroBytes);
    __m256i digits[4];
    SixteenDigits(block, digits);
    if (widths == 0x55555555) {
        // Three digits each, as in most scripts but Latin and CJK.
        for (const __m256i& group : digits) {
            out = WriteGroupAvx2<false>(out, group, kGroupMasks[0x55], c.space);
        }
        return out;
    }
    if (!HasLongGroup(zeroBytes, c.fourZeroBytes)) {
        // No group needs more than one store, as with ASCII and a few other
        // units among it.
        for (int g = 0; g < 4; ++g) {
            out = WriteGroupAvx2<false>(out, digits[g], kGroupMasks[widths >> (8 * g) & 0xFF],
                                        c.space);
        }
    } else {
        for (int g = 0; g < 4; ++g) {
            out = WriteGroupAvx2(out, digits[g], kGroupMasks[widths >> (8 * g) & 0xFF], c.space);
        }
    }
    return out;
}

// The length of the text of the first `count` (below 16) units of `block`:
// three characters each, and one more for each bit of their widths.
UNIT_TEXT_AVX2 inline std::size_t FirstUnitsLength(__m256i block, std::size_t count) {
    const std::uint32_t widths = GroupWidths(ZeroWidthBytes(block));
    return 3 * count + static_cast<std::size_t>(
                           std::popcount(widths & ((std::uint32_t{1} << (2 * count)) - 1)));
}

// From this many units on, the text outgrows the first-level cache, where
// stores that straddle two cache lines cost more than writing the first few
// units one at a time to avoid them.
constexpr std::size_t kAlignFrom = 8192;

// Writes `blocks` blocks of sixteen units from `in`. `Ahead`: the text goes
// on past the caches, and fetching its lines ahead, for writing, saves
// waiting for each when its first store comes; a shorter text is in the
// caches already, and its loop goes without.
template <bool Ahead>
UNIT_TEXT_AVX2 inline char16_t* WriteBlocksAvx2(char16_t* out, const char16_t* in,
                                                std::size_t blocks, const BlockConstants& c) {
    // Counted down, for the shortest loop control.
    for (; blocks > 0; --blocks) {
        if constexpr (Ahead) {
            _mm_prefetch(reinterpret_cast<const char*>(out + 1024), _MM_HINT_ET0);
        }
        out = WriteBlockAvx2(out, Load256(in), c);
        in += 16;
    }
    return out;
}

UNIT_TEXT_AVX2 char16_t* WriteAvx2(char16_t* out, std::u16string_view units) {
    if (units.size() < 16) {
        return WriteEach(out, units);
    }
    const char16_t* in = units.data();
    const char16_t* const end = in + units.size();
    if (units.size() >= kAlignFrom) {
        // Units one at a time until the text reaches a 32-byte boundary (in
        // at most 16 units of two digits), so that a text of such units
        // goes on with stores that never straddle two cache lines.
        const char16_t* const stop = in + 15;
        while (in != stop && reinterpret_cast<std::uintptr_t>(out) % 32 != 0) {
            out = WriteEach(out, std::u16string_view(in++, 1));
        }
    }
    const BlockConstants c = {
        {Pair(kSpreadMasks, 0, 1), Pair(kSpreadMasks, 2, 0), Pair(kSpreadMasks, 1, 2)},
        _mm256_set1_epi16(static_cast<short>(0xFF00)),
        Kept(Load256(kSpaceChars.data())),
        Kept(Load256(kFourZeroBytes.data())),
        Kept(_mm256_set1_epi16(0x0F)),
    };
    const auto blocks = static_cast<std::size_t>(end - in) / 16;
    if (units.size() >= kAlignFrom) {
        out = WriteBlocksAvx2<true>(out, in, blocks, c);
    } else {
        out = WriteBlocksAvx2<false>(out, in, blocks, c);
    }
    in += 16 * blocks;
    if (in != end) {
        // The last sixteen units, some written already: they are written
        // again from where the first of them begins, with the same text.
        const __m256i block = Load256(end - 16);
        out -= FirstUnitsLength(block, static_cast<std::size_t>(16 - (end - in)));
        out = WriteBlockAvx2(out, block, c);
    }
    return out;
}

bool HasSsse3() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("ssse3");
}

bool HasAvx2() {
    __builtin_cpu_init();
    return __builtin_cpu_supports("avx2");
}

#endif

std::span<const Path> AllPaths() {
    static const Path paths[] = {
        {"portable", true, WritePortable},
#ifdef UNIT_TEXT_HAS_X86_PATHS
        {"ssse3", HasSsse3(), WriteSsse3},
        {"avx2", HasAvx2(), WriteAvx2},
#endif
    };
    return paths;
}

// The path in use; null until first asked for.
std::atomic<const Path*> current{nullptr};

const Path& Fastest() {
    const Path* best = nullptr;
    for (const Path& path : AllPaths()) {
        if (path.usable) {
            best = &path;
        }
    }
    return *best;
}

const Path& Chosen() {
    const Path* path = current.load(std::memory_order_relaxed);
    if (path == nullptr) {
        path = &Fastest();
        current.store(path, std::memory_order_relaxed);
    }
    return *path;
}

} // namespace

char16_t* WriteUnits(char16_t* out, std::u16string_view units) {
    return Chosen().write(out, units);
}

std::span<const Path> Paths() {
    return AllPaths();
}

const Path& Current() {
    return Chosen();
}

bool Use(std::string_view name) {
    for (const Path& path : AllPaths()) {
        if (path.usable && name == path.name) {
            current.store(&path, std::memory_order_relaxed);
            return true;
        }
    }
    return false;
}

} // namespace unit_text
