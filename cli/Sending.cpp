// Listing ports, and sending to one; see Sending.h.
#include "Sending.h"

#include "Escapes.h"
#include "Message.h"
#include "PortChoice.h"

#include <algorithm>

#include <ostream>
#include <span>

namespace cli {

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

Sender::Sender(midi_ports::Ports& ports, std::string_view wanted, Pacing pacing, RunClock& clock,
               std::ostream& info)
    : pacer_(pacing, clock), info_(info) {
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

bool Sender::MaySendAgain(std::span<const std::uint8_t> message) {
    return message.size() > message::kHeader.size() &&
           std::equal(message::kHeader.begin(), message::kHeader.end(), message.begin());
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
    kind_ = where.kind;
    if (auto error = HandOn(where.number, message, place)) {
        return Refusal{*error};
    }
    return std::nullopt;
}

std::optional<std::string> Sender::HandOn(std::size_t number, std::span<const std::uint8_t> message,
                                          const std::string& place) {
    if (auto error = output_->Send(message)) {
        return Failed(place + ": cannot send to " + port_ + ": " + *error);
    }
    // The bytes are kept while the back end may still ask for them again.
    const std::size_t confirmed = output_->Confirmed();
    handed_.push_back({number, {}});
    if (confirmed < firstKept_ + handed_.size()) {
        handed_.back().bytes.assign(message.begin(), message.end());
    }
    for (std::size_t i = 0; i < handed_.size() && firstKept_ + i < confirmed; ++i) {
        if (handed_[i].bytes.empty()) {
            break;
        }
        handed_[i].bytes = {};
    }
    if (handed_.size() > kPlacesKept) {
        handed_.pop_front();
        ++firstKept_;
    }
    return std::nullopt;
}

std::optional<std::string> Sender::Trouble() {
    bool wentBack = false;
    return TakeTrouble(wentBack);
}

std::optional<std::string> Sender::TakeTrouble(bool& wentBack) {
    while (!failed_) {
        const std::optional<midi_ports::SendFailure> trouble = output_->Trouble();
        if (!trouble) {
            return std::nullopt;
        }
        if (auto error = GoBack(*trouble)) {
            return error;
        }
        wentBack = true;
    }
    return std::nullopt;
}

std::optional<std::string> Sender::GoBack(const midi_ports::SendFailure& failure) {
    const std::string failed = Places(failure.first, failure.last) + ": " + failure.what;
    goBacks_ = failure.first <= lastGoBack_ && goBacks_ > 0 ? goBacks_ + 1 : 1;
    lastGoBack_ = failure.first;
    if (!failure.resumable || goBacks_ > kGoBacksWithoutProgress) {
        return Failed(failed);
    }
    const std::size_t end = firstKept_ + handed_.size();
    const std::optional<std::size_t> from = output_->Resume();
    if (!from) {
        // What kept the back end from going back, if it says.
        const auto now = output_->Trouble();
        return Failed(now ? Places(now->first, now->last) + ": " + now->what : failed);
    }
    if (*from < firstKept_ || *from >= end) {
        return *from >= end ? std::nullopt : Failed(failed);
    }
    const std::string places = Places(*from, end - 1);
    std::vector<Handed> again(handed_.begin() + static_cast<std::ptrdiff_t>(*from - firstKept_),
                              handed_.end());
    handed_.resize(*from - firstKept_);
    for (const Handed& message : again) {
        if (message.bytes.empty()) {
            return Failed(failed); // not kept: it cannot go again
        }
    }
    WriteError(info_, {places + " sent again after an xrun"});
    std::vector<std::string> foreign;
    for (const Handed& message : again) {
        const std::string place = std::string(kind_) + " " + std::to_string(message.number);
        if (!MaySendAgain(message.bytes)) {
            foreign.push_back(place + ": may be lost or doubled by an xrun; not sent again");
            continue;
        }
        if (!pacer_.Start(message.bytes.size())) {
            return Failed(place + ": not sent again: the run was interrupted");
        }
        if (auto error = HandOn(message.number, message.bytes, place)) {
            return error;
        }
    }
    if (!foreign.empty()) {
        return Failed(foreign.front() + (foreign.size() > 1
                                             ? " (and " + std::to_string(foreign.size() - 1) +
                                                   " more messages of others')"
                                             : ""));
    }
    return std::nullopt;
}

std::optional<std::string> Sender::Finish() {
    // Lines sent again after an xrun at the end are waited for in turn.
    for (bool wentBack = true; wentBack && !failed_;) {
        if (auto error = output_->Finish()) {
            return Failed("cannot send to " + port_ + ": " + *error);
        }
        wentBack = false;
        if (auto error = TakeTrouble(wentBack)) {
            return error;
        }
    }
    return std::nullopt;
}

std::optional<std::string> Sender::Failed(std::string error) {
    failed_ = true;
    return error;
}

std::string Sender::Places(std::size_t first, std::size_t last) const {
    // The number of a message, or nothing when it is not (or no longer) known.
    auto number = [this](std::size_t message) -> std::optional<std::size_t> {
        if (message < firstKept_ || message - firstKept_ >= handed_.size()) {
            return std::nullopt;
        }
        return handed_[message - firstKept_].number;
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

} // namespace cli
