// vantrel-convert's listening side: --list-inputs, and --receive, which
// prints the System Exclusive messages that one MIDI source sends.
//
// Each complete message is printed as soon as it has arrived, one line to a
// message, and handed out at once:
//   - a Vantrel message as vantrel-convert prints the message for its
//     command (message::Text), so a round trip compares equal to what the
//     sender printed; with --decode, the command instead;
//   - any other message as upper-case hex values separated by spaces,
//     "F0 7E 7F 06 01 F7";
//   - with --syx, every message as the bytes that came.
// A message whose header is Vantrel's but that cannot be read (its length
// against its values), and under --decode a message that is not Vantrel's or
// whose command holds a line feed, gets an error naming it ("message 3: ...",
// counting System Exclusive messages from 1) and status 1; without --decode
// its hex or bytes are still written. A message cut short is reported and
// never written. Other MIDI is ignored.
//
// The run ends after --count complete messages, when nothing has arrived for
// the --timeout (System Exclusive data counts as arriving; other MIDI does
// not), when the source goes away, or when the user stops it.
#pragma once

#include "MidiInputs.h"
#include "Output.h"
#include "Pacer.h"
#include "Session.h"

#include <chrono>
#include <cstdint>
#include <iosfwd>
#include <optional>
#include <string>

struct ReceiveRequest {
    std::string source; // --receive's PORT
    Mode mode = Mode::Text;
    std::optional<std::uint64_t> count;
    std::optional<std::chrono::milliseconds> timeout;
};

// Appends the sources, one full name to a line, to `out`. With none, says so
// on `err`, naming the back ends that could not be reached. False when a
// back end's server missed its deadline (it is named on `err` then too).
bool ListInputs(midi_ports::Inputs& inputs, std::string& out, std::ostream& err);

// Chooses and opens the source, says "vantrel-convert: listening to NAME" on
// `err` once connected, and prints what arrives until the run ends, or until
// `clock` tells of a stop request (Ctrl-C, SIGINT, SIGTERM: asked at least
// every 100 ms). Returns the exit status, the stop request's (130, 143) above
// all others.
int Receive(midi_ports::Inputs& inputs, const ReceiveRequest& request, Output& output,
            std::ostream& err, RunClock& clock);
