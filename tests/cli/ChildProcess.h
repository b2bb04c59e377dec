// The one way the tests start programs: vantrel-convert (natively by its
// full path, under Wine the vantrel-convert.exe beside the test program),
// and natively the JACK server and its clients. The child's standard input
// is a pipe held by the test; its output goes to a pipe and its errors to a
// file of their own, or both to one given file. A child still running when
// the object goes is stopped: natively asked with SIGINT, then killed after
// a deadline (a JACK server killed outright keeps its entry in libjack's
// registry of servers for good); on Windows terminated. Natively each child
// is also told by the kernel to stop should the test process die first.
#pragma once

#include <chrono>
#include <cstddef>
#include <memory>
#include <optional>
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

// The command line that runs vantrel-convert with `args`: its path first
// (natively, VANTREL_CONVERT_UNDER_TEST's if that is set).
std::vector<ProgramArgument> ToolCommand(const std::vector<ProgramArgument>& args);

struct ChildOptions {
    // Standard output and error both to this file, instead of a pipe and a
    // file of their own.
    std::string outputFile{};
    // Natively, the most bytes the child may map, and the largest file it
    // may write.
    std::optional<std::size_t> addressSpace{};
    std::optional<std::size_t> fileSize{};
};

class ChildProcess {
  public:
    // Starts command[0] (natively found through PATH when it has no slash)
    // with the rest as its arguments; Started() says whether it did.
    explicit ChildProcess(const std::vector<ProgramArgument>& command,
                          const ChildOptions& options = {});
    ~ChildProcess();
    ChildProcess(const ChildProcess&) = delete;
    ChildProcess& operator=(const ChildProcess&) = delete;

    bool Started() const;
    // Started and not ended yet.
    bool Running();
    // Writes to the child's input; false once that fails.
    bool Write(std::string_view bytes);
    void CloseInput();
    // Reads up to `size` bytes of the child's output; empty at its end.
    std::string Read(std::size_t size);
    void CloseOutput();
#ifndef _WIN32
    // Sends the child `signal`.
    void Signal(int signal);
    // How many threads the child runs now (0 once it has ended).
    std::size_t Threads() const;
#endif
    // Waits for the child's end: its exit status (128 + the signal if one
    // ended it), or -1 if it is still running at the deadline (it is then
    // killed).
    int Wait(std::chrono::milliseconds deadline);
    // The child's peak memory in bytes so far: on Windows while it runs,
    // natively once it has ended (0 before).
    std::size_t PeakMemory();
    // What the child wrote to its standard error (without outputFile).
    std::string Errors() const;

  private:
    struct Handles;
    std::unique_ptr<Handles> handles_;
    std::string errorFile_;
};

struct Finished {
    int status; // the exit status, or -1 (with a test failure) when it could not run
    std::string out;
    std::string err;
};

// Runs vantrel-convert with `input` on its standard input and waits for it
// to end, for up to two minutes.
Finished RunProgram(const std::vector<ProgramArgument>& args, const std::string& input = {});
