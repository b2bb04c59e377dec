// Listening to a MIDI source; see Receiving.h.
#include "Receiving.h"

#include "Conversion.h"

#include "Message.h"
#include "MessageErrors.h"
#include "PortChoice.h"
#include "Sending.h"
#include "SysexAssembler.h"

#include "HexText.h"
#include "Utf8.h"

#include <ostream>
#include <span>

namespace {

using Clock = std::chrono::steady_clock;
using midi_ports::Piece;
using midi_ports::SysexAssembler;

// The longest single wait for input, so that a run without --timeout still
// asks often whether it should stop.
constexpr std::chrono::milliseconds kSlice{100};

// Where the conversion writes a received message's text: the output.
struct MessageSink {
    std::string& text;
    std::string& Buffer() { return text; }
    bool Flush() { return true; }
};

// "F0 7E 7F 06 01 F7": the values in upper case, separated by spaces. An
// empty command's message reads the same as its message text.
std::string UpperHex(std::span<const std::uint8_t> bytes) {
    static constexpr char kDigits[] = "0123456789ABCDEF";
    std::string text;
    text.reserve(bytes.size() * 3);
    for (const std::uint8_t byte : bytes) {
        if (!text.empty()) {
            text += ' ';
        }
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0xF];
    }
    return text;
}

class Receiver {
  public:
    Receiver(const ReceiveRequest& request, Output& output, std::ostream& err, RunClock& clock)
        : request_(request), output_(output), err_(err), clock_(clock),
          session_(request.mode, false, output, err, kPieceBytesUnused) {}

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
                Report(++number_, "cut short: the run ended before its F7");
            }
        }
        if (quiet && request_.count && complete_ < *request_.count) {
            session_.Note(kTimedOut);
        }
        // A stop request's status (130 or 143) ranks above every other.
        return clock_.StopStatus() != 0 ? clock_.StopStatus() : session_.Status();
    }

  private:
    static constexpr std::size_t kPieceBytesUnused = 1;
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
                ReportCut();
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
                Report(++number_, "cut short: " + piece_.what);
            }
            break;
        case Piece::Kind::Lost:
            WriteError(err_, {"input from " + source_ + " was lost: " + piece_.what});
            session_.Note(kPortFailed);
            if (assembler_.Cut()) {
                Report(++number_, "cut short: part of it was lost");
            }
            break;
        case Piece::Kind::Xrun:
            WriteError(err_, {"messages may have been lost in an xrun after message " +
                              std::to_string(number_)});
            session_.Note(kPortFailed);
            if (assembler_.Cut()) {
                Report(++number_, "cut short: part of it may have been lost in an xrun");
            }
            break;
        case Piece::Kind::Closed:
            WriteError(err_, {"cannot receive from " + source_ + ": " + piece_.what});
            session_.Note(kPortFailed);
            closed_ = true;
            break;
        case Piece::Kind::Bytes:
        case Piece::Kind::Quiet:
            break;
        }
    }

    void ReportCut() {
        const std::uint8_t by = assembler_.CutBy();
        Report(++number_, by != 0
                              ? "cut short: status byte " + hex_text::Narrow(by) + " came before F7"
                              : "cut short: longer than " +
                                    std::to_string(SysexAssembler::kLongest) + " bytes");
    }

    void Report(std::size_t number, const std::string& what) {
        session_.Fail(Place{"message", number}, what, kNotShown);
    }

    // Writes one complete message as asked and hands it out.
    void Show(std::span<const std::uint8_t> message, std::size_t number) {
        using Kind = message::ReadProblem::Kind;
        const std::string hex = UpperHex(message);
        std::u16string command;
        const auto problem = message::Read(std::string_view(hex), command);
        const bool foreign = problem && problem->kind == Kind::HeaderMismatch;
        // A line feed in the command keeps only --decode from printing it.
        const bool readable = !problem || (problem->kind == Kind::LineFeed && !Decoding());
        if (!readable && (!foreign || Decoding())) {
            const std::string word = hex.substr(problem->wordStart, problem->wordSize);
            const std::string what =
                foreign ? "not a Vantrel message: " : "cannot be read as a Vantrel message: ";
            Report(number, what + DescribeReadProblem(*problem, word));
        }
        std::string& out = output_.Pending();
        if (request_.mode == Mode::Syx) {
            out.append(message.begin(), message.end());
        } else if (Decoding()) {
            if (readable) {
                AppendUtf8(command, out);
                out += '\n';
            }
        } else if (readable && message.size() > message::kFirstUnitPosition + 1) {
            // Written by the conversion's own writer, so that the line equals
            // the sender's; the units as they came (one byte each), a line
            // feed among them too.
            const std::u16string units(message.begin() + message::kFirstUnitPosition,
                                       message.end() - 1);
            MessageSink sink{out};
            conversion::WriteMessage(sink, conversion::HeldPieces{std::u16string_view(units)},
                                     conversion::AcceptedWhole(units.size()));
            out += '\n';
        } else {
            out += hex;
            out += '\n';
        }
        if (!output_.Flush()) {
            session_.Note(kBadInput);
        }
    }

    bool Decoding() const { return request_.mode == Mode::Decode; }

    const ReceiveRequest& request_;
    Output& output_;
    std::ostream& err_;
    RunClock& clock_;
    Session session_; // the wording of errors about a message, and the status
    SysexAssembler assembler_;
    Piece piece_;
    std::string source_;
    std::size_t number_ = 0;     // System Exclusive messages received, complete or cut
    std::uint64_t complete_ = 0; // of those, the complete ones
    bool closed_ = false;
};

} // namespace

bool ListInputs(midi_ports::Inputs& inputs, std::string& out, std::ostream& err) {
    midi_ports::PortList list;
    inputs.List(list);
    for (const midi_ports::Port& port : list.ports) {
        out += midi_ports::ListLine(port);
        out += '\n';
    }
    if (list.ports.empty()) {
        WriteError(err, midi_ports::DescribeNoPorts(list, midi_ports::kSources));
    } else if (list.late) {
        WriteError(err, list.unreachable);
    }
    return !list.late;
}

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
    return Receiver(request, output, err, clock).Run(*opened.input, name);
}
