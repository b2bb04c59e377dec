// The receiver's rule for missed periods; see PeriodTimes.h.
#include "PeriodTimes.h"

namespace midi_ports {

PeriodTimes::Verdict PeriodTimes::Next(std::uint32_t start, std::uint32_t frames) {
    Verdict verdict;
    if (!ran_) {
        ran_ = true;
        expected_ = start + frames;
        return verdict;
    }
    // Frame times wrap around at 2^32: the difference is taken modulo that.
    auto ahead = static_cast<std::int32_t>(start - expected_);
    if (unsure_) {
        unsure_ = false;
        // expected_ holds the time the Unsure callback read: a late read
        // reads it again now.
        if (ahead <= 0) {
            verdict.last = Settled::LateRead;
        } else {
            verdict.last = Settled::Missed;
            ahead -= static_cast<std::int32_t>(frames);
        }
    }
    if (ahead == static_cast<std::int32_t>(frames)) {
        verdict.now = Timing::Unsure;
        unsure_ = true;
        expected_ = start;
        return verdict;
    }
    verdict.now = ahead > 0 ? Timing::Missed : Timing::OnTime;
    expected_ = start + frames;
    return verdict;
}

} // namespace midi_ports
