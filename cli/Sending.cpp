// Listing ports, and sending to one; see Sending.h.
#include "Sending.h"

#include "Escapes.h"
#include "PortChoice.h"

#include <ostream>
#include <span>

namespace {

// How many messages' places are kept: far more than any back end holds in
// flight (JACK's queue of 64 KiB holds fewer than 4,000).
constexpr std::size_t kPlacesKept = 1 << 16;

} // namespace

bool ListPorts(midi_ports::PortLister& ports, const midi_ports::PortKind& kind, std::string& out,
               std::ostream& err) {
    midi_ports::PortList list;
    ports.List(list);
    // A device or client chooses its own name: its control characters
    // are escaped, wherever the listing goes.
    for (const midi_ports::Port& port : list.ports) {
        AppendControlsEscaped(midi_ports::ListLine(port), out);
        out += '\n';
    }
    if (list.ports.empty()) {
        WriteError(err, midi_ports::DescribeNoPorts(list, kind));
    } else if (list.late) {
        WriteError(err, list.unreachable);
    }
    return !list.late;
}

Sender::Sender(midi_ports::Ports& ports, std::string_view wanted, Pacing pacing, RunClock& clock)
    : pacer_(pacing, clock) {
    midi_ports::PortList list;
    ports.List(list);
    midi_ports::PortChoice choice = midi_ports::ChoosePort(list, wanted);
    if (!choice.port) {
        error_ = std::move(choice.error);
        return;
    }
    port_ = choice.port->name;
    midi_ports::Opened opened = ports.Open(*choice.port);
    if (opened.output == nullptr) {
        error_ = {"cannot open " + midi_ports::ListLine(*choice.port) + ": " + opened.error};
        return;
    }
    output_ = std::move(opened.output);
}

std::optional<Sender::Refusal> Sender::Send(std::span<const std::uint8_t> message, Place where) {
    const std::string place = std::string(where.kind) + " " + std::to_string(where.number);
    if (const std::size_t most = output_->MaxMessageBytes(); message.size() > most) {
        return Refusal{place + ": not sent: the message of " + std::to_string(message.size()) +
                           " bytes is longer than the " + std::to_string(most) + " that " + port_ +
                           " carries whole",
                       false};
    }
    if (!pacer_.Start(message.size())) {
        return Refusal{place + ": not sent: the run was interrupted"};
    }
    if (auto error = output_->Send(message)) {
        return Refusal{*Failed(place + ": cannot send to " + port_ + ": " + *error)};
    }
    kind_ = where.kind;
    numbers_.push_back(where.number);
    if (numbers_.size() > kPlacesKept) {
        numbers_.pop_front();
        ++firstKept_;
    }
    return std::nullopt;
}

std::optional<std::string> Sender::Trouble() {
    if (failed_) {
        return std::nullopt;
    }
    const std::optional<midi_ports::SendFailure> trouble = output_->Trouble();
    if (!trouble) {
        return std::nullopt;
    }
    return Failed(Places(trouble->first, trouble->last) + ": " + trouble->what);
}

std::optional<std::string> Sender::Finish() {
    if (failed_) {
        return std::nullopt;
    }
    if (auto error = output_->Finish()) {
        return Failed("cannot send to " + port_ + ": " + *error);
    }
    return Trouble();
}

std::optional<std::string> Sender::Failed(std::string error) {
    failed_ = true;
    return error;
}

std::string Sender::Places(std::size_t first, std::size_t last) const {
    // The number of a message, or nothing when it is not (or no longer) known.
    auto number = [this](std::size_t message) -> std::optional<std::size_t> {
        if (message < firstKept_ || message - firstKept_ >= numbers_.size()) {
            return std::nullopt;
        }
        return numbers_[message - firstKept_];
    };
    const auto from = number(first);
    const auto to = number(last);
    const std::string kind = kind_;
    if (from && to && *from == *to) {
        return kind + " " + std::to_string(*from);
    }
    if (from && to) {
        return kind + "s " + std::to_string(*from) + "-" + std::to_string(*to);
    }
    // Places no longer kept: the messages by their count from 1.
    return first == last ? "message " + std::to_string(first + 1)
                         : "messages " + std::to_string(first + 1) + "-" + std::to_string(last + 1);
}
