// Speed of the command conversion beside two yardsticks, on commands of 16,
// 1,000 and 1,000,000 code units in five mixes of scripts:
//   Ascii    - ASCII text: every value has two digits;
//   Latin1   - letters U+00C0 to U+00FF: two digits, all above 0x7f;
//   Cyrillic - letters U+0410 to U+044F: three digits each;
//   Cjk      - ideographs from U+4E00: four digits each;
//   Euro1in7 - ASCII text with a U+20AC in every 7 units: widths mixed.
// The yardsticks, on the same command:
//   Floor          - allocating and filling a fresh string as long as the
//                    result, which no conversion can beat;
//   FormattedPrint - the obvious version that formats the length and every
//                    unit with snprintf's "%02lx ".
// The conversion runs once through each way of writing the units that this
// processor can run (unit_text::Paths: portable, ssse3, avx2), and each
// such run is labelled with the path it used.
// BM_OverFloor gives the conversion's time over the floor's as the counter
// over_floor: it times the two in alternating stretches of about 20
// microseconds, so that both meet the same load and clock of a machine shared
// with others. Timing them in separate benchmarks, a second or so apart,
// lets such a machine swing the ratio by a third or more between runs.
// Each benchmark is named <kind>/<mix>/<units>, the conversion's
// BM_ConvertCommand/<path>/<mix>/<units> and BM_OverFloor/<path>/<mix>/<units>,
// for example BM_ConvertCommand/avx2/Cyrillic/1000000.
// Run: build/native/bench/convert_command_bench
#include "ConvertCommand.h"
#include "UnitText.h"

#include <benchmark/benchmark.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <string>

namespace {

struct Mix {
    const char* name;
    // The unit at position `i` of the command after its keyword.
    char16_t (*unit)(std::size_t i);
};

constexpr char16_t kAsciiText[] = u"Mode 1 volume=0x7f channel 10 ";
constexpr std::size_t kAsciiLength = sizeof kAsciiText / sizeof kAsciiText[0] - 1;

const Mix kMixes[] = {
    {"Ascii", [](std::size_t i) { return kAsciiText[i % kAsciiLength]; }},
    {"Latin1", [](std::size_t i) { return static_cast<char16_t>(0xC0 + i % 0x40); }},
    {"Cyrillic", [](std::size_t i) { return static_cast<char16_t>(0x410 + i % 0x40); }},
    {"Cjk", [](std::size_t i) { return static_cast<char16_t>(0x4E00 + i % 0x1000); }},
    {"Euro1in7",
     [](std::size_t i) { return i % 7 == 6 ? u'\u20AC' : kAsciiText[i % kAsciiLength]; }},
};

// An accepted command of `length` units in `mix`.
std::u16string MakeCommand(const Mix& mix, std::size_t length) {
    std::u16string command = u"set ";
    for (std::size_t i = 0; command.size() < length; ++i) {
        command += mix.unit(i);
    }
    return command;
}

std::u16string FormattedPrintConvert(const std::u16string& command) {
    std::u16string result = u"F0 00 00 40 02 00 00 61 ";
    char buffer[16];
    auto append = [&](unsigned long value) {
        const int n = std::snprintf(buffer, sizeof buffer, "%02lx ", value);
        result.append(buffer, buffer + n);
    };
    append(command.size());
    for (char16_t unit : command) {
        append(unit);
    }
    result += u"F7";
    return result;
}

// One conversion of `command`, and one floor: a fresh string of `length`
// characters, filled.
void ConvertOnce(std::u16string& command) {
    // The command has no white space at its ends, so trimming leaves it
    // as it is and every call converts the same text.
    std::u16string result = ConvertCommand(command);
    benchmark::DoNotOptimize(result.data());
}

void FillOnce(std::size_t length) {
    std::u16string result(length, u'0');
    benchmark::DoNotOptimize(result.data());
}

void BM_ConvertCommand(benchmark::State& state, const Mix& mix, const char* path) {
    unit_text::Use(path); // registered for the usable paths only
    state.SetLabel(unit_text::Current().name);
    std::u16string command = MakeCommand(mix, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        ConvertOnce(command);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Floor(benchmark::State& state, const Mix& mix) {
    std::u16string command = MakeCommand(mix, static_cast<std::size_t>(state.range(0)));
    const std::size_t resultLength = ConvertCommand(command).size();
    for (auto _ : state) {
        FillOnce(resultLength);
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

// Conversions and floors in alternating stretches of `times` each. An
// iteration is one stretch of each, and its manual time the conversions'
// stretch, so that the benchmark runs as long as the others; the counters
// give one conversion's time and one floor's.
void BM_OverFloor(benchmark::State& state, const Mix& mix, const char* path) {
    unit_text::Use(path);
    state.SetLabel(unit_text::Current().name);
    const auto units = static_cast<std::size_t>(state.range(0));
    std::u16string command = MakeCommand(mix, units);
    const std::size_t resultLength = ConvertCommand(command).size();
    const std::size_t times = std::max<std::size_t>(1, 20000 / units);
    using Clock = std::chrono::steady_clock;
    auto timed = [times](auto&& work) {
        const Clock::time_point start = Clock::now();
        for (std::size_t i = 0; i < times; ++i) {
            work();
        }
        return std::chrono::duration<double>(Clock::now() - start).count();
    };
    double converting = 0;
    double filling = 0;
    for (auto _ : state) {
        filling += timed([&] { FillOnce(resultLength); });
        const double stretch = timed([&] { ConvertOnce(command); });
        converting += stretch;
        state.SetIterationTime(stretch);
    }
    const double calls = static_cast<double>(state.iterations()) * static_cast<double>(times);
    state.counters["over_floor"] = converting / filling;
    state.counters["convert_ns"] = 1e9 * converting / calls;
    state.counters["floor_ns"] = 1e9 * filling / calls;
    state.SetItemsProcessed(state.iterations() * static_cast<benchmark::IterationCount>(times) *
                            state.range(0));
}

void BM_FormattedPrint(benchmark::State& state, const Mix& mix) {
    const std::u16string command = MakeCommand(mix, static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::u16string result = FormattedPrintConvert(command);
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

int main(int argc, char** argv) {
    using Benchmark = void(benchmark::State&, const Mix&);
    const std::pair<const char*, Benchmark*> kinds[] = {{"BM_Floor", BM_Floor},
                                                        {"BM_FormattedPrint", BM_FormattedPrint}};
    for (const Mix& mix : kMixes) {
        for (const unit_text::Path& path : unit_text::Paths()) {
            if (path.usable) {
                const std::string name =
                    std::string("BM_ConvertCommand/") + path.name + "/" + mix.name;
                benchmark::RegisterBenchmark(name.c_str(), BM_ConvertCommand, mix, path.name)
                    ->Arg(16)
                    ->Arg(1000)
                    ->Arg(1000000);
                const std::string over = std::string("BM_OverFloor/") + path.name + "/" + mix.name;
                benchmark::RegisterBenchmark(over.c_str(), BM_OverFloor, mix, path.name)
                    ->UseManualTime()
                    ->Arg(1000)
                    ->Arg(1000000);
            }
        }
        for (const auto& [kind, run] : kinds) {
            const std::string name = std::string(kind) + "/" + mix.name;
            benchmark::RegisterBenchmark(name.c_str(), run, mix)->Arg(16)->Arg(1000)->Arg(1000000);
        }
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) {
        return 1;
    }
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}
