// Spacing messages out; see Pacer.h.
#include "Pacer.h"

#include "MidiPorts.h"

#include <algorithm>

namespace cli {

bool Pacer::Start(std::size_t bytes) {
    RunClock::TimePoint start = clock_.Now();
    if (next_ && start < *next_) {
        if (!clock_.WaitUntil(*next_)) {
            return false;
        }
        // Counted from when it was due, so that the time a wake-up takes
        // does not add up over many messages.
        start = *next_;
    }
    std::chrono::nanoseconds spacing = pacing_.interval;
    if (pacing_.bytesPerSecond) {
        spacing = std::max(spacing, midi_ports::TimeAtRate(bytes, *pacing_.bytesPerSecond));
    }
    next_ = start + spacing;
    return true;
}

} // namespace cli
