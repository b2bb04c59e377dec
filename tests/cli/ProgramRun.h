// Running the built vantrel-convert as a process, for the tests that need
// the real program: natively by its full path, under Wine the Windows
// vantrel-convert.exe that sits beside the test program. Arguments are bytes
// natively and UTF-16 code units on Windows, so each platform's way of
// reading them is tested.
#pragma once

#include <string>
#include <string_view>
#include <vector>

#ifdef _WIN32
using ProgramArgument = std::u16string; // passed on as UTF-16 code units
#else
using ProgramArgument = std::string; // passed on as bytes
#endif

// The argument for these code units: themselves on Windows, UTF-8 elsewhere.
ProgramArgument Arg(std::u16string_view units);

// What starts the program with `args`. On Windows: its path and the whole
// command line, each argument quoted so that CommandLineToArgvW gives it
// back unchanged. Elsewhere: the argument words, the program's path first,
// and the argv that points into them (valid while the words live).
#ifdef _WIN32
std::wstring ProgramPath();
std::wstring CommandLine(const std::vector<ProgramArgument>& args);
#else
std::vector<std::string> CommandWords(const std::vector<ProgramArgument>& args);
std::vector<char*> Argv(std::vector<std::string>& words);
#endif

struct Finished {
    int status; // the exit status, or -1 (with a test failure) when it could not run
    std::string out;
    std::string err;
};

// Runs vantrel-convert with `input` on its standard input, through files in
// the temporary directory, and waits for it to end.
Finished RunProgram(const std::vector<ProgramArgument>& args, const std::string& input = {});
