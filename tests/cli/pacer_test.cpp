// The pace of --send on a clock that moves only when waited on: when each
// message starts, for sizes, rates, intervals and pauses in the input.
#include "FakeClock.h"
#include "Options.h"
#include "Pacer.h"

#include <gtest/gtest.h>

#include <vector>

using namespace cli;

namespace {

using namespace std::chrono_literals;

// 137 bytes at 3,000 bytes a second, rounded up to a nanosecond.
constexpr long long k137 = 45'666'667;

struct Step {
    std::size_t bytes;
    std::chrono::nanoseconds before; // time the input took to bring the message
};

TEST(Pacer, EachMessageStartsAtTheLaterOfNowAndThePreviousStartPlusItsSpacing) {
    const std::optional<std::uint64_t> max;
    const std::uint64_t rate = *OptionNamed("--rate").range.fallback; // --rate's default
    const struct {
        const char* what;
        Pacing pacing;
        std::vector<Step> steps;
        std::vector<long long> starts; // nanoseconds from the first
    } cases[] = {
        {"the default rate: the previous message's bytes at 3000 a second",
         {rate, 0ms},
         {{137, 0ns}, {15, 0ns}, {137, 0ns}},
         {0, k137, k137 + 5'000'000}},
        {"a cable's rate: 320 microseconds a byte, ten bits to a byte",
         {3125, 0ms},
         {{1, 0ns}, {137, 0ns}, {1, 0ns}},
         {0, 320'000, 320'000 + 43'840'000}},
        {"the interval, when longer than the bytes take",
         {rate, 100ms},
         {{137, 0ns}, {137, 0ns}},
         {0, 100'000'000}},
        {"the bytes, when they take longer than the interval",
         {rate, 10ms},
         {{137, 0ns}, {137, 0ns}},
         {0, k137}},
        {"time spent waiting for input counts towards the spacing",
         {rate, 0ms},
         {{137, 0ns}, {137, 20ms}},
         {0, k137}},
        {"a pause is never made up by a burst after it",
         {rate, 0ms},
         {{137, 0ns}, {137, 1s}, {137, 0ns}},
         {0, 1'000'000'000, 1'000'000'000 + k137}},
        {"max: at once", {max, 0ms}, {{137, 0ns}, {137, 0ns}, {137, 0ns}}, {0, 0, 0}},
        {"max with an interval: the interval alone",
         {max, 2ms},
         {{137, 0ns}, {9, 0ns}},
         {0, 2'000'000}},
    };
    for (const auto& c : cases) {
        FakeClock clock;
        Pacer pacer(c.pacing, clock);
        std::vector<long long> starts;
        for (const Step& step : c.steps) {
            clock.now += step.before;
            EXPECT_TRUE(pacer.Start(step.bytes));
            starts.push_back((clock.now - FakeClock::Zero()).count());
        }
        EXPECT_EQ(c.starts, starts) << c.what;
    }
}

TEST(Pacer, ThreeHundredMessagesOf137BytesTakeAbout13Point7Seconds) {
    FakeClock clock;
    Pacer pacer({*OptionNamed("--rate").range.fallback, {}}, clock);
    for (int i = 0; i < 300; ++i) {
        ASSERT_TRUE(pacer.Start(137));
    }
    // The last starts after 299 spacings, 13.65 s, and is on the wire for
    // one more: 13.7 s, against 13.15 s at a cable's full rate.
    EXPECT_EQ(13'654'333'433, (clock.now - FakeClock::Zero()).count());
}

} // namespace
