// The words a run of vantrel-convert is described in, shared by the option
// parser, the modes and their parts: an argument as it came, what a run
// writes for each command or message, the pace of --send, and the clock a
// run waits by.
#pragma once

#include "Utf8.h"

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

namespace cli {

// One command-line argument as UTF-16 code units. On Windows these come
// straight from the UTF-16 command line; elsewhere from UTF-8 bytes, which
// may be ill-formed.
struct Argument {
    std::u16string units;
    std::optional<Utf8Error> invalid;
};

Argument ArgumentFromUtf8(std::string_view bytes);

// What a run writes for each command or message: text, raw bytes (.syx) or
// the commands that messages carry.
enum class Mode { Text, Syx, Decode };

// The pace at which --send hands messages on (Pacer.h).
struct Pacing {
    // Bytes a second; nothing for as fast as the back end takes them. The
    // tool's default is --rate's in the option table (Options.h).
    std::optional<std::uint64_t> bytesPerSecond;
    // The least time from the start of one message to the start of the next.
    std::chrono::milliseconds interval{0};
};

// The clock a run paces its messages by, and the stop requests (Ctrl-C,
// SIGINT, SIGTERM) that cut its waits short. The tool's is the monotonic
// clock of the system (Interrupt.h); tests put in one whose time moves only
// when it is waited on.
class RunClock {
  public:
    using TimePoint = std::chrono::steady_clock::time_point;

    virtual ~RunClock() = default;

    virtual TimePoint Now() = 0;

    // Waits until `when`. False when a stop was requested, before or during
    // the wait.
    virtual bool WaitUntil(TimePoint when) = 0;

    // Before a read of input that may wait: waits until the input can be
    // read, and returns false when a stop was requested first, or when
    // `goOn`, asked every tenth of a second meanwhile, says to stop.
    virtual bool WaitForInput(const std::function<bool()>& goOn) {
        return StopStatus() == 0 && goOn();
    }

    // 0 while no stop was requested; then the exit status it asks for, 130
    // (SIGINT, Ctrl-C, Ctrl-Break) or 143 (SIGTERM).
    virtual int StopStatus() = 0;
};

} // namespace cli
