// The command conversion: judging a command and answering it with the
// message text (Message.h) or the complaint.
#include "ConvertCommand.h"

#include "Message.h"

#include <cstddef>

namespace {

constexpr std::u16string_view kKeyword = u"set ";

constexpr char16_t FoldAsciiLetter(char16_t unit) {
    return (unit >= u'A' && unit <= u'Z') ? static_cast<char16_t>(unit + (u'a' - u'A')) : unit;
}

std::u16string_view Trimmed(std::u16string_view text) {
    std::size_t first = 0;
    std::size_t last = text.size();
    while (first < last && IsCommandWhiteSpace(text[first])) {
        ++first;
    }
    while (last > first && IsCommandWhiteSpace(text[last - 1])) {
        --last;
    }
    return text.substr(first, last - first);
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

bool StartsWithKeyword(std::u16string_view command) noexcept {
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

CommandVerdict JudgeCommand(std::u16string_view typed) noexcept {
    const std::u16string_view command = Trimmed(typed);
    return {command, StartsWithKeyword(command)};
}

std::u16string Complaint(std::u16string_view command) {
    std::u16string result;
    result.reserve(kComplaintBefore.size() + command.size() + kComplaintAfter.size());
    result += kComplaintBefore;
    result += command;
    result += kComplaintAfter;
    return result;
}

std::u16string ConvertCommand(std::u16string& command) {
    const CommandVerdict verdict = JudgeCommand(command);
    // Trim in place: the view is within `command`, so cut the end first.
    const auto first = static_cast<std::size_t>(verdict.command.data() - command.data());
    command.erase(first + verdict.command.size());
    command.erase(0, first);
    return verdict.accepted ? message::Text(command) : Complaint(command);
}
