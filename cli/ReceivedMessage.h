// How vantrel-convert shows a whole System Exclusive message that came from
// a MIDI source or from a .syx stream: --receive prints it so, --decode
// --syx prints it so, and --send --syx answers with the same line.
//
//   - a Vantrel message as vantrel-convert prints the message for its
//     command, so a round trip compares equal to what the sender printed;
//     with --decode, the command instead;
//   - any other message as upper-case hex values separated by spaces,
//     "F0 7E 7F 06 01 F7";
//   - with --syx, every message as its bytes, except one whose header is
//     Vantrel's but that cannot be read, which would carry its fault into
//     the file.
#pragma once

#include "RunTypes.h"
#include "SysexAssembler.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace cli {

// Appends what `mode` shows of `message` (F0 ... F7) to `out`: a line, or
// the bytes for Mode::Syx, or nothing when the message cannot be shown as
// asked. Returns why not, or why a message whose header is Vantrel's cannot
// be read, for an error naming the message (status kNotShown):
// "not a Vantrel message: ...", "cannot be read as a Vantrel message: ...".
// With `escapeControls`, a decoded command's control characters are escaped
// (standard output is a terminal).
std::optional<std::string> ShowMessage(std::span<const std::uint8_t> message, Mode mode,
                                       bool escapeControls, std::string& out);

// Why the message that `assembler` just cut is not whole: "cut short: status
// byte 90 came before F7", "cut short: longer than 1048576 bytes".
std::string DescribeCut(const midi_ports::SysexAssembler& assembler);
// The same for a message cut by the status byte `by`, or (0) for its length.
std::string DescribeCut(std::uint8_t by);

} // namespace cli
