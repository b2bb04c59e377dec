// The work of vantrel-convert: options, the line loop, and what each mode
// writes for one command. The conversion itself is ConvertCommand's.
#include "Tool.h"

#include "ConvertCommand.h"
#include "Message.h"
#include "MessageErrors.h"
#include "Sending.h"

#include <chrono>
#include <istream>
#include <ostream>

#ifndef VANTREL_VERSION
#error "VANTREL_VERSION must be defined by the build"
#endif

namespace {

constexpr std::string_view kProgram = "vantrel-convert";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
// Output is handed to `out` once this much has gathered, or sooner when the
// input has nothing more waiting (so interactive use sees each answer).
constexpr std::size_t kOutputChunk = 64 * 1024;

constexpr std::string_view kHelp =
    R"(Usage: vantrel-convert [--check | --syx | --decode] [--] [command ...]
       vantrel-convert --send PORT [--interval MS] [--check] [--] [command ...]
       vantrel-convert --list-ports

Packs Kestrane Server commands that begin with "set " into MIDI System
Exclusive messages written as hex text, one output line per command.
Commands are the arguments or, when there are none, the lines of standard
input (LF or CR LF line ends). Input and output are UTF-8.

  --check    also check that every value between F0 and F7 is a MIDI data
             byte (00 to 7f); report each one that is not on standard error
  --syx      write the messages as raw bytes (a .syx stream) instead of
             text; only messages that pass --check are written
  --decode   the reverse: read message texts, print the commands they carry
  --send PORT
             also send each message that passes --check to the MIDI output
             port whose name contains PORT (letters in either case)
  --interval MS
             with --send: wait MS milliseconds between two messages
  --list-ports
             list the MIDI output ports, one name to a line
  --help     show this help
  --version  show the version
  --         end of options: later arguments are commands

Positions in errors count the values of a message from 0 (F0 is 0, the
length is 8, the command's first unit is 9). A line that cannot be read
gives an empty output line.

Exit status: 0 all accepted, 1 a command was refused, 2 bad input or usage
(invalid UTF-8, unknown option, malformed message), 3 a value is not a data
byte (--check, --syx), 4 the port cannot be found or opened, or sending
failed (--send). When several apply: 2 over 4 over 3 over 1.
)";

enum class Mode { Text, Syx, Decode };

// The longest --interval, a minute, in milliseconds.
constexpr unsigned kLongestInterval = 60'000;

struct Options {
    Mode mode = Mode::Text;
    bool check = false;
    bool help = false;
    bool version = false;
    bool listPorts = false;
    std::optional<std::string> sendTo; // --send's PORT
    std::chrono::milliseconds interval{0};
    std::vector<const Argument*> commands;
};

std::string Utf8(std::u16string_view units) {
    std::string text;
    AppendUtf8(units, text);
    return text;
}

bool ParseInterval(std::string_view text, std::chrono::milliseconds& interval) {
    unsigned value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9' || value > kLongestInterval) {
            return false;
        }
        value = value * 10 + static_cast<unsigned>(digit - '0');
    }
    interval = std::chrono::milliseconds(value);
    return !text.empty() && value <= kLongestInterval;
}

