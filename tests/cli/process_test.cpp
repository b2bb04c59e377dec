// Tests that run the built vantrel-convert as a process: exit statuses, the
// reading of arguments (from the UTF-16 command line on Windows) and
// standard streams that carry bytes unchanged, and under Wine the MIDI
// commands with no device. Under Wine the test program starts the Windows
// vantrel-convert.exe that sits beside it.
#include "ChildProcess.h"
#include "ConvertCommand.h"
#include "Utf8.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <thread>
#endif

namespace {

const std::string kSetX = "F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7";
const std::string kSetA = "F0 00 00 40 02 00 00 61 05 73 65 74 20 61 F7";
const std::string kGo = "\"go\" does not start with \"set \"";

TEST(Process, ExitStatusesAndResults) {
    const std::tuple<std::vector<ProgramArgument>, std::string, int, std::string> cases[] = {
        {{Arg(u"set x")}, "", 0, kSetX + "\n"},
        {{}, "go\r\nset x\n", 1, kGo + "\n" + kSetX + "\n"},
        {{Arg(u"--check"), Arg(u"set \u00E9")},
         "",
         3,
         "F0 00 00 40 02 00 00 61 05 73 65 74 20 e9 F7\n"},
        {{Arg(u"--bogus"), Arg(u"set x")}, "", 2, ""},
        {{Arg(u"--decode")}, kSetX + "\r\n", 0, "set x\n"},
        {{Arg(u"--version")}, "", 0, VANTREL_VERSION "\n"},
    };
    for (const auto& [args, input, status, out] : cases) {
        const Finished finished = RunProgram(args, input);
        EXPECT_EQ(status, finished.status) << out << "\nerrors: " << finished.err;
        EXPECT_EQ(out, finished.out);
        EXPECT_EQ(status <= 1, finished.err.empty()) << finished.err;
    }
}

TEST(Process, ArgumentsArriveAsTheirUtf16CodeUnits) {
    // Characters beyond any ANSI code page, quotes, backslashes and spaces.
    std::vector<std::u16string> commands = {u"set \u00E9\u20AC\u4E2D\U0001F600",
                                            u"set \"quoted\" a\\b\\", u"set \\\"x\\\\",
                                            u" set  a "};
#ifdef _WIN32
    commands.push_back(u"set \xD800x\xDC00"); // lone surrogates pass through as units
#endif
    std::vector<ProgramArgument> args;
    std::string expected;
    for (std::u16string& command : commands) {
        args.push_back(Arg(command));
        AppendUtf8(ConvertCommand(command), expected);
        expected += '\n';
    }
    const Finished finished = RunProgram(args);
    EXPECT_EQ(0, finished.status) << finished.err;
    EXPECT_EQ(expected, finished.out);
}

TEST(Process, StandardStreamsCarryBytesUnchanged) {
    // A line feed inside a raw message stays one byte; Ctrl-Z is a character
    // of the input, not its end; lines end in LF.
    EXPECT_EQ(std::string("\xF0\0\0\x40\x02\0\0\x61\x07set a\nb\xF7", 17),
              RunProgram({Arg(u"--syx"), Arg(u"set a\nb")}).out);
    EXPECT_EQ("F0 00 00 40 02 00 00 61 05 73 65 74 20 1a F7\n" + kSetX + "\n",
              RunProgram({}, "set \x1A\r\nset x\n").out);
#ifndef _WIN32
    const Finished invalid = RunProgram({"set x", "set \xC3("});
    EXPECT_EQ(2, invalid.status);
    EXPECT_EQ(kSetX + "\n\n", invalid.out);
    EXPECT_EQ("vantrel-convert: argument 2: invalid UTF-8 at byte offset 4 (byte c3): sequence cut "
              "short: expected a continuation byte\n",
              invalid.err);
#endif
}

#ifndef _WIN32
TEST(Process, SigintAndSigtermWakeAWaitingReadAndKeepTheAnswers) {
    const std::pair<int, int> cases[] = {{SIGINT, 130}, {SIGTERM, 143}};
    for (const auto& [signal, status] : cases) {
        ChildProcess child(ToolCommand({}));
        ASSERT_TRUE(child.Started());
        ASSERT_TRUE(child.Write("set x\n"));
        // The answer comes before the tool waits for more of the input,
        // which stays open.
        std::string out;
        while (out.size() < kSetX.size() + 1) {
            const std::string more = child.Read(4096);
            if (more.empty()) {
                break;
            }
            out += more;
        }
        EXPECT_EQ(kSetX + "\n", out);
        child.Signal(signal);
        EXPECT_EQ(status, child.Wait(std::chrono::seconds(10))) << signal;
        EXPECT_EQ("", child.Read(4096));
        EXPECT_EQ("", child.Errors());
    }
}
#endif

#ifndef _WIN32
std::string Contents(const std::string& name) {
    std::ifstream file(name, std::ios::binary);
    return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "(none)";
}

// A run that dies, or meets a file size limit or a full disk, leaves
// --output's file as it was.
TEST(Process, AnOutputFileOutlivesARunThatFails) {
    const std::string dir = testing::TempDir() + "vantrel-output-" + std::to_string(getpid());
    std::filesystem::create_directories(dir);
    const std::string out = dir + "/backup.txt";
    std::string lines;
    for (int i = 0; i < 2000; ++i) {
        lines += "set " + std::to_string(i) + "\n";
    }
    // Killed once it has written: the answers to what it has read are in
    // FILE.partial, and FILE is whole.
    std::ofstream(out) << "backup\n";
    {
        ChildProcess child(ToolCommand({"--output", out}));
        ASSERT_TRUE(child.Write("set a\n"));
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
        while (Contents(out + ".partial") != kSetA + "\n" &&
               std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(5));
        }
        EXPECT_EQ(kSetA + "\n", Contents(out + ".partial"));
        child.Signal(SIGKILL);
        child.Wait(std::chrono::seconds(10));
    }
    EXPECT_EQ("backup\n", Contents(out));
    // A file size limit: the tool's own error, status 2.
    ChildProcess limited(ToolCommand({"--output", out}), {.fileSize = 1000});
    limited.Write(lines);
    limited.CloseInput();
    EXPECT_EQ(2, limited.Wait(std::chrono::seconds(30)));
    EXPECT_NE(std::string::npos, limited.Errors().find("cannot write the output: File too large"))
        << limited.Errors();
    EXPECT_EQ("backup\n", Contents(out));
    // A full disk, on a small file system of the test's own (as root).
    if (geteuid() == 0 && system(("unshare --mount true 2>/dev/null")) == 0) {
        const std::string script = "mount -t tmpfs -o size=8k vantrel-full " + dir +
                                   " && echo backup > " + out + " && \"$0\" --output " + out +
                                   " >/dev/null 2>" + dir + ".err; echo $? > " + dir +
                                   ".status; cat " + out + " > " + dir + ".kept";
        const Finished full = [&] {
            ChildProcess child({"unshare", "--mount", "--propagation", "private", "sh", "-c",
                                script, ToolCommand({})[0]});
            child.Write(lines + lines + lines + lines);
            child.CloseInput();
            return Finished{child.Wait(std::chrono::seconds(30)), "", child.Errors()};
        }();
        EXPECT_EQ(0, full.status) << full.err;
        EXPECT_EQ("2\n", Contents(dir + ".status"));
        EXPECT_NE(std::string::npos, Contents(dir + ".err").find("No space left on device"));
        EXPECT_EQ("backup\n", Contents(dir + ".kept"));
    } else {
        std::cout << "the full-disk case needs root and a mount namespace; skipped\n";
    }
    std::filesystem::remove_all(dir);
    for (const char* end : {".err", ".status", ".kept"}) {
        std::filesystem::remove(dir + end);
    }
}

