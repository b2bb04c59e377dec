// vantrel-convert at its limits, run as a process: a reader that goes away
// in the middle of a stream, a line of hundreds of megabytes, and a line
// longer than the memory the process may have.
#include "ChildProcess.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

const std::string kSetX = "F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7\n";

// Writes `line` again and again until the child stops reading.
std::thread Feed(ChildProcess& child, std::string line) {
    return std::thread([&child, line = std::move(line)] {
        std::string block;
        while (block.size() < 60000) {
            block += line;
        }
        while (child.Write(block)) {
        }
    });
}

TEST(Limits, AReaderThatGoesAwayEndsTheRunQuietly) {
    // As in `yes 'set x' | vantrel-convert | head -1`.
    ChildProcess child(ToolCommand({}));
    ASSERT_TRUE(child.Started());
    std::thread feeder = Feed(child, "set x\n");
    std::string first;
    while (first.size() < kSetX.size()) {
        const std::string more = child.Read(kSetX.size() - first.size());
        ASSERT_FALSE(more.empty()) << "the output ended early";
        first += more;
    }
    EXPECT_EQ(kSetX, first);
    child.CloseOutput();
    EXPECT_EQ(2, child.Wait(std::chrono::seconds(60))) << "-1: still running at the deadline";
    feeder.join();
    EXPECT_EQ("", child.Errors());
}

// The sanitizers' own bookkeeping would be measured too.
#ifndef __SANITIZE_ADDRESS__
// Runs one line of "set " and `units` letters; returns the peak memory.
std::size_t PeakMemoryForOneLine(std::size_t units) {
    ChildProcess child(ToolCommand({}));
    EXPECT_TRUE(child.Started());
    std::thread feeder([&child, units] {
        std::string line = "set " + std::string(units, 'a') + "\n";
        child.Write(line);
    });
    // The answer: the header with a 7-digit length, three characters for
    // each unit, the trailer and the line feed.
    const std::size_t expected = 24 + 8 + 3 * (units + 4) + 2 + 1;
    std::size_t received = 0;
    while (received < expected) {
        const std::size_t got = child.Read(1 << 20).size();
        if (got == 0) {
            ADD_FAILURE() << "the output ended after " << received << " of " << expected;
            break;
        }
        received += got;
    }
    feeder.join();
    // Windows tells the peak while the child runs, natively once it has ended.
    const std::size_t whileRunning = child.PeakMemory();
    child.CloseInput();
    EXPECT_EQ(0, child.Wait(std::chrono::seconds(120))) << child.Errors();
    return std::max(whileRunning, child.PeakMemory());
}

TEST(Limits, MemoryGrowsByAtMostTwoBytesPerByteOfTheLongestLine) {
    constexpr std::size_t kMegabyte = 1000 * 1000;
    const std::size_t small = PeakMemoryForOneLine(50 * kMegabyte);
    const std::size_t large = PeakMemoryForOneLine(200 * kMegabyte);
    std::printf("peak memory: %zu MB for a 50 MB line, %zu MB for a 200 MB line\n",
                small / kMegabyte, large / kMegabyte);
    EXPECT_LE(large - std::min(large, small), 2 * 150 * kMegabyte);
}
#endif

#if !defined(_WIN32) && !defined(__SANITIZE_ADDRESS__)
TEST(Limits, ALineTooLongForMemoryIsSkippedAndTheRestConverted) {
    ChildProcess child(ToolCommand({}), {.addressSpace = std::size_t{200} << 20});
    ASSERT_TRUE(child.Started());
    std::thread feeder([&child] {
        child.Write("set x\nset " + std::string(std::size_t{300} << 20, 'a') + "\ngo\nset x\n");
        child.CloseInput();
    });
    std::string out;
    for (std::string more; !(more = child.Read(1 << 16)).empty();) {
        out += more;
    }
    feeder.join();
    EXPECT_EQ(2, child.Wait(std::chrono::seconds(60)));
    EXPECT_EQ(kSetX + "\n\"go\" does not start with \"set \"\n" + kSetX, out);
    EXPECT_EQ("vantrel-convert: line 2: out of memory: the line is too long to convert\n",
              child.Errors());
}
#endif

} // namespace