// Parses the options; on bad usage reports it on `err` and returns nothing.
std::optional<Options> ParseOptions(const std::vector<Argument>& arguments, std::ostream& err) {
    Options options;
    bool syx = false;
    bool decode = false;
    bool optionsEnded = false;
    bool interval = false;
    std::string problem;
    for (auto next = arguments.begin(); next != arguments.end();) {
        const Argument& argument = *next++;
        const std::u16string& a = argument.units;
        // The value of --send or --interval: the next argument.
        auto value = [&]() -> std::optional<std::string> {
            if (next == arguments.end() || next->invalid) {
                if (problem.empty()) {
                    problem = "option '" + Utf8(a) + "' needs a value in UTF-8";
                }
                return std::nullopt;
            }
            return Utf8((next++)->units);
        };
        if (optionsEnded || argument.invalid || a.size() < 2 || a[0] != u'-') {
            options.commands.push_back(&argument);
        } else if (a == u"--") {
            optionsEnded = true;
        } else if (a == u"--check") {
            options.check = true;
        } else if (a == u"--syx") {
            syx = true;
        } else if (a == u"--decode") {
            decode = true;
        } else if (a == u"--help" || a == u"-h") {
            options.help = true;
        } else if (a == u"--version") {
            options.version = true;
        } else if (a == u"--list-ports") {
            options.listPorts = true;
        } else if (a == u"--send") {
            options.sendTo = value();
        } else if (a == u"--interval") {
            interval = true;
            const std::optional<std::string> ms = value();
            if (ms && !ParseInterval(*ms, options.interval) && problem.empty()) {
                problem = "--interval takes a whole number of milliseconds from 0 to " +
                          std::to_string(kLongestInterval);
            }
        } else if (problem.empty()) {
            problem = "unknown option '" + Utf8(a) + "'";
        }
    }
    if (problem.empty() && syx && decode) {
        problem = "--syx and --decode cannot be used together";
    }
    if (problem.empty() && options.sendTo && (syx || decode)) {
        problem = "--send cannot be used with --syx or --decode";
    }
    if (problem.empty() && interval && !options.sendTo) {
        problem = "--interval is for --send";
    }
    if (!problem.empty()) {
        err << kProgram << ": " << problem << "\nTry 'vantrel-convert --help'.\n";
        return std::nullopt;
    }
    options.mode = decode ? Mode::Decode : syx ? Mode::Syx : Mode::Text;
    return options;
}

// Names a command in errors: "line 3" or "argument 2". Built into text only
// when there is an error to report.
struct Place {
    const char* kind;
    std::size_t number;
};

// Processes commands one at a time and keeps the outcome for the exit status.
class Session {
  public:
    Session(const Options& options, std::ostream& out, std::ostream& err, Sender* sender)
        : options_(options), out_(out), err_(err), sender_(sender) {}

    // True once sending has failed: the run ends at once.
    bool Stopped() const { return stopped_; }

    void Process(std::u16string& units, const std::optional<Utf8Error>& invalid, Place where) {
        if (invalid) {
            Fail(where, DescribeUtf8Error(*invalid), kBadInput);
            if (options_.mode != Mode::Syx) {
                pending_ += '\n';
            }
        } else if (options_.mode == Mode::Decode) {
            Decode(units, where);
        } else {
            Convert(units, where);
        }
    }

    // Hands the gathered output to the stream once there is enough of it,
    // or whenever `idle` says no more input is waiting.
    void Flush(bool idle) {
        if (pending_.size() >= kOutputChunk || (idle && !pending_.empty())) {
            out_.write(pending_.data(), static_cast<std::streamsize>(pending_.size()));
            pending_.clear();
        }
        if (idle) {
            out_.flush();
        }
    }

    // Writes "vantrel-convert: line 3: <what>" to the error stream.
    void Fail(Place where, const std::string& what, int status) {
        std::string line(kProgram);
        line += ": " + std::string(where.kind) + " " + std::to_string(where.number) + ": " + what +
                "\n";
        err_.write(line.data(), static_cast<std::streamsize>(line.size()));
        Note(status);
    }

    int Finish() {
        Flush(true);
        if (sender_ != nullptr && !stopped_) {
            if (const auto error = sender_->Finish()) {
                Report(*error, kPortFailed);
            }
        }
        if (!out_) {
            err_ << kProgram << ": cannot write the output\n";
            Note(kBadInput);
        }
        return status_;
    }

  private:
    void Note(int status) {
        auto rank = [](int s) {
            return s == kBadInput ? 4 : s == kPortFailed ? 3 : s == kNotData ? 2 : s;
        };
        if (rank(status) > rank(status_)) {
            status_ = status;
        }
    }

