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

#include "RunTypes.h"

#include <cstddef>
#include <optional>

namespace cli {

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
