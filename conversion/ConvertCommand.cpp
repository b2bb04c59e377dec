// The command conversion. Written for long commands as much as short ones:
// the result is sized exactly in one counting pass and then written in one
// pass (see UnitText.h), so a command of a million units costs little more
// than allocating its result.
#include "ConvertCommand.h"

#include "HexText.h"
#include "UnitText.h"

#include <algorithm>
#include <cstddef>
#include <string_view>

namespace {

constexpr std::u16string_view kKeyword = u"set ";
constexpr std::u16string_view kHeader = u"F0 00 00 40 02 00 00 61 ";
constexpr std::u16string_view kTrailer = u"F7";
constexpr std::u16string_view kComplaintEnd = u"\" does not start with \"set \"";

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

std::u16string Message(std::u16string_view command) {
    const std::size_t length = command.size();

    const std::size_t lengthWidth = hex_text::Width(length);
    const std::size_t total =
        kHeader.size() + lengthWidth + 1 + unit_text::Length(command) + kTrailer.size();

    auto write = [&](char16_t* out, std::size_t) {
        out = std::copy(kHeader.begin(), kHeader.end(), out);
        out = hex_text::Write(out, length, lengthWidth);
        *out++ = u' ';
        out = unit_text::WriteUnits(out, command);
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
