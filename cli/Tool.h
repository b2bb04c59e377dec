// vantrel-convert as a function over streams, so that everything but the
// reading of the real command line and the setting of standard streams to
// binary is tested in-process.
//
// Commands come from the arguments or, when there are none, from `in` one
// line at a time: lines end at LF, a CR just before the end of a line is
// part of the line end, and a UTF-8 byte order mark at the very start of the
// input is skipped. Every command gives one line of output (except with
// --syx, which writes raw messages): the result text of ConvertCommand, or
// for --decode the command a message carries. A line that cannot be
// processed (invalid UTF-8, or a malformed message for --decode) gives an
// empty output line and an error on `err`, so the output stays line for line
// with the input. Output is written line by line as the input is read.
//
// With --send, each accepted command whose message passes the data-byte
// check is also sent to a MIDI output port (see Sending.h); the port is
// found and opened before any input is read.
#pragma once

#include "Utf8.h"

#include <iosfwd>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Exit statuses. When several apply, the highest in this order wins:
// kBadInput, then kPortFailed, then kNotData, then kRefused.
inline constexpr int kAllAccepted = 0;
inline constexpr int kRefused = 1;    // a command does not start with "set "
inline constexpr int kBadInput = 2;   // invalid UTF-8, bad usage, malformed message
inline constexpr int kNotData = 3;    // --check or --syx: a value is not a data byte
inline constexpr int kPortFailed = 4; // --send: no such port, or opening or sending failed

// One command-line argument as UTF-16 code units. On Windows these come
// straight from the UTF-16 command line; elsewhere from UTF-8 bytes, which
// may be ill-formed.
struct Argument {
    std::u16string units;
    std::optional<Utf8Error> invalid;
};

Argument ArgumentFromUtf8(std::string_view bytes);

namespace midi_ports {
class Ports;
}

// Runs vantrel-convert with `arguments` (the program name not included) and
// returns its exit status. Results go to `out`, errors to `err`; --list-ports
// and --send reach MIDI output ports through `ports`.
int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, midi_ports::Ports& ports);

// The same with no MIDI output ports at all.
int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err);
