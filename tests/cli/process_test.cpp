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
#include <signal.h>
#endif

namespace {

const std::string kSetX = "F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7";
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
