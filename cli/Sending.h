// vantrel-convert's MIDI side: --list-ports, and for --send the port, the
// interval between messages and the final wait. The session decides what is
// sent (accepted commands whose message passes the data-byte check); this
// file finds the port, sends, and words what goes wrong.
#pragma once

#include "MidiPorts.h"

#include <chrono>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Appends the output ports, one full name to a line, to `out`. With none,
// says so on `err`, naming the back ends that could not be reached.
void ListPorts(midi_ports::Ports& ports, std::string& out, std::ostream& err);

// Writes an error of one or more lines to `err`: "vantrel-convert: " and the
// first line, then the others as they are, control characters escaped in
// each.
void WriteError(std::ostream& err, const std::vector<std::string>& lines);

// One open port for the messages of a run.
class Sender {
  public:
    // Chooses the port `wanted` names among the ports there are and opens it.
    // When that fails the Sender sends nothing and Error() says why.
    Sender(midi_ports::Ports& ports, std::string_view wanted, std::chrono::milliseconds interval);

    const std::vector<std::string>& Error() const { return error_; }

    // Sends the message that carries `command`, an accepted and trimmed
    // command whose message is valid MIDI; waits the interval first unless
    // it is the first message. Only for a Sender without an Error().
    std::optional<std::string> Send(std::u16string_view command);

    // Waits until the back end has handed every message on.
    std::optional<std::string> Finish();

    // A failure the back end noticed on its own; messages numbered from 0.
    std::optional<midi_ports::SendFailure> Trouble() { return output_->Trouble(); }

  private:
    std::string port_;
    std::vector<std::string> error_;
    std::unique_ptr<midi_ports::Output> output_;
    std::chrono::milliseconds interval_;
    bool sentOne_ = false;
    std::string bytes_;
};
