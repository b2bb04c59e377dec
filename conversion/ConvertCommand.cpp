// The command conversion. Written for long commands as much as short ones:
// the result is sized exactly in one counting pass and then written in one
// pass through a table, so a command of a million units costs little more
// than allocating its result.
#include "ConvertCommand.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string_view>

namespace {

constexpr std::u16string_view kKeyword = u"set ";
constexpr std::u16string_view kHeader = u"F0 00 00 40 02 00 00 61 ";
constexpr std::u16string_view kTrailer = u"F7";
constexpr std::u16string_view kComplaintEnd = u"\" does not start with \"set \"";
constexpr char16_t kHexDigits[] = u"0123456789abcdef";

// For every value below 0x100, its text "hh " as three UTF-16 units in the
// low 48 bits of a word, first unit lowest. The fast path of the message
// loop combines four of these into three 8-byte stores.
constexpr std::array<std::uint64_t, 256> MakeByteWords() {
    std::array<std::uint64_t, 256> words{};
    for (std::size_t v = 0; v < words.size(); ++v) {
        words[v] = std::uint64_t{kHexDigits[v >> 4]} | std::uint64_t{kHexDigits[v & 0xF]} << 16 |
                   std::uint64_t{u' '} << 32;
    }
    return words;
}
constexpr std::array<std::uint64_t, 256> kByteWords = MakeByteWords();

// Number of digits a computed value is written with: at least two, and as
// many more as the value needs.
template <typename Unsigned> constexpr std::size_t HexWidth(Unsigned value) {
    std::size_t width = 2;
    for (value >>= 8; value != 0; value >>= 4) {
        ++width;
    }
    return width;
}

// Writes `value` in exactly `width` lower-case digits and returns the end.
template <typename Unsigned> char16_t* WriteHex(char16_t* out, Unsigned value, std::size_t width) {
    for (std::size_t i = width; i-- > 0;) {
        out[i] = kHexDigits[value & 0xF];
        value >>= 4;
    }
    return out + width;
}

constexpr char16_t FoldAsciiLetter(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

bool StartsWithKeyword(std::u16string_view command) {
    if (command.size() < kKeyword.size()) {
        return false;
    }
    for (std::size_t i = 0; i < kKeyword.size(); ++i) {
        if (FoldAsciiLetter(command[i]) != kKeyword[i]) {
            return false;
        }
    }
    return true;
}

void Trim(std::u16string& command) {
    std::size_t first = 0;
    std::size_t last = command.size();
    while (first < last && IsCommandWhiteSpace(command[first])) {
        ++first;
    }
    while (last > first && IsCommandWhiteSpace(command[last - 1])) {
        --last;
    }
    command.erase(last);
    command.erase(0, first);
}

std::u16string Complaint(std::u16string_view command) {
    std::u16string result;
    result.reserve(1 + command.size() + kComplaintEnd.size());
    result += u'"';
    result += command;
    result += kComplaintEnd;
    return result;
}

inline void StoreWord(char16_t* out, std::uint64_t word) {
    std::memcpy(out, &word, sizeof word);
}

// Writes "hh " (or "hhh ", "hhhh ") for one unit and returns the end.
// Values below 0x100 use the table word, whose spare unit the next text or
// the trailer overwrites.
char16_t* WriteUnit(char16_t* out, char16_t unit) {
    if (unit < 0x100) {
        StoreWord(out, kByteWords[unit]);
        return out + 3;
    }
    out = WriteHex(out, unit, unit < 0x1000 ? 3 : 4);
    *out++ = u' ';
    return out;
}

// Writes the texts of all units of `units`. Runs of four units below 0x100,
// by far the usual case, are written as three 8-byte words; the words are
// assembled little-endian, so other machines take the unit-by-unit path.
char16_t* WriteUnits(char16_t* out, std::u16string_view units) {
    const char16_t* in = units.data();
    const char16_t* const end = in + units.size();
    if constexpr (std::endian::native == std::endian::little) {
        for (; end - in >= 4; in += 4) {
            std::uint64_t four;
            std::memcpy(&four, in, sizeof four);
            if ((four & 0xFF00FF00FF00FF00u) != 0) {
                for (int i = 0; i < 4; ++i) {
                    out = WriteUnit(out, in[i]);
                }
                continue;
            }
            // Each word also writes one spare unit past its text, which the
            // next word (or, at the end, the trailer) overwrites.
            StoreWord(out, kByteWords[four & 0xFF]);
            StoreWord(out + 3, kByteWords[(four >> 16) & 0xFF]);
            StoreWord(out + 6, kByteWords[(four >> 32) & 0xFF]);
            StoreWord(out + 9, kByteWords[(four >> 48) & 0xFF]);
            out += 12;
        }
    }
    for (; in != end; ++in) {
        out = WriteUnit(out, *in);
    }
    return out;
}

// Units of 0x100 and above take three or four digits instead of two; this
// counts the digits beyond two. Counting runs in blocks with 16-bit counters
// (at most 2 per unit, so a block of 16384 cannot overflow one), which lets
// the compiler count eight units per vector step.
std::size_t CountExtraDigits(std::u16string_view units) {
    constexpr std::size_t kBlock = 16384;
    std::size_t total = 0;
    for (std::size_t start = 0; start < units.size(); start += kBlock) {
        const std::u16string_view block = units.substr(start, kBlock);
        std::uint16_t count = 0;
        for (char16_t unit : block) {
            count = static_cast<std::uint16_t>(count + (unit >= 0x100) + (unit >= 0x1000));
        }
        total += count;
    }
    return total;
}

std::u16string Message(std::u16string_view command) {
    const std::size_t length = command.size();

    const std::size_t extraDigits = CountExtraDigits(command);
    const std::size_t lengthWidth = HexWidth(length);
    const std::size_t total =
        kHeader.size() + lengthWidth + 1 + 3 * length + extraDigits + kTrailer.size();

    auto write = [&](char16_t* out, std::size_t) {
        out = std::copy(kHeader.begin(), kHeader.end(), out);
        out = WriteHex(out, length, lengthWidth);
        *out++ = u' ';
        out = WriteUnits(out, command);
        std::copy(kTrailer.begin(), kTrailer.end(), out);
        return total;
    };
    std::u16string result;
#ifdef __cpp_lib_string_resize_and_overwrite
    // Every unit is written, so the usual zero fill would be wasted work.
    result.resize_and_overwrite(total, write);
#else
    result.resize(total);
    write(result.data(), total);
#endif
    return result;
}

} // namespace

bool IsCommandWhiteSpace(char16_t unit) noexcept {
    if (unit <= 0x20) {
        return unit == 0x20 || (unit >= 0x09 && unit <= 0x0D);
    }
    if (unit < 0x85) {
        return false;
    }
    switch (unit) {
    case 0x0085: // next line
    case 0x00A0: // no-break space
    case 0x1680: // Ogham space mark
    case 0x2028: // line separator
    case 0x2029: // paragraph separator
    case 0x202F: // narrow no-break space
    case 0x205F: // medium mathematical space
    case 0x3000: // ideographic space
        return true;
    default:
        return unit >= 0x2000 && unit <= 0x200A; // en quad to hair space
    }
}

std::u16string ConvertCommand(std::u16string& command) {
    Trim(command);
    return StartsWithKeyword(command) ? Message(command) : Complaint(command);
}
