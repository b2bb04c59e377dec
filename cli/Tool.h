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
// with the input; so does a line too long for the memory there is. Every
// answer is handed out before the tool waits for more input, and the first
// write that fails ends the run with kBadInput, reading no further.
//
// With --syx and --decode or --send, the input is a .syx stream instead:
// raw bytes, any number of System Exclusive messages, with or without
// bytes between them. --decode prints each message's command; --send sends
// each message as it stands. Either way a message that is not whole is
// named (status 2) and the rest still go.
//
// With --send, each accepted command whose message passes the data-byte
// check is also sent to a MIDI output port (see Sending.h), at the pace of
// --rate and --interval (Pacer.h); the port is found and opened before any
// input is read, and each answer is handed out as its message is handed on.
// A stop request (Interrupt.h) ends the reading at once; what was sent is
// still waited for, and the run returns the status of the request.
// --receive reads no input: it prints what a MIDI source sends (see
// Receiving.h).
#pragma once

#include "FileIdentity.h"
#include "Report.h"
#include "RunTypes.h"

#include <cstddef>
#include <iosfwd>
#include <optional>
#include <vector>

namespace midi_ports {
class Inputs;
class Ports;
} // namespace midi_ports

namespace cli {

// Lines of standard input longer than this many bytes are converted piece
// by piece (see Session.h).
inline constexpr std::size_t kPieceBytes = 64 * 1024;

// What a run reaches besides its streams; each has a default.
struct ToolReach {
    // MIDI output ports for --list-ports and --send; none without.
    midi_ports::Ports* ports = nullptr;
    // MIDI sources for --list-inputs and --receive; none without.
    midi_ports::Inputs* inputs = nullptr;
    // The clock for the pace of --send, the waits of --receive and stop
    // requests (Pacer.h); without one, the system's, which does not watch
    // standard input.
    RunClock* clock = nullptr;
    // Lines longer than this go piece by piece (see Session.h); tests make
    // it small so that short lines take that path too.
    std::size_t pieceBytes = kPieceBytes;
    // Standard output is a terminal: decoded commands are written with
    // their control characters escaped. (--output's file is asked itself.)
    bool outputIsTerminal = false;
    // The file standard input reads, when it is one: --output may not name it.
    std::optional<FileIdentity> standardInput{};
};

// Runs vantrel-convert with `arguments` (the program name not included) and
// returns its exit status. Results go to `out`, errors to `err`, unless
// --input and --output name files.
int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, const ToolReach& reach = {});

} // namespace cli
