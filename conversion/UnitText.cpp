// Writing code units as message text. Units below 0x100, by far the usual
// case, come from a table of their texts; on x86 processors with SSSE3, runs
// of sixteen such units are converted with vector shuffles, which keeps a
// command of a million units close to the cost of merely filling its result.
#include "UnitText.h"

#include "HexText.h"

#include <array>
#include <cstdint>
#include <cstring>

#if (defined(__GNUC__) || defined(__clang__)) && (defined(__x86_64__) || defined(__i386__))
#include <immintrin.h>
#define UNIT_TEXT_HAS_SSSE3_PATH 1
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

#ifdef UNIT_TEXT_HAS_SSSE3_PATH

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

__attribute__((target("ssse3"))) void
Store24(char16_t* out, __m128i digitPairs, const __m128i (&masks)[3], const __m128i (&spaces)[3]) {
    for (int k = 0; k < 3; ++k) {
        const __m128i text = _mm_or_si128(_mm_shuffle_epi8(digitPairs, masks[k]), spaces[k]);
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + 8 * k), text);
    }
}

__attribute__((target("ssse3"))) char16_t* WriteUnitsSsse3(char16_t* out, const char16_t* in,
                                                           const char16_t* end) {
    const __m128i zero = _mm_setzero_si128();
    const __m128i lowNibble = _mm_set1_epi8(0x0F);
    const __m128i digits = _mm_loadu_si128(reinterpret_cast<const __m128i*>(u8"0123456789abcdef"));
    __m128i masks[3];
    __m128i spaces[3];
    for (std::size_t k = 0; k < 3; ++k) {
        masks[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSpreadMasks[k].data()));
        spaces[k] = _mm_loadu_si128(reinterpret_cast<const __m128i*>(kSpaces[k].data()));
    }
    while (end - in >= 16) {
        const __m128i first = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in));
        const __m128i second = _mm_loadu_si128(reinterpret_cast<const __m128i*>(in + 8));
        const __m128i highBytes = _mm_or_si128(_mm_srli_epi16(first, 8), _mm_srli_epi16(second, 8));
        if (_mm_movemask_epi8(_mm_cmpeq_epi8(highBytes, zero)) != 0xFFFF) {
            // A unit of 0x100 or above: these sixteen go one by one.
            out = WriteEach(out, in, in + 16);
            in += 16;
            continue;
        }
        const __m128i bytes = _mm_packus_epi16(first, second);
        const __m128i high = _mm_and_si128(_mm_srli_epi16(bytes, 4), lowNibble);
        const __m128i low = _mm_and_si128(bytes, lowNibble);
        const __m128i highDigits = _mm_shuffle_epi8(digits, high);
        const __m128i lowDigits = _mm_shuffle_epi8(digits, low);
        Store24(out, _mm_unpacklo_epi8(highDigits, lowDigits), masks, spaces);
        Store24(out + 24, _mm_unpackhi_epi8(highDigits, lowDigits), masks, spaces);
        out += 48;
        in += 16;
    }
    return WriteEach(out, in, end);
}

bool HasSsse3() {
    static const bool has = __builtin_cpu_supports("ssse3");
    return has;
}

#endif

} // namespace

std::size_t Length(std::u16string_view units) {
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

char16_t* WriteUnits(char16_t* out, std::u16string_view units) {
    const char16_t* in = units.data();
    const char16_t* end = in + units.size();
#ifdef UNIT_TEXT_HAS_SSSE3_PATH
    if (HasSsse3()) {
        return WriteUnitsSsse3(out, in, end);
    }
#endif
    return WriteEach(out, in, end);
}

} // namespace unit_text
