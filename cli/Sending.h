// vantrel-convert's MIDI side: --list-ports, and for --send the port, the
// pace of the messages (Pacer.h), the places of the messages still in
// flight and the final wait. The session decides what is sent (accepted
// commands whose message passes the data-byte check, or the messages of a
// .syx stream) and makes the bytes; this file finds the port, sends them as
// they are, and words what goes wrong.
#pragma once

#include "MidiPorts.h"
#include "Pacer.h"
#include "PortChoice.h"
#include "Report.h"

#include <cstddef>
#include <cstdint>
#include <deque>
#include <iosfwd>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Appends the ports of that kind (output ports, sources), one to a line as
// ListLine gives them, to `out`. With none, says so on `err`, naming the
// back ends that could not be reached. False when a back end's server missed
// its deadline (it is named on `err` then too).
bool ListPorts(midi_ports::PortLister& ports, const midi_ports::PortKind& kind, std::string& out,
               std::ostream& err);

// One open port for the messages of a run.
//
// Errors come back as whole texts naming the commands they concern, "line
// 4: cannot send to ...", or for a failure the back end noticed on its own,
// "lines 120-131: may be lost or doubled by an xrun". Any of them ends the
// run with kPortFailed.
class Sender {
  public:
    // Chooses the port `wanted` names among the ports there are and opens it.
    // When that fails the Sender sends nothing and Error() says why.
    Sender(midi_ports::Ports& ports, std::string_view wanted, Pacing pacing, RunClock& clock);

    const std::vector<std::string>& Error() const { return error_; }

    // Why a message was not handed on. A message longer than the port
    // carries whole is refused before anything is sent, and the run goes
    // on; every other failure ends it.
    struct Refusal {
        std::string what; // "line 4: cannot send to ..."
        bool halts = true;
    };

    // Sends `message`, a whole System Exclusive message (F0, data bytes,
    // F7), as it is, once the pace allows. Only for a Sender without an
    // Error(). A stop requested during the wait leaves the message unsent,
    // and says so.
    std::optional<Refusal> Send(std::span<const std::uint8_t> message, Place where);

    // A failure the back end noticed on its own since the last look, if any.
    // The run asks before each read of input.
    std::optional<std::string> Trouble();

    // Waits until the back end has handed every message on, then looks for
    // trouble once more. Nothing to do after a failure.
    std::optional<std::string> Finish();

  private:
    // "line 4", or "lines 120-131", for messages numbered from 0.
    std::string Places(std::size_t first, std::size_t last) const;
    std::optional<std::string> Failed(std::string error);

    std::string port_;
    std::vector<std::string> error_;
    std::unique_ptr<midi_ports::Output> output_;
    Pacer pacer_;
    const char* kind_ = "line"; // of the places, all of one kind in a run
    // The places of the latest messages, which any in flight are among:
    // numbers_[i] is that of message `firstKept_ + i`.
    std::deque<std::size_t> numbers_;
    std::size_t firstKept_ = 0;
    bool failed_ = false;
};
