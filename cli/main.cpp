// The vantrel-convert program: gathers the arguments as UTF-16 code units,
// puts the standard streams in binary mode on Windows, installs the
// handlers of Ctrl-C, SIGINT and SIGTERM, and runs the tool with the
// platform's MIDI back ends, for sending and for receiving, telling it
// whether standard output is a terminal.
#include "Interrupt.h"
#include "SystemPorts.h"
#include "Tool.h"

#include <cstdlib>
#include <iostream>
#include <memory>
#include <vector>

#ifdef _WIN32
#include <windows.h>

#include <fcntl.h>
#include <io.h>
#include <shellapi.h>

#include <cstdio>
#include <cwchar>
#else
#include <csignal>

#include <unistd.h>
#endif

int main([[maybe_unused]] int argc, [[maybe_unused]] char** argv) {
    std::vector<cli::Argument> arguments;
#ifdef _WIN32
    // The arguments are taken from the UTF-16 command line, so characters
    // the ANSI code page lacks arrive intact, lone surrogates included.
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    int count = 0;
    wchar_t** const wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (wide == nullptr) {
        std::fputs("vantrel-convert: cannot read the command line\n", stderr);
        return cli::kBadInput;
    }
    for (int i = 1; i < count; ++i) {
        cli::Argument argument;
        for (const wchar_t* unit = wide[i]; *unit != L'\0'; ++unit) {
            argument.units += static_cast<char16_t>(*unit);
        }
        arguments.push_back(std::move(argument));
    }
    LocalFree(wide);
    // Bytes in and out exactly: no CR LF translation, no end at Ctrl-Z.
    _setmode(_fileno(stdin), _O_BINARY);
    _setmode(_fileno(stdout), _O_BINARY);
    _setmode(_fileno(stderr), _O_BINARY);
#else
    for (int i = 1; i < argc; ++i) {
        arguments.push_back(cli::ArgumentFromUtf8(argv[i]));
    }
#endif
    // Buffered streams of their own rather than ones synchronised with C stdio.
    std::ios::sync_with_stdio(false);
    // Input is read in large blocks: the C library's default (512 bytes with
    // MinGW) would make a read, and a flush of the answers, every few lines.
    static char inputBuffer[64 * 1024];
    std::cin.rdbuf()->pubsetbuf(inputBuffer, sizeof inputBuffer);
    cli::interrupt::Install();
    cli::SystemClock clock(true);
    midi_ports::BackEndHooks hooks;
    hooks.stopRequested = [] { return cli::interrupt::Status() != 0; };
    midi_ports::MidiBackEnds backEnds = midi_ports::MakeSystemBackEnds(hooks);
    cli::ToolReach reach;
    reach.ports = backEnds.ports.get();
    reach.inputs = backEnds.inputs.get();
    reach.clock = &clock;
#ifdef _WIN32
    reach.outputIsTerminal = _isatty(_fileno(stdout)) != 0;
#else
    reach.outputIsTerminal = isatty(STDOUT_FILENO) != 0;
    // A file size limit makes a write fail ("File too large"), which the
    // tool reports, rather than end the process unseen.
    signal(SIGXFSZ, SIG_IGN);
#endif
    reach.standardInput = cli::IdentifyStandardInput();
    int status = cli::RunConvertTool(arguments, std::cin, std::cout, std::cerr, reach);
    // A stop request outranks every other status, also where it cut a
    // listing short.
    status = cli::interrupt::Status() != 0 ? cli::interrupt::Status() : status;
    // Closes the back ends, each within its deadline.
    backEnds.ports.reset();
    backEnds.inputs.reset();
    if (backEnds.stalled()) {
        // A back end's library is stuck in a call: no destructor or exit
        // handler may run, but what was written goes out.
        std::cout.flush();
        std::cerr.flush();
        std::_Exit(status);
    }
    return status;
}
