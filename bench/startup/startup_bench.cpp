// Start-up cost of Vantrel.exe against the floor program (startup_floor.exe:
// the same dialog and manifest, nothing else). Runs the two alternately,
// after one uncounted warm-up start of each, and for every start measures the
// time from just before CreateProcessW until the dialog is up and idle, and
// the peak working set just before the dialog is closed. Prints each
// program's median, min and max and the ratios Vantrel / floor.
//
//   startup_bench [--runs N] <Vantrel.exe> <startup_floor.exe>   (N >= 10, default 15)
//
// Run it with scripts/startup-bench.sh, which builds both programs and runs
// this under Wine on a virtual display.
#include "StartupRun.h"
#include "Summary.h"
#include "Utf8.h"
#include "WineVersion.h"

#include <windows.h>

#include <cstdio>
#include <cwchar>
#include <string>
#include <vector>

namespace {

constexpr int kDefaultRuns = 15;
constexpr int kLeastRuns = 10;
constexpr double kStartupTarget = 1.2;
constexpr double kWorkingSetTarget = 1.1;

std::string FileName(const std::wstring& path) {
    const std::size_t slash = path.find_last_of(L"\\/");
    return ToUtf8(slash == std::wstring::npos ? path : path.substr(slash + 1));
}

std::string Platform() {
    const char* wine = driving::WineVersion();
    return wine != nullptr ? std::string("Wine ") + wine : "Windows (not Wine)";
}

struct Program {
    std::wstring path;
    std::string name;
    std::vector<StartupSample> samples;
};

bool StartOnce(Program& program, bool counted) {
    std::wstring error;
    const std::optional<StartupSample> sample = MeasureStartup(program.path, error);
    if (!sample) {
        std::printf("startup_bench: %s: %s\n", program.name.c_str(), ToUtf8(error).c_str());
        return false;
    }
    if (counted) {
        program.samples.push_back(*sample);
    }
    return true;
}

std::vector<double> Collect(const Program& program, double (*field)(const StartupSample&)) {
    std::vector<double> values;
    for (const StartupSample& sample : program.samples) {
        values.push_back(field(sample));
    }
    return values;
}

double StartupMs(const StartupSample& sample) {
    return sample.startupMs;
}
double PeakKiB(const StartupSample& sample) {
    return static_cast<double>(sample.peakWorkingSet) / 1024.0;
}
double PagefileKiB(const StartupSample& sample) {
    return static_cast<double>(sample.pagefileUsage) / 1024.0;
}

void PrintRow(const Program& program) {
    const Summary startup = Summarize(Collect(program, StartupMs));
    const Summary peak = Summarize(Collect(program, PeakKiB));
    const Summary pagefile = Summarize(Collect(program, PagefileKiB));
    std::printf("%-18s %8.1f %8.1f %8.1f   %8.0f %8.0f %8.0f   %8.0f\n", program.name.c_str(),
                startup.median, startup.min, startup.max, peak.median, peak.min, peak.max,
                pagefile.median);
}

void PrintRuns(const Program& program) {
    std::printf("%s start-up by run (ms):", program.name.c_str());
    for (const StartupSample& sample : program.samples) {
        std::printf(" %.1f", sample.startupMs);
    }
    std::printf("\n");
}

// The ratio of the medians, judged against `target` (0: no target), and the
// ratio of the minimums beside it, which other load on the machine disturbs
// least.
void PrintRatio(const char* what, const Program& vantrel, const Program& floor,
                double (*field)(const StartupSample&), double target) {
    const Summary ours = Summarize(Collect(vantrel, field));
    const Summary base = Summarize(Collect(floor, field));
    const double ratio = ours.median / base.median;
    std::printf("Vantrel / floor, %-9s median %.3fx, min %.3fx", what, ratio, ours.min / base.min);
    if (target > 0) {
        std::printf("  (target: median at most %.1fx: %s)", target,
                    ratio <= target ? "met" : "missed");
    }
    std::printf("\n");
}

void PrintDefinitions(bool underWine) {
    std::printf(
        "start-up: from just before CreateProcessW until WaitForInputIdle has returned, the "
        "dialog is visible and it has answered WM_NULL\n");
    std::printf("peak WS:  PeakWorkingSetSize just before the dialog is closed%s\n",
                underWine ? "; Wine reports the Linux peak resident set (VmHWM) of the whole "
                            "process, Wine's own libraries included"
                          : "");
    std::printf("pagefile: PagefileUsage at the same moment%s\n",
                underWine ? "; Wine reports the resident anonymous memory (RssAnon + VmSwap)" : "");
}

void Report(const Program& vantrel, const Program& floor, int runs) {
    const std::string platform = Platform();
    std::printf("\nstartup_bench on %s: %d starts of each program, alternating, after one "
                "uncounted warm-up start of each\n",
                platform.c_str(), runs);
    PrintDefinitions(platform.rfind("Wine", 0) == 0);
    std::printf("\n%-18s %8s %8s %8s   %8s %8s %8s   %8s\n", "", "start-up", "", "", "peak WS", "",
                "", "pagefile");
    std::printf("%-18s %8s %8s %8s   %8s %8s %8s   %8s\n", "program", "median", "min", "max",
                "median", "min", "max", "median");
    std::printf("%-18s %8s %8s %8s   %8s %8s %8s   %8s\n", "", "ms", "ms", "ms", "KiB", "KiB",
                "KiB", "KiB");
    PrintRow(vantrel);
    PrintRow(floor);
    std::printf("\n");
    PrintRuns(vantrel);
    PrintRuns(floor);
    std::printf("\n");
    PrintRatio("start-up", vantrel, floor, StartupMs, kStartupTarget);
    PrintRatio("peak WS", vantrel, floor, PeakKiB, kWorkingSetTarget);
    PrintRatio("pagefile", vantrel, floor, PagefileKiB, 0);
    std::printf("\nrerun: bash scripts/startup-bench.sh [starts of each program, at least %d]\n",
                kLeastRuns);
}

} // namespace

int wmain(int argc, wchar_t* argv[]) {
    int runs = kDefaultRuns;
    int first = 1;
    if (argc > 2 && std::wcscmp(argv[1], L"--runs") == 0) {
        runs = static_cast<int>(std::wcstol(argv[2], nullptr, 10));
        first = 3;
    }
    if (argc - first != 2 || runs < kLeastRuns) {
        std::printf("usage: startup_bench [--runs N] <Vantrel.exe> <startup_floor.exe>\n"
                    "       N is at least %d, %d when not given\n",
                    kLeastRuns, kDefaultRuns);
        return 2;
    }
    Program vantrel{argv[first], FileName(argv[first]), {}};
    Program floor{argv[first + 1], FileName(argv[first + 1]), {}};
    if (!StartOnce(vantrel, false) || !StartOnce(floor, false)) {
        return 1;
    }
    for (int run = 0; run < runs; ++run) {
        // Which program goes first swaps every round, so neither always
        // starts right after the other has ended.
        Program& earlier = run % 2 == 0 ? vantrel : floor;
        Program& later = run % 2 == 0 ? floor : vantrel;
        if (!StartOnce(earlier, true) || !StartOnce(later, true)) {
            return 1;
        }
    }
    Report(vantrel, floor, runs);
    return 0;
}
