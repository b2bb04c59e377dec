// The modes of vantrel-convert, one function each, as Tool.cpp picks them
// from the options: each opens what it needs, loops over what comes, and
// finishes, returning the status of the run before any stop request (which
// the caller ranks above it).
//
//   ShowHelpOrVersion   --help, --version
//   ListPortsAndSources --list-ports, --list-inputs
//   ReceiveFromSource   --receive (Receiving.h)
//   ConvertArguments    commands given as arguments, converted or sent
//   ConvertLines        commands as the lines of the input, converted or sent
//   ReadSyxStream       --decode --syx, --send --syx: the messages of a .syx
//                       stream, decoded or sent
#pragma once

#include "BufferedOutput.h"
#include "Options.h"
#include "RunTypes.h"
#include "Tool.h"

#include <iosfwd>

namespace cli {

// What a mode works with.
struct RunContext {
    const ParsedOptions& options;
    std::istream& in;       // standard input or --input's file
    BufferedOutput& output; // standard output or --output's file
    bool escapeControls;    // the output is a terminal: decoded commands get escaped
    std::ostream& err;
    const ToolReach& reach;   // piece size, the file standard input reads
    midi_ports::Ports& ports; // for --list-ports and --send
    midi_ports::Inputs& inputs;
    RunClock& clock;
};

int ShowHelpOrVersion(const RunContext& run);
int ListPortsAndSources(const RunContext& run);
int ReceiveFromSource(const RunContext& run);
int ConvertArguments(const RunContext& run);
int ConvertLines(const RunContext& run);
int ReadSyxStream(const RunContext& run);

} // namespace cli
