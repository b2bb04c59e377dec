// The work of vantrel-convert: options, the line loop, and what each mode
// writes for one command. The conversion itself is ConvertCommand's.
#include "Tool.h"

#include "LineReader.h"
#include "MidiPorts.h"
#include "Options.h"
#include "Output.h"
#include "Sending.h"

#include <algorithm>
#include <chrono>
#include <istream>
#include <new>
#include <ostream>

#ifndef VANTREL_VERSION
#error "VANTREL_VERSION must be defined by the build"
#endif

namespace {

constexpr std::string_view kProgram = "vantrel-convert";
constexpr std::string_view kByteOrderMark = "\xEF\xBB\xBF";
constexpr std::string_view kUsage =
    R"(Usage: vantrel-convert [--check] [--syx | --decode] [--] [command ...]
       vantrel-convert --send PORT [--interval MS] [--check] [--] [command ...]
       vantrel-convert --list-ports

Packs Kestrane Server commands that begin with "set " into MIDI System
Exclusive messages written as hex text, one output line per command.
Commands are the arguments or, when there are none, the lines of standard
input (LF or CR LF line ends). Input and output are UTF-8.

)";
constexpr std::string_view kHelpEnd = R"(
Positions in errors count the values of a message from 0 (F0 is 0, the
length is 8, the command's first unit is 9). A line that cannot be read
gives an empty output line.

Exit status: 0 all accepted, 1 a command was refused, 2 bad input, usage
or output (invalid UTF-8, unknown option, malformed message, a line too long
for memory, output that cannot be written), 3 a value is not a data byte
(--check, --syx), 4 the port cannot be found or opened, or sending failed
(--send). When several apply: 2 over 4 over 3 over 1.
)";

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

// Parses the options; on bad usage reports the first problem on `err` and
// returns nothing.
std::optional<Options> ParseOptions(const std::vector<Argument>& arguments, std::ostream& err) {
    Options options;
    bool syx = false;
    bool decode = false;
    bool optionsEnded = false;
    bool interval = false;
    std::string problem;
    auto fail = [&problem](std::string what) {
        if (problem.empty()) {
            problem = std::move(what);
        }
    };
    for (auto next = arguments.begin(); next != arguments.end();) {
        const Argument& argument = *next++;
        const std::u16string& a = argument.units;
        if (optionsEnded || argument.invalid || a.size() < 2 || a[0] != u'-') {
            options.commands.push_back(&argument);
            continue;
        }
        const OptionSpec* option = FindOption(a);
        if (option == nullptr) {
            fail("unknown option '" + ToUtf8(a) + "'");
            continue;
        }
        // The option's value: the next argument.
        std::string value;
        if (option->value != ValueKind::None) {
            if (next == arguments.end() || next->invalid) {
                fail("option '" + ToUtf8(a) + "' needs a value in UTF-8");
                continue;
            }
            value = ToUtf8((next++)->units);
        }
        switch (option->id) {
        case OptionId::EndOfOptions:
            optionsEnded = true;
            break;
        case OptionId::Check:
            options.check = true;
            break;
        case OptionId::Syx:
            syx = true;
            break;
        case OptionId::Decode:
            decode = true;
            break;
        case OptionId::Help:
            options.help = true;
            break;
        case OptionId::Version:
            options.version = true;
            break;
        case OptionId::ListPorts:
            options.listPorts = true;
            break;
        case OptionId::Send:
            options.sendTo = value;
            break;
        case OptionId::Interval:
            interval = true;
            if (!ParseInterval(value, options.interval)) {
                fail("--interval takes a whole number of milliseconds from 0 to " +
                     std::to_string(kLongestInterval));
            }
            break;
        }
    }
    if (syx && decode) {
        fail("--syx and --decode cannot be used together");
    }
    if (options.sendTo && (syx || decode)) {
        fail("--send cannot be used with --syx or --decode");
    }
    if (interval && !options.sendTo) {
        fail("--interval is for --send");
    }
    if (!problem.empty()) {
        err << kProgram << ": " << problem << "\nTry 'vantrel-convert --help'.\n";
        return std::nullopt;
    }
    options.mode = decode ? Mode::Decode : syx ? Mode::Syx : Mode::Text;
    return options;
}

} // namespace

