// The work of vantrel-convert: options, the line loop, and what each mode
// writes for one command. The conversion itself is conversion/Conversion.h's.
#include "Tool.h"

#include "FileIdentity.h"
#include "OutputFile.h"

#include "BufferedOutput.h"
#include "Interrupt.h"
#include "LineReader.h"
#include "MidiPorts.h"
#include "Options.h"
#include "Receiving.h"
#include "Sending.h"
#include "SysexAssembler.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <new>
#include <ostream>

#ifndef VANTREL_VERSION
#error "VANTREL_VERSION must be defined by the build"
#endif

namespace cli {

namespace {

constexpr std::string_view kProgram = "vantrel-convert";
constexpr std::string_view kUsage =
    R"(Usage: vantrel-convert [--check] [--syx | --decode] [--] [command ...]
       vantrel-convert --send PORT [--rate BYTES|max] [--interval MS] [--check]
                       [--] [command ...]
       vantrel-convert --decode --syx [--input FILE]
       vantrel-convert --send PORT --syx [--rate BYTES|max] [--interval MS]
                       [--input FILE]
       vantrel-convert --receive PORT [--count N] [--timeout MS] [--syx | --decode]
                       [--output FILE]
       vantrel-convert --list-ports | --list-inputs

Packs Kestrane Server commands that begin with "set " into MIDI System
Exclusive messages written as hex text, one output line per command.
Commands are the arguments or, when there are none, the lines of standard
input (LF or CR LF line ends). Input and output are UTF-8.

--receive is the other end: it prints each System Exclusive message that
arrives, a Vantrel message as the text above (with --decode its command,
with --syx its bytes), any other as upper-case hex (F0 7E 7F 06 01 F7).
--decode --syx and --send --syx read what --receive --syx wrote: a .syx
stream of System Exclusive messages, Vantrel's or not.

)";

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
    bool syxIn = false;               // the input is a .syx stream
    const Argument* input = nullptr;  // --input's FILE
    const Argument* output = nullptr; // --output's FILE
    std::vector<const Argument*> commands;
};

// A whole number in the option's range, in decimal digits only.
std::optional<std::uint64_t> ParseNumber(std::string_view text, OptionId id) {
    const ValueRange& range = Option(id).range;
    std::uint64_t value = 0;
    for (const char digit : text) {
        if (digit < '0' || digit > '9' || value > range.highest) {
            return std::nullopt;
        }
        value = value * 10 + static_cast<unsigned>(digit - '0');
    }
    if (text.empty() || value < range.lowest || value > range.highest) {
        return std::nullopt;
    }
    return value;
}

// Parses the options; on bad usage reports the first problem on `err` and
// returns nothing.
std::optional<Options> ParseOptions(const std::vector<Argument>& arguments, std::ostream& err) {
    Options options;
    options.pacing.bytesPerSecond = Option(OptionId::Rate).range.fallback;
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
        const Argument* valueArgument = nullptr;
        if (option->value != ValueKind::None) {
            if (next == arguments.end() || next->invalid) {
                fail("option '" + ToUtf8(a) + "' needs a value in UTF-8");
                continue;
            }
            valueArgument = &*next;
            value = ToUtf8((next++)->units);
        }
        // "--rate takes a whole number of bytes a second from 1 to 10000000"
        auto badNumber = [&](std::string_view what) {
            fail(std::string(option->name) + " takes a whole number " + std::string(what) +
                 "from " + RangeText(option->range));
        };
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
            } else if (const auto rate = ParseNumber(value, option->id)) {
                options.pacing.bytesPerSecond = *rate;
            } else {
                fail("--rate takes a whole number of bytes a second from " +
                     RangeText(option->range) + ", or max");
            }
            break;
        case OptionId::Interval:
            paced = true;
            if (const auto interval = ParseNumber(value, option->id)) {
                options.pacing.interval = std::chrono::milliseconds(*interval);
            } else {
                badNumber("of milliseconds ");
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
            if (const auto count = ParseNumber(value, option->id)) {
                options.count = *count;
            } else {
                badNumber("");
            }
            break;
        case OptionId::Timeout:
            if (const auto ms = ParseNumber(value, option->id)) {
                options.timeout = std::chrono::milliseconds(*ms);
            } else {
                badNumber("of milliseconds ");
            }
            break;
        case OptionId::Input:
        case OptionId::Output: {
            const Argument*& file = option->id == OptionId::Input ? options.input : options.output;
            if (file != nullptr) {
                fail(std::string(option->name) + " may be given once");
            } else if (value.empty()) {
                fail(std::string(option->name) + " needs a file name");
            }
            file = valueArgument;
            break;
        }
        }
    }
    // --syx with --decode or --send: a .syx stream comes in.
    options.syxIn = syx && (decode || options.sendTo) && !options.receiveFrom;
    if (options.sendTo && decode) {
        fail("--send cannot be used with --decode");
    }
    if (syx && decode && options.receiveFrom) {
        fail("--syx and --decode cannot be used together with --receive");
    }
    if (options.syxIn && !options.commands.empty()) {
        fail("--syx with --decode or --send reads a .syx stream and takes no commands");
    }
    if (options.input && (!options.commands.empty() || options.receiveFrom)) {
        fail("--input cannot be used with commands or --receive");
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
    options.mode = decode ? Mode::Decode : syx && !options.syxIn ? Mode::Syx : Mode::Text;
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

// Opens --input's or --output's file, in binary. On failure says why on
// `err` and returns false.
template <typename FileStream>
bool OpenFile(FileStream& file, const Argument& name, std::ios::openmode mode, std::ostream& err) {
    errno = 0;
    file.open(std::filesystem::path(name.units), mode | std::ios::binary);
    if (!file.is_open()) {
        const int error = errno;
        WriteError(err, {"cannot open " + ToUtf8(name.units) +
                         (error != 0 ? ": " + std::string(std::strerror(error)) : "")});
        return false;
    }
    return true;
}

} // namespace

