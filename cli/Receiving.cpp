// Listening to a MIDI source; see Receiving.h.
#include "Receiving.h"

#include "MessageReader.h"
#include "PortChoice.h"
#include "ReceivedMessage.h"

#include <algorithm>
#include <ostream>
#include <span>

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using midi_ports::Received;

// The longest single wait for input, so that a run without --timeout still
// asks often whether it should stop.
constexpr std::chrono::milliseconds kSlice{100};

class Receiver {
  public:
    Receiver(const ReceiveRequest& request, BufferedOutput& output, Report& report, RunClock& clock,
             midi_ports::Input& input)
        : request_(request), output_(output), report_(report), clock_(clock), reader_(input) {}

    int Run(const std::string& name) {
        source_ = name;
        std::optional<Clock::time_point> deadline;
        if (request_.timeout) {
            deadline = Clock::now() + *request_.timeout;
        }
        bool quiet = false;
        while (!Finished() && !closed_) {
            if (clock_.StopStatus() != 0) {
                break; // Ctrl-C, SIGINT or SIGTERM
            }
            auto wait = kSlice;
            if (deadline) {
                const auto now = Clock::now();
                if (now >= *deadline) {
                    quiet = true;
                    break;
                }
                wait =
                    std::min(wait, std::chrono::ceil<std::chrono::milliseconds>(*deadline - now));
            }
            const std::uint64_t taken = reader_.Taken();
            Handle(reader_.Next(wait));
            if (deadline && reader_.Taken() != taken) {
                deadline = Clock::now() + *request_.timeout;
            }
        }
        if (!Finished()) {
            // What the back end still holds (WinMM's partly filled buffer)
            // comes out now, then a message still unfinished is cut.
            reader_.Stop();
            const std::uint64_t first = reader_.Pieces();
            while (reader_.Pieces() - first < kLastPieces && !Finished() && !closed_) {
                const Received& received = reader_.Next(std::chrono::milliseconds(0));
                Handle(received);
                if (received.kind == Received::Kind::Quiet) {
                    break;
                }
            }
            if (!output_.Failed() && reader_.Cut()) {
                NameMessage(Number(), "cut short: the run ended before its F7");
            }
        }
        SayXrun(std::nullopt);
        // A quiet time in which the server itself ran nothing says so: the
        // source may have sent, and nothing could come.
        const auto unserved = quiet ? reader_.Unserved(*request_.timeout) : std::nullopt;
        if (unserved) {
            report_.Error({"cannot receive from " + source_ + ": " + *unserved}, kPortFailed);
        } else if (quiet && request_.count && complete_ < *request_.count) {
            report_.Error({"nothing arrived for " + std::to_string(request_.timeout->count()) +
                           " ms; " + std::to_string(complete_) + " of " +
                           std::to_string(*request_.count) + " messages"},
                          kTimedOut);
        }
        // A stop request's status (130 or 143) ranks above this one; the
        // caller applies it.
        return report_.Status();
    }

  private:
    // At the end, the most pieces taken from what a back end still holds.
    static constexpr std::uint64_t kLastPieces = 1000;

    bool Finished() const {
        return output_.Failed() || (request_.count && complete_ >= *request_.count);
    }

    // Takes what the reader handed out: a message, or what happened.
    void Handle(const Received& received) {
        switch (received.kind) {
        case Received::Kind::Message:
            ++complete_;
            Show(received.message, Number());
            break;
        case Received::Kind::Unsure:
            NameMessage(Number(), "not written: it may span the bytes lost");
            break;
        case Received::Kind::Cut:
            NameMessage(Number(), DescribeCut(received.cutBy));
            break;
        case Received::Kind::Broken:
            if (received.cut) {
                NameMessage(Number(), "cut short: " + received.what);
            }
            break;
        case Received::Kind::Lost:
            // The loss fell before the next message, or within the one in
            // progress, which takes that number.
            report_.Error({"input from " + source_ +
                           (received.lostBytes == 0
                                ? " was lost: " + received.what
                                : ": " + std::to_string(received.lostBytes) +
                                      " bytes lost before message " + std::to_string(number_ + 1) +
                                      (received.what.empty() ? "" : " (" + received.what + ")"))},
                          kPortFailed);
            if (received.cut) {
                NameMessage(Number(), "cut short: part of it was lost");
            }
            break;
        case Received::Kind::Xrun:
            // Said once the next message comes, with the messages around it:
            // any further xruns before then fall in the same place. A
            // message it cut is named instead.
            if (received.cut) {
                SayXrun(number_ + 1);
                report_.Note(kPortFailed);
                NameMessage(++number_, "cut short: part of it may have been lost in an xrun");
            } else {
                xrunAfter_ = true;
            }
            break;
        case Received::Kind::Closed:
            report_.Error({"cannot receive from " + source_ + ": " + received.what}, kPortFailed);
            closed_ = true;
            break;
        case Received::Kind::More:
        case Received::Kind::Quiet:
            break;
        }
    }

    // Numbers the next message, saying first where an xrun fell before it.
    std::size_t Number() {
        SayXrun(number_ + 1);
        return ++number_;
    }

    // Says that messages may have been lost in an xrun after the last
    // message, if one struck there: before message `next`, or at the end
    // of the run when there is none.
    void SayXrun(std::optional<std::size_t> next) {
        if (!xrunAfter_) {
            return;
        }
        xrunAfter_ = false;
        const std::string last = std::to_string(number_);
        std::string where;
        if (number_ == 0) {
            where = next ? "before message 1" : "before any message arrived";
        } else {
            where = next ? "between message " + last + " and message " + std::to_string(*next)
                         : "after message " + last + ", the last to arrive";
        }
        report_.Error({"messages may have been lost in an xrun " + where}, kPortFailed);
    }

    void NameMessage(std::size_t number, const std::string& what) {
        report_.Fail(Place{"message", number}, what, kNotShown);
    }

    // Writes one complete message as asked and hands it out.
    void Show(std::span<const std::uint8_t> message, std::size_t number) {
        if (const auto problem =
                ShowMessage(message, request_.mode, request_.escapeControls, output_.Pending())) {
            NameMessage(number, *problem);
        }
        if (!output_.Flush()) {
            report_.Note(kBadInput);
        }
    }

    const ReceiveRequest& request_;
    BufferedOutput& output_;
    Report& report_;
    RunClock& clock_;
    midi_ports::MessageReader reader_;
    std::string source_;
    std::size_t number_ = 0;     // System Exclusive messages received, complete or cut
    std::uint64_t complete_ = 0; // of those, the complete ones
    bool closed_ = false;
    bool xrunAfter_ = false; // an xrun struck after the last message, not yet said
};

} // namespace

int Receive(midi_ports::Inputs& inputs, const ReceiveRequest& request, BufferedOutput& output,
            std::ostream& err, RunClock& clock) {
    midi_ports::PortList list;
    inputs.List(list);
    const midi_ports::PortChoice choice =
        midi_ports::ChoosePort(list, request.source, midi_ports::kSources);
    if (!choice.port) {
        WriteError(err, choice.error);
        return kPortFailed;
    }
    const std::string& name = choice.port->name;
    midi_ports::OpenedInput opened = inputs.Open(*choice.port);
    if (opened.input == nullptr) {
        WriteError(err, {"cannot open " + name + ": " + opened.error});
        return kPortFailed;
    }
    WriteError(err, {"listening to " + name});
    err.flush();
    Report report(err);
    return Receiver(request, output, report, clock, *opened.input).Run(name);
}

} // namespace cli