    void Convert(std::u16string_view units, Place where) {
        const CommandVerdict verdict = JudgeCommand(units);
        if (!verdict.accepted) {
            const std::u16string complaint = Complaint(verdict.command);
            if (options_.mode == Mode::Syx) {
                Fail(where, Utf8(complaint), kRefused);
                return;
            }
            Note(kRefused);
            AppendUtf8(complaint, pending_);
            pending_ += '\n';
            return;
        }
        bool send = sender_ != nullptr;
        if (options_.check || options_.mode == Mode::Syx || send) {
            if (const auto nonData = message::FindNonDataValue(verdict.command)) {
                Fail(where, DescribeNonDataValue(*nonData), kNotData);
                if (options_.mode == Mode::Syx) {
                    return;
                }
                send = false;
            }
        }
        if (options_.mode == Mode::Syx) {
            message::AppendBytes(verdict.command, pending_);
        } else {
            AppendUtf8(message::Text(verdict.command), pending_);
            pending_ += '\n';
        }
        if (send) {
            if (const auto error = sender_->Send(verdict.command)) {
                Fail(where, *error, kPortFailed);
                stopped_ = true;
            }
        }
    }

    // Writes "vantrel-convert: <what>" to the error stream.
    void Report(const std::string& what, int status) {
        const std::string line = std::string(kProgram) + ": " + what + "\n";
        err_.write(line.data(), static_cast<std::streamsize>(line.size()));
        Note(status);
    }

    void Decode(std::u16string_view text, Place where) {
        if (const auto problem = message::Read(text, command_)) {
            Fail(where, "not a Vantrel message: " + DescribeReadProblem(*problem), kBadInput);
            pending_ += '\n';
            return;
        }
        if (options_.check) {
            if (const auto nonData = message::FindNonDataValue(command_)) {
                Fail(where, DescribeNonDataValue(*nonData), kNotData);
            }
        }
        AppendUtf8(command_, pending_);
        pending_ += '\n';
    }

    const Options& options_;
    std::ostream& out_;
    std::ostream& err_;
    int status_ = kAllAccepted;
    std::string pending_;
    std::u16string command_;
    Sender* const sender_; // with --send
    bool stopped_ = false;
};

} // namespace

Argument ArgumentFromUtf8(std::string_view bytes) {
    Argument argument;
    argument.invalid = DecodeUtf8(bytes, argument.units);
    return argument;
}

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err) {
    // No back ends: no ports to list, none to send to.
    class NoPorts final : public midi_ports::Ports {
        void List(midi_ports::PortList&) override {}
        midi_ports::Opened Open(std::string_view) override { return {nullptr, "no MIDI ports"}; }
    } none;
    return RunConvertTool(arguments, in, out, err, none);
}

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, midi_ports::Ports& ports) {
    const std::optional<Options> options = ParseOptions(arguments, err);
    if (!options) {
        return kBadInput;
    }
    if (options->help || options->version) {
        out << (options->help ? kHelp : VANTREL_VERSION "\n");
        out.flush();
        return kAllAccepted;
    }

    if (options->listPorts) {
        ListPorts(ports, out, err);
        return kAllAccepted;
    }
    std::optional<Sender> sender;
    if (options->sendTo) {
        sender.emplace(ports, *options->sendTo, options->interval);
        if (!sender->Error().empty()) {
            err << kProgram << ": " << sender->Error() << "\n";
            return kPortFailed;
        }
    }

    Session session(*options, out, err, sender ? &*sender : nullptr);
    std::u16string units;
    if (!options->commands.empty()) {
        std::size_t number = 0;
        for (const Argument* argument : options->commands) {
            if (session.Stopped()) {
                break;
            }
            units = argument->units;
            session.Process(units, argument->invalid, Place{"argument", ++number});
            session.Flush(false);
        }
        return session.Finish();
    }

    std::string line;
    std::size_t number = 0;
    while (!session.Stopped() && std::getline(in, line)) {
        std::string_view bytes = line;
        if (!bytes.empty() && bytes.back() == '\r') {
            bytes.remove_suffix(1);
        }
        if (number == 0 && bytes.starts_with(kByteOrderMark)) {
            bytes.remove_prefix(kByteOrderMark.size());
        }
        const std::optional<Utf8Error> invalid = DecodeUtf8(bytes, units);
        session.Process(units, invalid, Place{"line", ++number});
        session.Flush(in.rdbuf()->in_avail() <= 0);
    }
    if (in.bad()) {
        session.Fail(Place{"line", number + 1}, "cannot read standard input", kBadInput);
    }
    return session.Finish();
}