namespace {

// Whether a run that ended with `status` (before any stop the user asked
// for) ended well enough to replace --output's file: the statuses of
// commands and values refused one by one leave the file whole.
bool EndedWell(int status) {
    return status == kAllAccepted || status == kRefused || status == kNotData;
}

// Runs what the options ask, reading `in` and answering on `out`; the
// status of the run before any stop request, which the caller ranks.
// `escapeControls`: `out` is a terminal, which gets control characters
// escaped.
int RunWithStreams(const Options& options, std::istream& in, std::ostream& out, bool escapeControls,
                   std::ostream& err, const ToolReach& reach, RunClock& clock);

} // namespace

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& standardIn,
                   std::ostream& standardOut, std::ostream& err, const ToolReach& reach) {
    SystemClock systemClock(false);
    RunClock& clock = reach.clock != nullptr ? *reach.clock : systemClock;
    const std::optional<Options> options = ParseOptions(arguments, err);
    if (!options) {
        return kBadInput;
    }
    std::ifstream inputFile;
    if (options->input && !OpenFile(inputFile, *options->input, std::ios::in, err)) {
        return kBadInput;
    }
    if (!options->output) {
        const int status = RunWithStreams(*options, options->input ? inputFile : standardIn,
                                          standardOut, reach.outputIsTerminal, err, reach, clock);
        return clock.StopStatus() != 0 ? clock.StopStatus() : status;
    }
    // --output is checked before anything is read or written: that it can
    // be written, and that it is not the file being read.
    const std::filesystem::path path(options->output->units);
    const auto reading = options->input ? IdentifyFile(std::filesystem::path(options->input->units))
                                        : reach.standardInput;
    if (const auto writing = IdentifyFile(path); reading && writing && *reading == *writing) {
        WriteError(err, {"cannot write the output to " + ToUtf8(options->output->units) +
                         ": it is the file being read"});
        return kBadInput;
    }
    OutputFile outputFile(path);
    if (const auto problem = outputFile.Prepare()) {
        WriteError(err, {*problem});
        return kBadInput;
    }
    std::ostream out(&outputFile);
    int status = RunWithStreams(*options, options->input ? inputFile : standardIn, out,
                                outputFile.IsTerminal(), err, reach, clock);
    // A run the user stopped counts by the status it had: that is how an
    // open-ended capture ends.
    const OutputFile::Ending ending = outputFile.Finish(EndedWell(status));
    if (!ending.say.empty()) {
        WriteError(err, {ending.say});
    }
    status = ending.failed ? kBadInput : status;
    return clock.StopStatus() != 0 ? clock.StopStatus() : status;
}

