// Speed of the command conversion beside two yardsticks, on commands of 16,
// 1,000 and 1,000,000 code units:
//   Floor          - allocating and filling a fresh string as long as the
//                    result, which no conversion can beat;
//   FormattedPrint - the obvious version that formats every character with
//                    printf-style "%02.2x ".
// Run: build/native/bench/convert_command_bench
#include "ConvertCommand.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <string>

namespace {

// An accepted command of `length` units: mostly ASCII, with one character
// above U+00FF in every 64 so the wider values are exercised too.
std::u16string MakeCommand(std::size_t length) {
    std::u16string command = u"set ";
    const std::u16string filler = u"Mode 1 volume=0x7f channel 10";
    while (command.size() < length) {
        command += (command.size() % 64 == 63) ? u'\u20AC' : filler[command.size() % filler.size()];
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

void BM_ConvertCommand(benchmark::State& state) {
    std::u16string command = MakeCommand(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        // The command has no white space at its ends, so trimming leaves it
        // as it is and every iteration converts the same text.
        std::u16string result = ConvertCommand(command);
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_Floor(benchmark::State& state) {
    std::u16string command = MakeCommand(static_cast<std::size_t>(state.range(0)));
    const std::size_t resultLength = ConvertCommand(command).size();
    for (auto _ : state) {
        std::u16string result(resultLength, u'0');
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

void BM_FormattedPrint(benchmark::State& state) {
    const std::u16string command = MakeCommand(static_cast<std::size_t>(state.range(0)));
    for (auto _ : state) {
        std::u16string result = FormattedPrintConvert(command);
        benchmark::DoNotOptimize(result.data());
    }
    state.SetItemsProcessed(state.iterations() * state.range(0));
}

} // namespace

BENCHMARK(BM_ConvertCommand)->Arg(16)->Arg(1000)->Arg(1000000);
BENCHMARK(BM_Floor)->Arg(16)->Arg(1000)->Arg(1000000);
BENCHMARK(BM_FormattedPrint)->Arg(16)->Arg(1000)->Arg(1000000);

BENCHMARK_MAIN();
