// The work of vantrel-convert: options, the line loop, and what each mode
// writes for one command. The conversion itself is conversion/Conversion.h's.
#include "Tool.h"

#include "Interrupt.h"
#include "LineReader.h"
#include "MidiPorts.h"
#include "Options.h"
#include "Output.h"
#include "Receiving.h"
#include "Sending.h"

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <istream>
#include <new>
#include <ostream>

#ifndef VANTREL_VERSION
#error "VANTREL_VERSION must be defined by the build"
#endif

namespace {

constexpr std::string_view kProgram = "vantrel-convert";
constexpr std::string_view kUsage =
    R"(Usage: vantrel-convert [--check] [--syx | --decode] [--] [command ...]
       vantrel-convert --send PORT [--rate BYTES|max] [--interval MS] [--check]
                       [--] [command ...]
       vantrel-convert --receive PORT [--count N] [--timeout MS] [--syx | --decode]
       vantrel-convert --list-ports | --list-inputs

Packs Kestrane Server commands that begin with "set " into MIDI System
Exclusive messages written as hex text, one output line per command.
Commands are the arguments or, when there are none, the lines of standard
input (LF or CR LF line ends). Input and output are UTF-8.

--receive is the other end: it prints each System Exclusive message that
arrives, a Vantrel message as the text above (with --decode its command,
with --syx its bytes), any other as upper-case hex (F0 7E 7F 06 01 F7).

)";
constexpr std::string_view kHelpEnd = R"(
Positions in errors count the values of a message from 0 (F0 is 0, the
length is 8, the command's first unit is 9). A line that cannot be read
gives an empty output line.

--send paces the messages: each starts no sooner than the previous start
plus the larger of its bytes at the rate and the interval. A MIDI cable
carries 3125 bytes a second (10 bits a byte), so 300 messages of 137 bytes
take about 13.7 s at the default rate. The answer to each command is
written as its message is handed on. WinMM confirms that a device took each
message; JACK that a period carried it; the ALSA sequencer only that the
kernel took it, and a receiver that falls behind drops data unseen, which
only pacing prevents. Ctrl-C or SIGTERM stops reading at once, finishes the
message in hand and waits for what was handed on; a second Ctrl-C ends the
run at once.

Exit status: 0 all accepted, 1 a command was refused (--receive: a message
could not be shown as asked), 2 bad input, usage or output (invalid UTF-8,
unknown option, malformed message, a line too long for memory, output that
cannot be written), 3 a value is not a data byte (--check, --syx, --send),
4 the port cannot be found, is ambiguous or cannot be opened, or sending or
receiving failed or timed out, 5 --timeout ended --receive before --count
messages came, 130 Ctrl-C or SIGINT, 143 SIGTERM. When several apply: 130
and 143 over 2 over 4 over 5 over 3 over 1.
)";

// The longest --interval, a minute, and --timeout, a day, in milliseconds;
// the highest --rate other than max, in bytes a second; the largest --count.
constexpr std::uint64_t kLongestInterval = 60'000;
constexpr std::uint64_t kLongestTimeout = 86'400'000;
constexpr std::uint64_t kHighestRate = 10'000'000;
constexpr std::uint64_t kLargestCount = 1'000'000'000;

struct Options {
    Mode mode = Mode::Text;
    bool check = false;
    bool help = false;
    bool version = false;
    bool listPorts = false;
    bool listInputs = false;
    std::optional<std::string> sendTo; // --send's PORT
    Pacing pacing;
    std::optional<std::string> receiveFrom; // --receive's PORT
    std::optional<std::uint64_t> count;
    std::optional<std::chrono::milliseconds> timeout;
    std::vector<const Argument*> commands;
};

// A whole number from `lowest` to `highest`, in decimal digits only.
std::optional<std::uint64_t> ParseNumber(std::string_view text, std::uint64_t lowest,
                                         std::uint64_t highest) {
    std::uint64_t value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9' || value > highest) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(digit - '0');
    }
    if (text.empty() || value < lowest || value > highest) {
        return std::nullopt;
    }
    return value;
}

