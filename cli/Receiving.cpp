// Listening to a MIDI source; see Receiving.h.
#include "Receiving.h"

#include "PortChoice.h"
#include "ReceivedMessage.h"
#include "SysexAssembler.h"

#include <algorithm>
#include <ostream>
#include <span>

namespace cli {

namespace {

using Clock = std::chrono::steady_clock;
using midi_ports::Piece;
using midi_ports::SysexAssembler;

// The longest single wait for input, so that a run without --timeout still
// asks often whether it should stop.
constexpr std::chrono::milliseconds kSlice{100};

class Receiver {
  public:
    Receiver(const ReceiveRequest& request, BufferedOutput& output, Report& report, RunClock& clock)
        : request_(request), output_(output), report_(report), clock_(clock) {}

    int Run(midi_ports::Input& input, const std::string& name) {
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
            const std::uint64_t taken = assembler_.Taken();
            input.Next(piece_, wait);
            Handle();
            if (deadline && assembler_.Taken() != taken) {
                deadline = Clock::now() + *request_.timeout;
            }
        }
        if (!Finished()) {
            // What the back end still holds (WinMM's partly filled buffer)
            // comes out now, then a message still unfinished is cut.
            input.Stop();
            for (int pieces = 0; pieces < kLastPieces && !Finished() && !closed_; ++pieces) {
                input.Next(piece_, std::chrono::milliseconds(0));
                Handle();
                if (piece_.kind == Piece::Kind::Quiet) {
                    break;
                }
            }
            if (!output_.Failed() && assembler_.Cut()) {
                NameMessage(Number(), "cut short: the run ended before its F7");
            }
        }
        SayXrun(std::nullopt);
        // A quiet time in which the server itself ran nothing says so: the
        // source may have sent, and nothing could come.
        const auto unserved = quiet ? input.Unserved(*request_.timeout) : std::nullopt;
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
    static constexpr int kLastPieces = 1000;

    bool Finished() const {
        return output_.Failed() || (request_.count && complete_ >= *request_.count);
    }

    // Takes the piece just received: its bytes, then what followed them.
    void Handle() {
        const std::span<const std::uint8_t> bytes = piece_.bytes;
        for (std::size_t at = 0; at < bytes.size() && !Finished();) {
            // Bytes that may precede a loss reported before them are taken
            // apart from those after them, so that the message in progress
            // where they end is known.
            const bool unsure = unsure_ > 0;
            const std::size_t from = at;
            const std::size_t end =
                unsure ? from + static_cast<std::size_t>(
                                    std::min<std::uint64_t>(unsure_, bytes.size() - from))
                       : bytes.size();
            const SysexAssembler::Result result = assembler_.Take(bytes.first(end), at);
            if (unsure) {
                unsure_ -= at - from;
                spansLoss_ = spansLoss_ || (unsure_ == 0 && assembler_.InMessage());
            }
            switch (result) {
            case SysexAssembler::Result::Complete:
                if (unsure || spansLoss_) {
                    NameMessage(Number(), "not written: it may span the bytes lost");
                } else {
                    ++complete_;
                    Show(assembler_.Message(), Number());
                }
                spansLoss_ = false;
                break;
            case SysexAssembler::Result::Cut:
                NameMessage(Number(), DescribeCut(assembler_));
                spansLoss_ = false;
                break;
            case SysexAssembler::Result::More:
                break;
            }
        }
        if (Finished()) {
            return;
        }
        switch (piece_.kind) {
        case Piece::Kind::Broken:
            if (assembler_.Cut()) {
                NameMessage(Number(), "cut short: " + piece_.what);
            }
            break;
        case Piece::Kind::Lost:
            // The loss fell before the next message, or within the one in
            // progress, which takes that number when it is cut.
            report_.Error({"input from " + source_ +
                           (piece_.lostBytes == 0
                                ? " was lost: " + piece_.what
                                : ": " + std::to_string(piece_.lostBytes) +
                                      " bytes lost before message " + std::to_string(number_ + 1) +
                                      (piece_.what.empty() ? "" : " (" + piece_.what + ")"))},
                          kPortFailed);
            if (assembler_.Cut()) {
                NameMessage(Number(), "cut short: part of it was lost");
            }
            unsure_ = std::max(unsure_, piece_.unsure);
            break;
        case Piece::Kind::Xrun:
            // Said once the next message comes, with the messages around it:
            // any further xruns before then fall in the same place. A
            // message it cut is named instead.
            if (assembler_.Cut()) {
                SayXrun(number_ + 1);
                report_.Note(kPortFailed);
                NameMessage(++number_, "cut short: part of it may have been lost in an xrun");
            } else {
                xrunAfter_ = true;
            }
            break;
        case Piece::Kind::Closed:
            report_.Error({"cannot receive from " + source_ + ": " + piece_.what}, kPortFailed);
            closed_ = true;
            break;
        case Piece::Kind::Bytes:
        case Piece::Kind::Quiet:
            break;
        }
        spansLoss_ = spansLoss_ && assembler_.InMessage();
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
    SysexAssembler assembler_;
    Piece piece_;
    std::string source_;
    std::size_t number_ = 0;     // System Exclusive messages received, complete or cut
    std::uint64_t complete_ = 0; // of those, the complete ones
    // Bytes still to come that may have come before a reported loss, and
    // whether the message in progress began among such bytes and reaches
    // past them: a message that may span a loss is never written.
    std::uint64_t unsure_ = 0;
    bool spansLoss_ = false;
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
    return Receiver(request, output, report, clock).Run(*opened.input, name);
}

} // namespace cli
