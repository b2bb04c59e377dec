// Stopping a run from outside: Ctrl-C, SIGINT and SIGTERM (Ctrl-C and
// Ctrl-Break through the console handler on Windows).
//
// The first request only asks the run to stop: it stops reading input at
// once, finishes the message it is handing on (a System Exclusive message
// cut short leaves a receiver waiting for its F7), drains what it handed on
// within the usual deadline, and exits 130 (SIGINT, Ctrl-C, Ctrl-Break) or
// 143 (SIGTERM), statuses that rank above all others. A second request ends
// the process at once with that status.
//
// A request must wake the run wherever it waits: in a pause between two
// messages (SleepUntil), and in a read of standard input. The C++ streams
// retry a read that a signal interrupts, so the run does not read until
// WaitForStandardInput says there is something to read: it waits for the
// input and for the request together (a pipe written by the signal handler,
// or an event set by the console handler). Waits of one's own can do the
// same with Descriptor() or Event().
#pragma once

#include "RunTypes.h"

#include <chrono>
#include <functional>

#ifdef _WIN32
#include <windows.h>
#endif

namespace cli {

namespace interrupt {

// Installs the handlers. Once, at the start of the program.
void Install();

// 0 until a stop is requested; then the exit status it asks for.
int Status();

// Waits until `deadline` on the monotonic clock. False at once when a stop
// is requested, before or during the wait.
bool SleepUntil(std::chrono::steady_clock::time_point deadline);

// Waits until standard input can be read without blocking (data, its end,
// or an error are there to see). False when a stop is requested first, or
// when `goOn`, asked every tenth of a second meanwhile, says to stop.
bool WaitForStandardInput(const std::function<bool()>& goOn);

#ifdef _WIN32
// A manual-reset event, set once a stop is requested.
HANDLE Event();
#else
// A descriptor that becomes readable once a stop is requested, and stays so.
int Descriptor();
#endif

} // namespace interrupt

// The system's monotonic clock, whose waits a stop request cuts short.
class SystemClock final : public RunClock {
  public:
    // `watchesInput`: the run reads the process's standard input, so
    // WaitForInput waits on it.
    explicit SystemClock(bool watchesInput) : watchesInput_(watchesInput) {}

    TimePoint Now() override { return std::chrono::steady_clock::now(); }
    bool WaitUntil(TimePoint when) override { return interrupt::SleepUntil(when); }
    bool WaitForInput(const std::function<bool()>& goOn) override {
        return watchesInput_ ? interrupt::WaitForStandardInput(goOn)
                             : interrupt::Status() == 0 && goOn();
    }
    int StopStatus() override { return interrupt::Status(); }

  private:
    const bool watchesInput_;
};

} // namespace cli