namespace {

int RunWithStreams(const Options& options, std::istream& in, std::ostream& out, bool escapeControls,
                   std::ostream& err, const ToolReach& reach, RunClock& clock) {
    NoPorts noPorts;
    NoInputs noInputs;
    midi_ports::Ports& ports = reach.ports != nullptr ? *reach.ports : noPorts;
    midi_ports::Inputs& inputs = reach.inputs != nullptr ? *reach.inputs : noInputs;
    BufferedOutput output(out, err);
    if (options.help || options.version) {
        if (options.help) {
            output.Pending() = std::string(kUsage) + OptionHelp() + HelpNotes();
        } else {
            output.Pending() = VANTREL_VERSION "\n";
        }
        return output.Flush() ? kAllAccepted : kBadInput;
    }

    if (options.listPorts || options.listInputs) {
        bool answered = true;
        if (options.listPorts) {
            answered = ListPorts(ports, midi_ports::kOutputPorts, output.Pending(), err);
        }
        if (options.listInputs) {
            answered = ListPorts(inputs, midi_ports::kSources, output.Pending(), err) && answered;
        }
        if (!output.Flush()) {
            return kBadInput;
        }
        return answered ? kAllAccepted : kPortFailed;
    }
    if (options.receiveFrom) {
        return Receive(
            inputs,
            {*options.receiveFrom, options.mode, options.count, options.timeout, escapeControls},
            output, err, clock);
    }
    std::optional<Sender> sender;
    if (options.sendTo) {
        sender.emplace(ports, *options.sendTo, options.pacing, clock, err);
        if (!sender->Error().empty()) {
            WriteError(err, sender->Error());
            return kPortFailed;
        }
    }

    Report report(err);
    Session session(options.mode, options.check, output, report, reach.pieceBytes,
                    sender ? &*sender : nullptr, escapeControls);
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
            report.Note(kBadInput);
        }
        // What was sent is delivered, also when the output failed or a stop
        // was requested; after a failure there is nothing more to wait for.
        if (sender) {
            if (const auto error = sender->Finish()) {
                session.Halt(*error);
            }
        }
        // A stop request outranks this status; the caller applies it.
        return report.Status();
    };
    // A send that failed ends the run early: what was never handed on is
    // named too, from `next` on, up to `last` where the input's end is
    // known (a list of arguments, a file), or as "on" where it may not end.
    const auto sendFailed = [&] { return sender && session.Stopped() && clock.StopStatus() == 0; };
    const auto unsent = [&](const char* kind, std::size_t next, std::optional<std::size_t> last) {
        if (!sendFailed() || (last && *last < next)) {
            return false;
        }
        const std::string from = std::string(kind) + " " + std::to_string(next);
        report.Error({(!last           ? from + " on"
                       : *last == next ? from
                                       : std::string(kind) + "s " + std::to_string(next) + "-" +
                                             std::to_string(*last)) +
                      ": not sent"},
                     kPortFailed);
        return true;
    };
    if (!options.commands.empty()) {
        std::size_t number = 0;
        for (const Argument* argument : options.commands) {
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
        unsent("argument", number + 1, options.commands.size());
        return finish();
    }

    // Every answer goes out before the reader may wait for more input, and
    // the wait ends when a stop is requested. A file is not waited on; once
    // a send has failed, a file is read to its end to count what was not
    // sent.
    bool counting = false;
    LineReader reader(*in.rdbuf(), [&] {
        return counting ||
               (output.Flush() && goOn() && (options.input ? true : clock.WaitForInput(goOn)));
    });
    // The places left in a file's input after `number` when a send failed,
    // or nothing when the input may not end.
    const auto countRest = [&](std::size_t number, auto countOne) -> std::optional<std::size_t> {
        const bool inputIsFile = options.input ? IdentifyFile(options.input->units).has_value()
                                               : reach.standardInput.has_value();
        if (!sendFailed() || !inputIsFile) {
            return std::nullopt;
        }
        counting = true;
        while (countOne()) {
            ++number;
        }
        return number;
    };
    std::size_t number = 0;
    if (options.syxIn) {
        // A .syx stream: each System Exclusive message, put together as a
        // receiver would, named "message N" from 1.
        midi_ports::SysexAssembler assembler;
        const auto malformed = [&](const std::string& why) {
            report.Fail(Place{"message", ++number},
                        std::string("malformed, not ") + (sender ? "sent" : "decoded") + ": " + why,
                        kBadInput);
        };
        std::string_view chunk;
        std::span<const std::uint8_t> bytes;
        std::size_t at = 0;
        const auto nextChunk = [&] {
            if (reader.NextBytes(chunk) != LineReader::Result::Line) {
                return false;
            }
            bytes = std::span(reinterpret_cast<const std::uint8_t*>(chunk.data()), chunk.size());
            at = 0;
            return true;
        };
        while (goOn() && nextChunk()) {
            while (at < bytes.size() && goOn()) {
                switch (assembler.Take(bytes, at)) {
                case midi_ports::SysexAssembler::Result::Complete:
                    session.Message(assembler.Message(), Place{"message", ++number});
                    break;
                case midi_ports::SysexAssembler::Result::Cut:
                    malformed(DescribeCut(assembler));
                    break;
                case midi_ports::SysexAssembler::Result::More:
                    break;
                }
            }
        }
        if (goOn() && assembler.Cut()) {
            malformed("cut short: the input ended before its F7");
        }
        if (reader.Failed()) {
            report.Error({"cannot read the input"}, kBadInput);
        }
        // Counted as they would have come: each message whole or cut.
        unsent("message", number + 1, countRest(number, [&] {
                   for (;;) {
                       if (at >= bytes.size() && !nextChunk()) {
                           return assembler.Cut();
                       }
                       if (assembler.Take(bytes, at) != midi_ports::SysexAssembler::Result::More) {
                           return true;
                       }
                   }
               }));
        return finish();
    }
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
        report.Fail(Place{"line", number + 1}, "cannot read the input", kBadInput);
    }
    unsent("line", number + 1,
           countRest(number, [&] { return reader.Next() != LineReader::Result::End; }));
    return finish();
}

} // namespace

} // namespace cli
