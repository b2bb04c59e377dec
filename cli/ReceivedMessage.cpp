// Showing a whole System Exclusive message; see ReceivedMessage.h.
#include "ReceivedMessage.h"

#include "Conversion.h"
#include "Escapes.h"
#include "HexText.h"
#include "Message.h"
#include "MessageErrors.h"
#include "Utf8.h"

namespace cli {

std::optional<std::string> ShowMessage(std::span<const std::uint8_t> message, Mode mode,
                                       bool escapeControls, std::string& out) {
    using Kind = message::ReadProblem::Kind;
    const bool decoding = mode == Mode::Decode;
    std::u16string command;
    const auto problem = message::ReadValues(message, command);
    const bool foreign = problem && problem->kind == Kind::HeaderMismatch;
    // A line feed in the command keeps only --decode from printing it.
    const bool readable = !problem || (problem->kind == Kind::LineFeed && !decoding);
    std::optional<std::string> why;
    if (!readable && (!foreign || decoding)) {
        why = (foreign ? "not a Vantrel message: " : "cannot be read as a Vantrel message: ") +
              DescribeReadProblem(*problem, {});
    }
    if (mode == Mode::Syx) {
        if (readable || foreign) {
            out.append(message.begin(), message.end());
        }
    } else if (decoding) {
        if (readable) {
            if (escapeControls) {
                AppendControlsEscaped(ToUtf8(command), out);
            } else {
                AppendUtf8(command, out);
            }
            out += '\n';
        }
    } else if (readable && message.size() > message::kFirstUnitPosition + 1) {
        // Written by the conversion's own writer, so that the line equals
        // the sender's: the command read, or with a line feed, which the
        // reader refuses, the units as they came (one byte each).
        if (problem) {
            command.assign(message.begin() + message::kFirstUnitPosition, message.end() - 1);
        }
        conversion::StringSink<char> sink{out};
        conversion::WriteMessage(sink, conversion::HeldPieces{std::u16string_view(command)},
                                 conversion::AcceptedWhole(command.size()));
        out += '\n';
    } else {
        hex_text::AppendUpper(message, out);
        out += '\n';
    }
    return why;
}

std::string DescribeCut(const midi_ports::SysexAssembler& assembler) {
    return DescribeCut(assembler.CutBy());
}

std::string DescribeCut(std::uint8_t by) {
    return by != 0 ? "cut short: status byte " + hex_text::Narrow(by) + " came before F7"
                   : "cut short: longer than " +
                         std::to_string(midi_ports::SysexAssembler::kLongest) + " bytes";
}

} // namespace cli
