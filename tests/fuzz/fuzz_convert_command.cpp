// libFuzzer target: any byte string, read as UTF-16 code units, must convert
// without fault and agree with the plain model on both the result text and
// the trimmed command handed back. Given in pieces (of a size the first byte
// chooses), it must give the same text in UTF-16 and, in UTF-8, what that
// text encodes to. The judged verdict must say the same, and an accepted
// command must come back out of its own message text through the reader,
// unless it holds what the reader refuses by design (a line feed or a lone
// surrogate); the raw bytes must exist exactly for valid MIDI.
#include "CodeUnits.h"
#include "ConvertCommand.h"
#include "InPieces.h"
#include "Message.h"
#include "ReferenceConversion.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

bool ReaderCarries(std::u16string_view command) {
    for (std::size_t i = 0; i < command.size(); ++i) {
        const char16_t unit = command[i];
        if (unit == u'\n') {
            return false;
        }
        if (code_units::IsHighSurrogate(unit)) {
            if (i + 1 == command.size() || !code_units::IsLowSurrogate(command[i + 1])) {
                return false;
            }
            ++i;
        } else if (code_units::IsLowSurrogate(unit)) {
            return false;
        }
    }
    return true;
}

void Check(bool condition) {
    if (!condition) {
        std::abort();
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    std::u16string typed(size / 2, u'\0');
    std::memcpy(typed.data(), data, typed.size() * sizeof(char16_t));

    const reference::Outcome expected = reference::Convert(typed);
    std::u16string command = typed;
    const std::u16string result = ConvertCommand(command);
    Check(result == expected.result && command == expected.trimmed);

    const std::size_t pieceSize = size == 0 ? 1 : 1 + data[0] % 16;
    Check(ConvertInPieces<char16_t>(std::u16string_view(typed), pieceSize) == result);
    Check(ConvertInPieces<char>(std::u16string_view(typed), pieceSize) == ToUtf8(result));

    const CommandVerdict verdict = JudgeCommand(typed);
    Check(verdict.command == expected.trimmed);
    Check(verdict.accepted == result.starts_with(u"F0 "));
    if (!verdict.accepted) {
        return 0;
    }
    std::u16string read;
    Check(!message::Read(result, read) == ReaderCarries(command));
    Check(!ReaderCarries(command) || read == command);
    std::string bytes;
    const conversion::HeldPieces pieces{std::u16string_view(command), pieceSize};
    Check(conversion::AppendBytes(pieces, conversion::AcceptedWhole(command.size()), bytes) ==
          !message::FindNonDataValue(command));
    return 0;
}
