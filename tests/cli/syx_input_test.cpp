// In-process tests of a .syx stream as input (--decode --syx, --send --syx),
// of --input and --output, and of decoded commands on a terminal.
#include "RecordingPorts.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>

using namespace cli;

namespace {

const std::string kSetX = "F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7";
const std::string kSetY = "F0 00 00 40 02 00 00 61 05 73 65 74 20 79 F7";
const std::string kForeign = "F0 7E 7F 06 01 F7";
// Bytes before, between and after the messages (a note, active sensing),
// a message cut by a note, a Vantrel message whose length is wrong, and one
// the input ends inside.
const std::string kStream =
    BytesOfText("90 40 7F " + kSetX + " FE " + kForeign + " F0 01 90 40 7F " + kSetY +
                " F0 00 00 40 02 00 00 61 09 78 F7 F0 02");

TEST(SyxInput, EachWholeMessageIsDecodedOrSentAndTheOthersAreNamed) {
    const std::string cut = "message 3: malformed, not ";
    const std::string ended = "message 6: malformed, not ";
    const std::string lengthWrong = "message 5: cannot be read as a Vantrel message: the length 09 "
                                    "(position 8) does not match the 1 values (01) between it "
                                    "and F7";
    const struct {
        std::vector<std::string> args;
        std::size_t most; // the port's MaxMessageBytes
        std::string out;
        std::vector<std::string> errors;
        std::vector<std::string> sent; // as text
        int status;
    } cases[] = {
        {{"--decode", "--syx"},
         4096,
         "set x\nset y\n",
         {"message 2: not a Vantrel message: value 7e at position 1 should be 00: the header is F0 "
          "00 00 40 02 00 00 61",
          cut + "decoded: cut short: status byte 90 came before F7", lengthWrong,
          ended + "decoded: cut short: the input ended before its F7"},
         {},
         kBadInput},
        // Sent as they stand, Vantrel's or not; the answers are --receive's.
        {{"--send", "through", "--syx", "--rate", "max"},
         4096,
         kSetX + "\n" + kForeign + "\n" + kSetY + "\nF0 00 00 40 02 00 00 61 09 78 F7\n",
         {cut + "sent: cut short: status byte 90 came before F7",
          ended + "sent: cut short: the input ended before its F7"},
         {kSetX, kForeign, kSetY, "F0 00 00 40 02 00 00 61 09 78 F7"},
         kBadInput},
        // Longer than the port carries whole: named and not sent, never cut.
        {{"--send", "through", "--syx", "--rate", "max"},
         12,
         kForeign + "\nF0 00 00 40 02 00 00 61 09 78 F7\n",
         {"message 1: not sent: the message of 15 bytes is longer than the 12 that through "
          "carries whole",
          cut + "sent: cut short: status byte 90 came before F7",
          "message 4: not sent: the message of 15 bytes is longer than the 12 that through "
          "carries whole",
          ended + "sent: cut short: the input ended before its F7"},
         {kForeign, "F0 00 00 40 02 00 00 61 09 78 F7"},
         kBadInput},
    };
    for (const auto& c : cases) {
        RecordingPorts ports;
        ports.ports.ports = {{"through", ""}};
        ports.maxMessageBytes = c.most;
        const Outcome run = RunTool(c.args, kStream, kPieceBytes, &ports);
        std::string errors;
        for (const std::string& error : c.errors) {
            errors += "vantrel-convert: " + error + "\n";
        }
        std::vector<std::string> sent;
        for (const std::string& text : c.sent) {
            sent.push_back(BytesOfText(text));
        }
        EXPECT_EQ(c.status, run.status) << testing::PrintToString(c.args);
        EXPECT_EQ(c.out, run.out) << testing::PrintToString(c.args);
        EXPECT_EQ(errors, run.err) << testing::PrintToString(c.args);
        EXPECT_EQ(sent, ports.sent) << testing::PrintToString(c.args);
    }
    // The port's limit alone: status 4, the rest still go.
    RecordingPorts ports;
    ports.ports.ports = {{"through", ""}};
    ports.maxMessageBytes = 12;
    const Outcome run = RunTool({"--send", "through", "--syx", "--rate", "max"},
                                BytesOfText(kSetX + " " + kForeign), kPieceBytes, &ports);
    EXPECT_EQ(kPortFailed, run.status);
    EXPECT_EQ(std::vector<std::string>{BytesOfText(kForeign)}, ports.sent);
    // Commands do not mix with a .syx stream.
    EXPECT_EQ(kBadInput, RunTool({"--decode", "--syx", "set x"}).status);
}

TEST(SyxInput, InputAndOutputFiles) {
    const std::filesystem::path dir = testing::TempDir();
    const std::string in = (dir / "vantrel-in.syx").string();
    const std::string out = (dir / "vantrel-out.syx").string();
    std::ofstream(in, std::ios::binary) << BytesOfText(kSetX + " " + kSetY);
    const Outcome written = RunTool({"--decode", "--syx", "--input", in, "--output", out});
    EXPECT_EQ(kAllAccepted, written.status) << written.err;
    EXPECT_EQ("", written.out);
    const auto contents = [&] {
        std::ifstream result(out, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(result), {});
    };
    EXPECT_EQ("set x\nset y\n", contents());
    // A run that fails before it writes leaves the file; one that writes
    // replaces it.
    EXPECT_EQ(kPortFailed, RunTool({"--receive", "nowhere", "--output", out}).status);
    EXPECT_EQ("set x\nset y\n", contents());
    EXPECT_EQ(kAllAccepted, RunTool({"--output", out, "set z"}).status);
    EXPECT_EQ(RunTool({"set z"}).out, contents());
    EXPECT_EQ(kBadInput, RunTool({"--input", (dir / "no such dir" / "x").string()}).status);
    EXPECT_EQ(kBadInput, RunTool({"--output", (dir / "no such dir" / "x").string()}).status);
    std::remove(in.c_str());
    std::remove(out.c_str());
}

// --output is replaced only by a run that ended well (0, 1 or 3) and had
// something to write; any other run leaves it as it was, and what it wrote
// in FILE.partial, which it names. It may not name the file being read.
TEST(SyxInput, OutputIsReplacedOnlyByARunThatEndedWell) {
    const std::filesystem::path dir = testing::TempDir();
    const std::string in = (dir / "vantrel-keep-in.syx").string();
    const std::string out = (dir / "vantrel-keep.txt").string();
    const std::string partial = out + ".partial";
    const auto contents = [](const std::string& name) {
        std::ifstream file(name, std::ios::binary);
        return file ? std::string(std::istreambuf_iterator<char>(file), {}) : "(none)";
    };
    const struct {
        const char* what;
        std::string stream; // the .syx read with --decode --syx
        std::vector<std::string> args;
        int status;
        std::string file;    // what FILE then holds
        std::string partial; // and FILE.partial
    } rows[] = {
        {"whole", BytesOfText(kSetX), {}, kAllAccepted, "set x\n", "(none)"},
        {"a foreign message alone: nothing to write",
         BytesOfText(kForeign),
         {},
         kNotShown,
         "backup\n",
         "(none)"},
        {"a foreign message beside one written",
         BytesOfText(kForeign + " " + kSetX),
         {},
         kNotShown,
         "set x\n",
         "(none)"},
        {"a malformed message after one written",
         BytesOfText(kSetX + " F0 01 90"),
         {},
         kBadInput,
         "backup\n",
         "set x\n"},
        {"the input is a folder", "", {"--input", dir.string()}, kBadInput, "backup\n", "(none)"},
        {"the input is the file", "", {"--input", out}, kBadInput, "backup\n", "(none)"},
        {"the input is the file by another name",
         "",
         {"--input", (dir / "." / "vantrel-keep.txt").string()},
         kBadInput,
         "backup\n",
         "(none)"},
    };
    for (const auto& row : rows) {
        std::ofstream(out, std::ios::binary) << "backup\n";
        std::ofstream(in, std::ios::binary) << row.stream;
        std::vector<std::string> args = {"--decode", "--syx", "--output", out};
        args.insert(args.end(), row.args.begin(), row.args.end());
        if (row.args.empty()) {
            args.insert(args.end(), {"--input", in});
        }
        const Outcome run = RunTool(args);
        EXPECT_EQ(row.status, run.status) << row.what << ": " << run.err;
        EXPECT_EQ(row.file, contents(out)) << row.what;
        EXPECT_EQ(row.partial, contents(partial)) << row.what;
        EXPECT_EQ(row.partial != "(none)",
                  run.err.find(partial + "; " + out + " is as it was") != std::string::npos)
            << row.what << ": " << run.err;
        std::remove(partial.c_str());
    }
    std::remove(in.c_str());
    std::remove(out.c_str());
}

TEST(SyxInput, ATerminalsEscapes) {
    // A device's ESC and NUL are escaped on a terminal only.
    const std::string text = "F0 00 00 40 02 00 00 61 07 73 65 74 20 1b 00 78 F7\n";
    for (const bool terminal : {false, true}) {
        std::istringstream input(text);
        std::ostringstream output;
        std::ostringstream errors;
        ToolReach reach;
        reach.outputIsTerminal = terminal;
        EXPECT_EQ(kAllAccepted,
                  RunConvertTool(Arguments({"--decode"}), input, output, errors, reach));
        EXPECT_EQ(terminal ? "set \\x1b\\x00x\n" : std::string("set \x1b\0x\n", 8), output.str());
    }
}

} // namespace
