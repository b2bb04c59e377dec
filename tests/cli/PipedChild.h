// vantrel-convert started as a child process whose standard input and
// output are pipes held by the test, for the tests that need to watch it
// while it runs: a reader that goes away, the memory a long line takes, and
// signals that stop it.
#pragma once

#include "ProgramRun.h"

#include <chrono>
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

class PipedChild {
  public:
    // Starts the program beside the test with `args`. Standard error goes
    // to a file, read by Errors(). With `addressSpace` (not on Windows), the
    // child may map at most that many bytes.
    explicit PipedChild(const std::vector<ProgramArgument>& args,
                        std::optional<std::size_t> addressSpace = std::nullopt);
    ~PipedChild();
    PipedChild(const PipedChild&) = delete;
    PipedChild& operator=(const PipedChild&) = delete;

    bool Started() const;
    // Writes to the child's input; false once that fails.
    bool Write(std::string_view bytes);
    void CloseInput();
    // Reads up to `size` bytes of the child's output; empty at its end.
    std::string Read(std::size_t size);
    void CloseOutput();
#ifndef _WIN32
    // Sends the child `signal`.
    void Signal(int signal);
#endif
    // The child's peak memory in bytes, read while it still runs (Windows).
    std::size_t PeakMemoryNow();
    // Waits for the child's end: its exit status (128 + the signal if one
    // ended it), or -1 if it is still running at the deadline (it is then
    // killed).
    int Wait(std::chrono::seconds deadline);
    // After Wait: the child's peak memory in bytes (not on Windows).
    std::size_t PeakMemoryAtExit() const {
        return peakAtExit_;
    }
    std::string Errors() const;

  private:
    struct Handles;
    Handles* handles_;
    std::string errorFile_;
    std::size_t peakAtExit_ = 0;
};
