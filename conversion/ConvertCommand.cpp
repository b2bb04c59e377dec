// The command conversion for a command held whole: one piece.
#include "ConvertCommand.h"

CommandVerdict JudgeCommand(std::u16string_view typed) noexcept {
    const conversion::CommandShape shape = conversion::Scan(conversion::HeldPieces{typed});
    return {typed.substr(shape.first, shape.length), shape.accepted};
}

// Flattened: the dialog converts short commands as a rule, and calls into
// the generic parts would cost it more than the conversion itself.
[[gnu::flatten]] std::u16string ConvertCommand(std::u16string& command) {
    const conversion::CommandShape shape =
        conversion::Scan(conversion::HeldPieces{std::u16string_view(command)});
    // Trim in place: cut the end first, so that `first` still counts from
    // the start.
    command.erase(shape.first + shape.length);
    command.erase(0, shape.first);
    const conversion::HeldPieces trimmed{std::u16string_view(command)};
    const conversion::CommandShape whole{0, shape.length, shape.accepted};
    std::u16string result;
    conversion::StringSink<char16_t> sink{result};
    if (shape.accepted) {
        conversion::WriteMessage(sink, trimmed, whole);
    } else {
        conversion::WriteComplaint(sink, trimmed, whole);
    }
    return result;
}
