// libFuzzer target: any byte string, read as UTF-16 code units, must convert
// without fault and agree with the plain model on both the result text and
// the trimmed command handed back. The judged verdict must say the same, and
// an accepted command must come back out of its own message text through the
// reader, unless it holds what the reader refuses by design (a line feed or
// a lone surrogate); the raw bytes must exist exactly for valid MIDI.
#include "CodeUnits.h"
#include "ConvertCommand.h"
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

    const CommandVerdict verdict = JudgeCommand(typed);
    Check(verdict.command == expected.trimmed);
    Check(verdict.accepted == (result != Complaint(verdict.command)));
    if (!verdict.accepted) {
        return 0;
    }
    std::u16string read;
    Check(!message::Read(result, read) == ReaderCarries(command));
    Check(!ReaderCarries(command) || read == command);
    std::string bytes;
    Check(message::AppendBytes(command, bytes) == !message::FindNonDataValue(command));
    return 0;
}