// A FIFO is written directly: its reader gets the answers, and its end
// only when the run ends.
TEST(Process, AFifoAsOutputIsWrittenDirectly) {
    const std::string fifo = testing::TempDir() + "vantrel-fifo-" + std::to_string(getpid());
    ASSERT_EQ(0, mkfifo(fifo.c_str(), 0600));
    std::string read;
    std::thread reader([&] { read = Contents(fifo); });
    const Finished run = RunProgram({"--output", fifo, "set x"});
    // A reader still waiting for a writer is let go.
    if (const int unblock = open(fifo.c_str(), O_WRONLY | O_NONBLOCK); unblock != -1) {
        close(unblock);
    }
    reader.join();
    EXPECT_EQ(0, run.status) << run.err;
    EXPECT_EQ(kSetX + "\n", read);
    EXPECT_FALSE(std::filesystem::exists(fifo + ".partial"));
    std::filesystem::remove(fifo);
}
#endif

#ifdef _WIN32
TEST(Process, WithoutMidiDevicesThereIsNothingToListOrSendTo) {
    // The test prefix has no audio driver (scripts/wine-env.sh), so WinMM
    // has no MIDI output device, whatever the host has.
    const Finished listed = RunProgram({Arg(u"--list-ports")});
    EXPECT_EQ(0, listed.status);
    EXPECT_EQ("", listed.out);
    EXPECT_EQ("vantrel-convert: there are no MIDI output ports\n", listed.err);
    const Finished sent = RunProgram({Arg(u"--send"), Arg(u"anything"), Arg(u"set x")});
    EXPECT_EQ(4, sent.status);
    EXPECT_EQ("", sent.out);
    EXPECT_EQ("vantrel-convert: no MIDI output port matches \"anything\": there are no MIDI output "
              "ports\n",
              sent.err);
}
#endif

} // namespace
