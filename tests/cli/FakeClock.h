// A clock for the tests of pacing: its time moves only when it is waited
// on (or moved on by the test), so a schedule is checked exactly and at
// once. It records each wait, and can act as if a stop had been requested
// during one of them.
#pragma once

#include "RunTypes.h"

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <string>
#include <vector>

namespace cli {

class FakeClock final : public RunClock {
  public:
    using Duration = TimePoint::duration;

    // The start of time, as the tests count it.
    static TimePoint Zero() { return TimePoint(std::chrono::hours(1)); }

    TimePoint now = Zero();
    std::size_t stopAtWait = SIZE_MAX; // the wait (counted from 0) during which a stop comes
    int stopStatus = 0;
    std::vector<std::string>* log = nullptr; // when set, each wait is added as "wait 45667us"

    // The time since Zero(), in whole microseconds.
    long long Micros() const { return Whole(now - Zero()); }

    TimePoint Now() override { return now; }

    bool WaitUntil(TimePoint when) override {
        if (waits_++ == stopAtWait) {
            stopStatus = 130;
        }
        if (stopStatus != 0) {
            return false;
        }
        if (log != nullptr) {
            log->push_back(
                "wait " +
                std::to_string(
                    std::chrono::duration_cast<std::chrono::microseconds>(when - now).count()) +
                "us");
        }
        now = std::max(now, when);
        return true;
    }

    int StopStatus() override { return stopStatus; }

  private:
    static long long Whole(Duration time) {
        return std::chrono::duration_cast<std::chrono::microseconds>(time).count();
    }
    std::size_t waits_ = 0;
};

} // namespace cli
