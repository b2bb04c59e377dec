// The receiver's rule for missed JACK periods (PeriodTimes.h), over frame
// times like those measured: late callbacks that read the next period's
// time, periods missed, times read twice, and frame times that wrap.
#include "PeriodTimes.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <vector>

namespace {

using midi_ports::PeriodTimes;

// Each callback's verdict in one letter: '.' on time, 'M' missed, '?' unsure,
// preceded by how the last unsure one was settled: 'l' a late read, 'm' a
// missed period.
std::string Verdicts(const std::vector<std::uint32_t>& starts, std::uint32_t frames) {
    PeriodTimes times;
    std::string out;
    for (const std::uint32_t start : starts) {
        const PeriodTimes::Verdict verdict = times.Next(start, frames);
        if (verdict.last != PeriodTimes::Settled::Nothing) {
            out += verdict.last == PeriodTimes::Settled::LateRead ? 'l' : 'm';
        }
        out += verdict.now == PeriodTimes::Timing::OnTime   ? '.'
               : verdict.now == PeriodTimes::Timing::Missed ? 'M'
                                                            : '?';
    }
    return out;
}

TEST(PeriodTimes, OnlyAPeriodThatRanWithoutTheCallbackIsMissed) {
    constexpr std::uint32_t P = 256;
    constexpr std::uint32_t kNearWrap = 0xFFFFFFFF - P;
    const struct {
        const char* what;
        std::vector<std::uint32_t> starts;
        std::string verdicts;
    } rows[] = {
        {"steady", {0, P, 2 * P, 3 * P}, "...."},
        {"a late read, then the same time again", {0, P, 3 * P, 3 * P, 4 * P}, "..?l.."},
        {"one period missed", {0, P, 3 * P, 4 * P, 5 * P}, "..?m.."},
        {"nine periods missed at once", {0, P, 11 * P, 12 * P}, "..M."},
        {"missed and read late, then taken back", {0, P, 4 * P, 4 * P, 5 * P}, "..M.."},
        {"a time read twice", {0, P, P, 2 * P}, "...."},
        {"wrapping around",
         {kNearWrap, kNearWrap + P, kNearWrap + 2 * P, kNearWrap + 4 * P, kNearWrap + 5 * P},
         "...?m."},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.verdicts, Verdicts(row.starts, P)) << row.what;
    }
}

} // namespace
