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

namespace cli {

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
//
// Where the back end can take sending up again after an xrun (JACK), the
// Sender goes back instead: it keeps the bytes of every message not yet
// confirmed, and sends again, through the pace, the first of them and
// every later one, in order. A Vantrel message sets a value, so a second
// copy does no harm, and sending the later ones again too keeps the last
// value of each setting the input's. A message of someone else's (from a
// .syx stream) is not sent again but named as maybe lost or doubled. Each
// go-back is said on `info` ("lines 305-374 sent again after an xrun"); after
// kGoBacksWithoutProgress in a row that confirm nothing more, the xrun
// ends the run as any failure does.
class Sender {
  public:
    // Chooses the port `wanted` names among the ports there are and opens it.
    // When that fails the Sender sends nothing and Error() says why.
    Sender(midi_ports::Ports& ports, std::string_view wanted, Pacing pacing, RunClock& clock,
           std::ostream& info);

    static constexpr int kGoBacksWithoutProgress = 3;

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

    // Whether a message is one that may be sent twice: a Vantrel message.
    static bool MaySendAgain(std::span<const std::uint8_t> message);

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
    // Hands a message on and keeps it; the refusal when the back end fails.
    std::optional<std::string> HandOn(std::size_t number, std::span<const std::uint8_t> message,
                                      const std::string& place);
    // Goes back after `failure`, or gives the error that ends the run.
    std::optional<std::string> GoBack(const midi_ports::SendFailure& failure);
    // Takes every failure the back end noticed, going back after each it
    // can (then `wentBack` is set); the error that ends the run, if any.
    std::optional<std::string> TakeTrouble(bool& wentBack);

    // A message handed on, by the back end's count from 0: the place it
    // came from and, while it is not confirmed, its bytes.
    struct Handed {
        std::size_t number;
        std::vector<std::uint8_t> bytes;
    };

    std::string port_;
    std::vector<std::string> error_;
    std::unique_ptr<midi_ports::OutputPort> output_;
    Pacer pacer_;
    std::ostream& info_;
    const char* kind_ = "line"; // of the places, all of one kind in a run
    // The latest messages, which any in flight are among: handed_[i] is
    // message `firstKept_ + i`.
    std::deque<Handed> handed_;
    std::size_t firstKept_ = 0;
    std::size_t lastGoBack_ = 0; // where the last go-back started
    int goBacks_ = 0;            // in a row from there or before
    bool failed_ = false;
};

} // namespace cli