Argument ArgumentFromUtf8(std::string_view bytes) {
    Argument argument;
    argument.invalid = DecodeUtf8(bytes, argument.units);
    return argument;
}

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, std::size_t pieceBytes) {
    // No back ends: no ports to list, none to send to.
    class NoPorts final : public midi_ports::Ports {
        void List(midi_ports::PortList&) override {}
        midi_ports::Opened Open(std::string_view) override { return {nullptr, "no MIDI ports"}; }
    } none;
    return RunConvertTool(arguments, in, out, err, none, pieceBytes);
}

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, midi_ports::Ports& ports, std::size_t pieceBytes) {
    const std::optional<Options> options = ParseOptions(arguments, err);
    if (!options) {
        return kBadInput;
    }
    Output output(out, err);
    if (options->help || options->version) {
        if (options->help) {
            output.Pending() = std::string(kUsage) + OptionHelp() + std::string(kHelpEnd);
        } else {
            output.Pending() = VANTREL_VERSION "\n";
        }
        return output.Flush() ? kAllAccepted : kBadInput;
    }

    if (options->listPorts) {
        ListPorts(ports, output.Pending(), err);
        return output.Flush() ? kAllAccepted : kBadInput;
    }
    std::optional<Sender> sender;
    if (options->sendTo) {
        sender.emplace(ports, *options->sendTo, options->interval);
        if (!sender->Error().empty()) {
            WriteError(err, sender->Error());
            return kPortFailed;
        }
    }

    Session session(options->mode, options->check, output, err, pieceBytes,
                    sender ? &*sender : nullptr);
    auto finish = [&] {
        if (!output.Flush()) {
            session.Note(kBadInput);
        }
        // What was sent is delivered, also when the output failed; after a
        // failed send there is nothing more to wait for.
        if (sender && !session.Stopped()) {
            if (const auto error = sender->Finish()) {
                WriteError(err, {*error});
                session.Note(kPortFailed);
            } else {
                session.CheckDelivery();
            }
        }
        return session.Status();
    };
    if (!options->commands.empty()) {
        std::size_t number = 0;
        for (const Argument* argument : options->commands) {
            const Place where{"argument", ++number};
            if (argument->invalid) {
                session.Invalid(*argument->invalid, where);
            } else {
                session.Process(argument->units, where);
            }
            if (!output.WriteIfFull() || session.Stopped()) {
                break;
            }
        }
        return finish();
    }

    // Every answer goes out before the reader may wait for more input.
    LineReader reader(*in.rdbuf(), [&] { return output.Flush(); });
    std::string line;
    std::size_t number = 0;
    while (!output.Failed() && !session.Stopped()) {
        const LineReader::Result result = reader.Next(line);
        if (result == LineReader::Result::End || result == LineReader::Result::Stopped) {
            break;
        }
        const Place where{"line", ++number};
        if (result == LineReader::Result::OutOfMemory) {
            session.OutOfMemory(where);
            continue;
        }
        std::string_view bytes = line;
        if (bytes.ends_with('\r')) {
            bytes.remove_suffix(1);
        }
        std::size_t skipped = 0;
        if (number == 1 && bytes.starts_with(kByteOrderMark)) {
            bytes.remove_prefix(kByteOrderMark.size());
            skipped = kByteOrderMark.size();
        }
        const std::size_t answered = output.Pending().size();
        try {
            session.ProcessLine(bytes, where, skipped);
        } catch (const std::bad_alloc&) {
            // Whatever of the answer is still here goes; the line gets an
            // empty one, as an unreadable line does.
            output.Pending().resize(std::min(answered, output.Pending().size()));
            session.OutOfMemory(where);
        }
        output.WriteIfFull();
    }
    if (reader.Failed()) {
        session.Fail(Place{"line", number + 1}, "cannot read standard input", kBadInput);
    }
    return finish();
}
