// vantrel-convert's listening side: --receive, which
// prints the System Exclusive messages that one MIDI source sends.
//
// Each complete message is printed as soon as it has arrived, one line to a
// message (ShowMessage, ReceivedMessage.h), and handed out at once. A
// message whose header is Vantrel's but that cannot be read (its length
// against its values), and under --decode a message that is not Vantrel's or
// whose command holds a line feed, gets an error naming it ("message 3: ...",
// counting System Exclusive messages from 1) and status 1; without --decode
// its hex is still written, but not its bytes under --syx. A message cut
// short is reported and never written, and so is a message that may span
// input that the back end reports lost. A loss is reported where it fell:
// "N bytes lost before message M" where the back end counts the bytes, and
// gives the run status 4. Other MIDI is ignored.
//
// The run ends after --count complete messages, when nothing has arrived for
// the --timeout (System Exclusive data counts as arriving; other MIDI does
// not, and every byte of a message past the longest counts too), when the
// source goes away, or when the user stops it. A run that the --timeout
// ends before --count messages came says so, with status 5.
#pragma once

#include "BufferedOutput.h"
#include "MidiInputs.h"
#include "Report.h"
#include "RunTypes.h"

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

namespace cli {

struct ReceiveRequest {
    std::string source; // --receive's PORT
    Mode mode = Mode::Text;
    std::optional<std::uint64_t> count;
    std::optional<std::chrono::milliseconds> timeout;
    bool escapeControls = false; // in decoded commands: standard output is a terminal
};

// Chooses and opens the source, says "vantrel-convert: listening to NAME" on
// `err` once connected, and prints what arrives until the run ends, or until
// `clock` tells of a stop request (Ctrl-C, SIGINT, SIGTERM: asked at least
// every 100 ms). Returns the exit status the run had, which a stop request's
// (130, 143) outranks: the caller applies that.
int Receive(midi_ports::Inputs& inputs, const ReceiveRequest& request, BufferedOutput& output,
            std::ostream& err, RunClock& clock);

} // namespace cli
