// Listening to a MIDI source; see Receiving.h.
#include "Receiving.h"

#include "PortChoice.h"
#include "ReceivedMessage.h"
#include "SysexAssembler.h"

#include <ostream>
#include <span>

namespace {

using Clock = std::chrono::steady_clock;
using midi_ports::Piece;
using midi_ports::SysexAssembler;

// The longest single wait for input, so that a run without --timeout still
// asks often whether it should stop.
constexpr std::chrono::milliseconds kSlice{100};

class Receiver {
  public:
    Receiver(const ReceiveRequest& request, Output& output, Report& report, RunClock& clock)
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
                NameMessage(++number_, "cut short: the run ended before its F7");
            }
        }
        if (quiet && request_.count && complete_ < *request_.count) {
            report_.Error({"nothing arrived for " + std::to_string(request_.timeout->count()) +
                           " ms; " + std::to_string(complete_) + " of " +
                           std::to_string(*request_.count) + " messages"},
                          kTimedOut);
        }
        // A stop request's status (130 or 143) ranks above every other.
        return report_.ExitCode(clock_.StopStatus());
    }

  private:
    // At the end, the most pieces taken from what a back end still holds.
    static constexpr int kLastPieces = 1000;

    bool Finished() const {
        return output_.Failed() || (request_.count && complete_ >= *request_.count);
    }

    // Takes the piece just received: its bytes, then what followed them.
    void Handle() {
        for (std::size_t at = 0; at < piece_.bytes.size() && !Finished();) {
            switch (assembler_.Take(piece_.bytes, at)) {
            case SysexAssembler::Result::Complete:
                ++complete_;
                Show(assembler_.Message(), ++number_);
                break;
            case SysexAssembler::Result::Cut:
                NameMessage(++number_, DescribeCut(assembler_));
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
                NameMessage(++number_, "cut short: " + piece_.what);
            }
            break;
        case Piece::Kind::Lost:
            // A count names the first message that may be whole after it,
            // the one in progress being cut.
            report_.Error({piece_.lostBytes == 0
                               ? "input from " + source_ + " was lost: " + piece_.what
                               : source_ + ": " + std::to_string(piece_.lostBytes) +
                                     " bytes lost before message " +
                                     std::to_string(number_ + (assembler_.InMessage() ? 2 : 1))},
                          kPortFailed);
            if (assembler_.Cut()) {
                NameMessage(++number_, "cut short: part of it was lost");
            }
            break;
        case Piece::Kind::Xrun:
            report_.Error(
                {"messages may have been lost in an xrun after message " + std::to_string(number_)},
                kPortFailed);
            if (assembler_.Cut()) {
                NameMessage(++number_, "cut short: part of it may have been lost in an xrun");
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
    Output& output_;
    Report& report_;
    RunClock& clock_;
    SysexAssembler assembler_;
    Piece piece_;
    std::string source_;
    std::size_t number_ = 0;     // System Exclusive messages received, complete or cut
    std::uint64_t complete_ = 0; // of those, the complete ones
    bool closed_ = false;
};

} // namespace

int Receive(midi_ports::Inputs& inputs, const ReceiveRequest& request, Output& output,
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
