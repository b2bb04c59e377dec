// The run of vantrel-convert: the options read, --input's and --output's
// files opened, and the mode that the options ask for picked (Modes.h).
// The short modes live here; the others have files of their own.
#include "Tool.h"

#include "BufferedOutput.h"
#include "FileIdentity.h"
#include "Interrupt.h"
#include "MidiPorts.h"
#include "Modes.h"
#include "Options.h"
#include "OutputFile.h"
#include "Receiving.h"
#include "Sending.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <istream>
#include <ostream>

#ifndef VANTREL_VERSION
#error "VANTREL_VERSION must be defined by the build"
#endif

namespace cli {

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

// Whether a run that ended with `status` (before any stop the user asked
// for) ended well enough to replace --output's file: the statuses of
// commands and values refused one by one leave the file whole.
bool EndedWell(int status) {
    return status == kAllAccepted || status == kRefused || status == kNotData;
}

// Runs the mode the options ask for, reading `in` and answering on `out`;
// the status of the run before any stop request, which the caller ranks.
// `escapeControls`: `out` is a terminal, which gets control characters
// escaped.
int RunWithStreams(const ParsedOptions& options, std::istream& in, std::ostream& out,
                   bool escapeControls, std::ostream& err, const ToolReach& reach,
                   RunClock& clock) {
    NoPorts noPorts;
    NoInputs noInputs;
    BufferedOutput output(out, err);
    const RunContext run{options,
                         in,
                         output,
                         escapeControls,
                         err,
                         reach,
                         reach.ports != nullptr ? *reach.ports : noPorts,
                         reach.inputs != nullptr ? *reach.inputs : noInputs,
                         clock};
    if (options.help || options.version) {
        return ShowHelpOrVersion(run);
    }
    if (options.listPorts || options.listInputs) {
        return ListPortsAndSources(run);
    }
    if (options.receiveFrom != nullptr) {
        return ReceiveFromSource(run);
    }
    if (!options.commands.empty()) {
        return ConvertArguments(run);
    }
    return options.SyxIn() ? ReadSyxStream(run) : ConvertLines(run);
}

} // namespace

int ShowHelpOrVersion(const RunContext& run) {
    run.output.Pending() = run.options.help ? HelpText() : VANTREL_VERSION "\n";
    return run.output.Flush() ? kAllAccepted : kBadInput;
}

int ListPortsAndSources(const RunContext& run) {
    bool answered = true;
    if (run.options.listPorts) {
        answered = ListPorts(run.ports, midi_ports::kOutputPorts, run.output.Pending(), run.err);
    }
    if (run.options.listInputs) {
        answered =
            ListPorts(run.inputs, midi_ports::kSources, run.output.Pending(), run.err) && answered;
    }
    if (!run.output.Flush()) {
        return kBadInput;
    }
    return answered ? kAllAccepted : kPortFailed;
}

int ReceiveFromSource(const RunContext& run) {
    const ParsedOptions& options = run.options;
    return Receive(run.inputs,
                   {ToUtf8(options.receiveFrom->units), options.Writes(), options.count,
                    options.timeout, run.escapeControls},
                   run.output, run.err, run.clock);
}

int RunConvertTool(const std::vector<Argument>& arguments, std::istream& standardIn,
                   std::ostream& standardOut, std::ostream& err, const ToolReach& reach) {
    SystemClock systemClock(false);
    RunClock& clock = reach.clock != nullptr ? *reach.clock : systemClock;
    const std::optional<ParsedOptions> options = ParseOptions(arguments, err);
    if (!options) {
        return kBadInput;
    }
    std::ifstream inputFile;
    if (options->input && !OpenFile(inputFile, *options->input, std::ios::in, err)) {
        return kBadInput;
    }
    std::istream& in = options->input ? inputFile : standardIn;
    if (!options->output) {
        const int status =
            RunWithStreams(*options, in, standardOut, reach.outputIsTerminal, err, reach, clock);
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
    int status = RunWithStreams(*options, in, out, outputFile.IsTerminal(), err, reach, clock);
    // A run the user stopped counts by the status it had: that is how an
    // open-ended capture ends.
    const OutputFile::Ending ending = outputFile.Finish(EndedWell(status));
    if (!ending.say.empty()) {
        WriteError(err, {ending.say});
    }
    status = ending.failed ? kBadInput : status;
    return clock.StopStatus() != 0 ? clock.StopStatus() : status;
}

} // namespace cli