// Parses the options; on bad usage reports the first problem on `err` and
// returns nothing.
std::optional<Options> ParseOptions(const std::vector<Argument>& arguments, std::ostream& err) {
    Options options;
    bool syx = false;
    bool decode = false;
    bool optionsEnded = false;
    bool paced = false; // --rate or --interval
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
            if (options.sendTo) {
                fail("--send may be given once");
            } else if (value.empty()) {
                fail("--send needs a port: its name, a part of it, or its address");
            }
            options.sendTo = value;
            break;
        case OptionId::Rate:
            paced = true;
            if (value == "max") {
                options.pacing.bytesPerSecond.reset();
            } else if (const auto rate = ParseNumber(value, 1, kHighestRate)) {
                options.pacing.bytesPerSecond = *rate;
            } else {
                fail("--rate takes a whole number of bytes a second from 1 to " +
                     std::to_string(kHighestRate) + ", or max");
            }
            break;
        case OptionId::Interval:
            paced = true;
            if (const auto interval = ParseNumber(value, 0, kLongestInterval)) {
                options.pacing.interval = std::chrono::milliseconds(*interval);
            } else {
                fail("--interval takes a whole number of milliseconds from 0 to " +
                     std::to_string(kLongestInterval));
            }
            break;
        case OptionId::ListInputs:
            options.listInputs = true;
            break;
        case OptionId::Receive:
            if (options.receiveFrom) {
                fail("--receive may be given once");
            } else if (value.empty()) {
                fail("--receive needs a source: its name, a part of it, or its address");
            }
            options.receiveFrom = value;
            break;
        case OptionId::Count:
            if (const auto count = ParseNumber(value, 1, kLargestCount)) {
                options.count = *count;
            } else {
                fail("--count takes a whole number from 1 to " + std::to_string(kLargestCount));
            }
            break;
        case OptionId::Timeout:
            if (const auto ms = ParseNumber(value, 1, kLongestTimeout)) {
                options.timeout = std::chrono::milliseconds(*ms);
            } else {
                fail("--timeout takes a whole number of milliseconds from 1 to " +
                     std::to_string(kLongestTimeout));
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
    if (paced && !options.sendTo) {
        fail("--rate and --interval are for --send");
    }
    if ((options.listPorts || options.listInputs) &&
        (options.sendTo || options.receiveFrom || !options.commands.empty())) {
        fail("--list-ports and --list-inputs take no commands, --send or --receive");
    }
    if ((options.count || options.timeout) && !options.receiveFrom) {
        fail("--count and --timeout are for --receive");
    }
    if (options.receiveFrom && (options.sendTo || options.check)) {
        fail("--receive cannot be used with --send or --check");
    }
    if (options.receiveFrom && !options.commands.empty()) {
        fail("--receive takes no commands");
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

namespace {

// No back ends: no ports to list, none to send to or receive from.
class NoPorts final : public midi_ports::Ports {
    void List(midi_ports::PortList&) override {}
    midi_ports::Opened Open(const midi_ports::Port&) override { return {nullptr, "no MIDI ports"}; }
};
class NoInputs final : public midi_ports::Inputs {
    void List(midi_ports::PortList&) override {}
    midi_ports::OpenedInput Open(const midi_ports::Port&) override {
        return {nullptr, "no MIDI sources"};
    }
};

} // namespace

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, std::size_t pieceBytes) {
    NoPorts ports;
    NoInputs inputs;
    return RunConvertTool(arguments, in, out, err, ports, inputs, pieceBytes);
}

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, midi_ports::Ports& ports, std::size_t pieceBytes) {
    NoInputs inputs;
    return RunConvertTool(arguments, in, out, err, ports, inputs, pieceBytes);
}

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, midi_ports::Ports& ports, std::size_t pieceBytes,
                   RunClock& clock) {
    NoInputs inputs;
    return RunConvertTool(arguments, in, out, err, ports, inputs, pieceBytes, clock);
}

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, midi_ports::Ports& ports, midi_ports::Inputs& inputs,
                   std::size_t pieceBytes) {
    SystemClock clock(false);
    return RunConvertTool(arguments, in, out, err, ports, inputs, pieceBytes, clock);
}

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& in, std::ostream& out,
                   std::ostream& err, midi_ports::Ports& ports, midi_ports::Inputs& inputs,
                   std::size_t pieceBytes, RunClock& clock) {
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

    if (options->listPorts || options->listInputs) {
        bool answered = true;
        if (options->listPorts) {
            answered = ListPorts(ports, output.Pending(), err);
        }
        if (options->listInputs) {
            answered = ListInputs(inputs, output.Pending(), err) && answered;
        }
        if (!output.Flush()) {
            return kBadInput;
        }
        return answered ? kAllAccepted : kPortFailed;
    }
    if (options->receiveFrom) {
        return Receive(inputs,
                       {*options->receiveFrom, options->mode, options->count, options->timeout},
                       output, err, clock);
    }
    std::optional<Sender> sender;
    if (options->sendTo) {
        sender.emplace(ports, *options->sendTo, options->pacing, clock);
        if (!sender->Error().empty()) {
            WriteError(err, sender->Error());
            return kPortFailed;
        }
    }

    Session session(options->mode, options->check, output, err, pieceBytes,
                    sender ? &*sender : nullptr);
    // Whether to read on: not after a failure, a failure the back end
    // noticed on its own, or a stop request.
    auto goOn = [&] {
        if (sender && !session.Stopped()) {
            if (const auto trouble = sender->Trouble()) {
                session.Halt(*trouble);
            }
        }
        return !output.Failed() && !session.Stopped() && clock.StopStatus() == 0;
    };
    auto finish = [&] {
        if (!output.Flush()) {
            session.Note(kBadInput);
        }
        // What was sent is delivered, also when the output failed or a stop
        // was requested; after a failure there is nothing more to wait for.
        if (sender) {
            if (const auto error = sender->Finish()) {
                session.Halt(*error);
            }
        }
        // A stop request outranks every other status.
        return clock.StopStatus() != 0 ? clock.StopStatus() : session.Status();
    };
    if (!options->commands.empty()) {
        std::size_t number = 0;
        for (const Argument* argument : options->commands) {
            if (!goOn()) {
                break;
            }
            const Place where{"argument", ++number};
            if (argument->invalid) {
                session.Invalid(*argument->invalid, where);
            } else {
                session.Process(argument->units, where);
            }
            if (!output.WriteIfFull()) {
                break;
            }
        }
        return finish();
    }

    // Every answer goes out before the reader may wait for more input, and
    // the wait ends when a stop is requested.
    LineReader reader(*in.rdbuf(),
                      [&] { return output.Flush() && goOn() && clock.WaitForInput(goOn); });
    std::size_t number = 0;
    while (goOn()) {
        const LineReader::Result result = reader.Next();
        if (result == LineReader::Result::End || result == LineReader::Result::Stopped) {
            break;
        }
        const Place where{"line", ++number};
        if (result == LineReader::Result::OutOfMemory) {
            session.OutOfMemory(where);
            continue;
        }
        const std::size_t answered = output.Pending().size();
        try {
            session.ProcessLine(reader.Line(), where);
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
