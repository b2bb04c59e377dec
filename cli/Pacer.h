// The pace at which --send hands messages on.
//
// A MIDI cable carries 3,125 bytes a second, and a receiver behind one
// (or behind a port that may lead to one: the tool cannot know) drops what
// comes faster than its buffer drains; the ALSA sequencer and WinMM cannot
// even tell the sender. So every back end gets the messages spaced out here:
// a message starts no sooner than the previous one's start plus the larger
// of its bytes at the rate and the interval. The wait is counted on a
// monotonic clock from the previous start, so time spent waiting for input
// counts towards it, and a pause is never made up by a burst after it.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>

namespace cli {

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

struct Pacing {
    // Bytes a second; nothing for as fast as the back end takes them. The
    // tool's default is --rate's in the option table (Options.h).
    std::optional<std::uint64_t> bytesPerSecond;
    // The least time from the start of one message to the start of the next.
    std::chrono::milliseconds interval{0};
};

class Pacer {
  public:
    Pacer(Pacing pacing, RunClock& clock) : pacing_(pacing), clock_(clock) {}

    // Waits until a message may start, and counts it as started then; its
    // size sets the spacing to the next. False, counting nothing, when a
    // stop cut the wait short.
    bool Start(std::size_t bytes);

  private:
    const Pacing pacing_;
    RunClock& clock_;
    std::optional<RunClock::TimePoint> next_; // the earliest start of the next message
};

} // namespace cli
