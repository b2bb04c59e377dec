// In-process tests of vantrel-convert: arguments and standard input, line
// ends, invalid UTF-8, exit statuses, --check, --syx, --decode and streaming.
#include "ConvertCommand.h"
#include "Options.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

using namespace cli;

namespace {

// What ConvertCommand makes of a UTF-8 command, as UTF-8.
std::string Converted(const std::string& command) {
    std::u16string units;
    EXPECT_FALSE(DecodeUtf8(command, units));
    std::string bytes;
    AppendUtf8(ConvertCommand(units), bytes);
    return bytes;
}

const std::string kSetX = "F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7";
const std::string kGo = "\"go 1\" does not start with \"set \"";

TEST(Tool, ArgumentsAndInputLinesGiveOneLineEachInOrder) {
    const std::string expected =
        kSetX + "\n" + kGo + "\nF0 00 00 40 02 00 00 61 08 73 65 74 20 e9 20ac d83d de00 F7\n";
    const Outcome fromArguments = RunTool({"set x", "  go 1 ", "set \xC3\xA9€\xF0\x9F\x98\x80"});
    EXPECT_EQ(expected, fromArguments.out);
    EXPECT_EQ(kRefused, fromArguments.status);
    EXPECT_EQ("", fromArguments.err);
    // LF and CR LF line ends, a last line without one, a byte order mark.
    EXPECT_EQ(expected,
              RunTool({}, "\xEF\xBB\xBFset x\r\n  go 1 \nset \xC3\xA9€\xF0\x9F\x98\x80").out);
    // An empty line is a refused command; no input, no output.
    EXPECT_EQ(kSetX + "\n\"\" does not start with \"set \"\n", RunTool({}, "set x\r\n\r\n").out);
    EXPECT_EQ("", RunTool({}, "").out);
}

TEST(Tool, InvalidUtf8GivesAnEmptyLineAndAnErrorNamingLineAndOffset) {
    const Outcome lines = RunTool({}, "set x\nset \xC3(\r\nset x\n");
    EXPECT_EQ(kSetX + "\n\n" + kSetX + "\n", lines.out);
    EXPECT_EQ("vantrel-convert: line 2: invalid UTF-8 at byte offset 4 (byte c3): sequence cut "
              "short: expected a continuation byte\n",
              lines.err);
    EXPECT_EQ(kBadInput, lines.status);
    const Outcome arguments = RunTool({"--syx", "set \xED\xA0\x80", "go"});
    EXPECT_EQ("", arguments.out);
    EXPECT_EQ(0u, arguments.err.find("vantrel-convert: argument 1: invalid UTF-8 at byte offset 4"))
        << arguments.err;
}

TEST(Tool, ExitStatusTakesBadInputOverNotDataOverRefused) {
    const std::string nonData = "set \xC3\xA9";
    const std::tuple<std::vector<std::string>, std::string, int> cases[] = {
        {{"set x", "SET y"}, "", kAllAccepted},
        {{"--syx", "go"}, "", kRefused},
        {{"set \xFF"}, "", kBadInput},
        {{"--bogus", "set x"}, "", kBadInput},
        {{"--syx", "--decode", "set x"}, "", kBadInput},
        {{nonData}, "", kAllAccepted},
        {{"--syx", nonData}, "", kNotData},
        {{"--check", "go", nonData}, "", kNotData},
        {{"--check"}, "go\n" + nonData + "\nset \xFF\nset x", kBadInput},
    };
    for (const auto& [args, input, status] : cases) {
        const Outcome outcome = RunTool(args, input);
        EXPECT_EQ(status, outcome.status)
            << testing::PrintToString(args) << " input " << testing::PrintToString(input) << "\n"
            << outcome.err;
    }
}

TEST(Tool, CheckAndSyxFindTheFirstValueThatIsNotADataByte) {
    const std::string longest = "set " + std::string(123, '~'); // length 7f
    const std::pair<std::string, std::string> cases[] = {
        {"set x", ""},
        {" set a\tb\x7F", ""},
        {longest, ""},
        {"set \xC3\xA9 €", "value e9 at position 13 (unit 5 of the command) is not a MIDI data "
                           "byte (00 to 7f)"},
        {"set x€", "value 20ac at position 14 (unit 6 of the command)"},
        {longest + "b", "value 80 at position 8 (the length) is not a MIDI data byte"},
        {"set " + std::string(300, 'a') + "\xC3\xA9", "value 131 at position 8 (the length)"},
    };
    // The text is the same with --check; --syx writes its bytes or nothing.
    auto expect = [](const std::string& command, const std::string& error, const Outcome& checked,
                     const Outcome& syx, const std::string& kind) {
        EXPECT_EQ(kGo + "\n" + Converted(command) + "\n", checked.out);
        EXPECT_EQ(error.empty() ? BytesOfText(Converted(command)) : "", syx.out);
        EXPECT_EQ(error.empty() ? kRefused : kNotData, checked.status);
        EXPECT_EQ(error.empty() ? kAllAccepted : kNotData, syx.status);
        if (!error.empty()) {
            EXPECT_EQ(0u, checked.err.find("vantrel-convert: " + kind + " 2: " + error))
                << checked.err;
            EXPECT_EQ(0u, syx.err.find("vantrel-convert: " + kind + " 1: " + error)) << syx.err;
        }
    };
    for (const auto& [command, error] : cases) {
        SCOPED_TRACE(command.substr(0, 12));
        expect(command, error, RunTool({"--check", "go 1", command}), RunTool({"--syx", command}),
               "argument");
        // As lines: whole, the usual way, and in pieces.
        for (const std::size_t piece : {kPieceBytes, std::size_t{5}}) {
            expect(command, error, RunTool({"--check"}, "go 1\n" + command + "\n", piece),
                   RunTool({"--syx"}, command + "\n", piece), "line");
        }
    }
}

TEST(Tool, DecodeGivesBackTheTrimmedCommandOfGeneratedConversions) {
    const std::u16string alphabet = u"set SET\t\r\"\\~\x7F\x80\u00E9\u0100\u20AC\u3000\u00A0\uFFFF"
                                    u"\U0001F600\U0010FFFF";
    std::mt19937 random(20261209);
    std::string commands;
    std::string trimmed;
    for (int round = 0; round < 2000; ++round) {
        std::u16string command = round % 3 == 0 ? u" \u3000set k" : u"set k";
        for (std::size_t n = random() % 200; n > 0; --n) {
            const std::size_t at = random() % alphabet.size();
            // Characters outside the plane are two units; keep them whole.
            const bool pair = alphabet[at] >= 0xD800 && alphabet[at] <= 0xDFFF;
            command += alphabet.substr(pair && alphabet[at] >= 0xDC00 ? at - 1 : at, pair ? 2 : 1);
        }
        std::string bytes;
        AppendUtf8(command, bytes);
        commands += bytes + (round % 2 == 0 ? "\n" : "\r\n");
        ConvertCommand(command);
        AppendUtf8(command, trimmed);
        trimmed += "\n";
    }
    const Outcome converted = RunTool({}, commands);
    ASSERT_EQ(kAllAccepted, converted.status) << converted.err;
    const Outcome decoded = RunTool({"--decode"}, converted.out);
    EXPECT_EQ(kAllAccepted, decoded.status) << decoded.err;
    EXPECT_EQ(trimmed, decoded.out);
}

TEST(Tool, DecodeNamesWhatIsWrongWithAMessage) {
    const std::string h = "F0 00 00 40 02 00 00 61 ";
    const std::pair<std::string, std::string> cases[] = {
        {"", "empty line"},
        {"F0 00 00", "stops at position 3, inside the header"},
        {"F0 00 00 41 02 00 00 61 05 73 65 74 20 78 F7", "value 41 at position 3 should be 40"},
        {"F0 00 00 41 02 00 00 61 05 73 65 74 20 zz F7", "value 41 at position 3 should be 40"},
        {h + "05", "stops at position 9"},
        {h + "05 73 65 74 20 78", "value 78 at position 13 ends the message"},
        {h + "06 73 65 74 20 78 F7", "the length 06 (position 8) does not match the 5 values"},
        {h + "05 73 65 74 20 7g F7", "word \"7g\" at position 13 is not a hexadecimal number"},
        {h + "01 10000 F7", "value 10000 at position 9 is above ffff"},
        {h + "01 11111111111111111 F7", "word \"11111111111111111\" at position 9 is too large"},
        {h + "02 d800 78 F7", "value d800 at position 9 is a lone surrogate"},
        {h + "02 78 dc00 F7", "value dc00 at position 10 is a lone surrogate"},
        {h + "01 0a F7", "value 0a at position 9 is a line feed"},
        {kGo, "word \"\"go\" at position 0 is not"},
    };
    for (const auto& [text, error] : cases) {
        const Outcome outcome = RunTool({"--decode"}, kSetX + "\n" + text + "\n");
        EXPECT_EQ(kBadInput, outcome.status) << text;
        EXPECT_EQ("set x\n\n", outcome.out) << text;
        EXPECT_EQ(0u, outcome.err.find("vantrel-convert: line 2: not a Vantrel message: "))
            << outcome.err;
        EXPECT_NE(std::string::npos, outcome.err.find(error)) << text << "\n" << outcome.err;
    }
    // Case and spacing are free; --check applies to decoded messages too.
    const Outcome loose =
        RunTool({"--decode", "--check", " f0 0 00 40 2 00 00 61\t3 61 20AC 0dc F7 "});
    EXPECT_EQ("a€\xC3\x9C\n", loose.out);
    EXPECT_EQ(kNotData, loose.status);
    EXPECT_EQ(0u, loose.err.find("vantrel-convert: argument 1: value 20ac at position 10"))
        << loose.err;
}

TEST(Tool, OptionsHelpVersionAndEndOfOptions) {
    const Outcome help = RunTool({"set x", "--help"});
    EXPECT_EQ(kAllAccepted, help.status);
    EXPECT_EQ(0u, help.out.find("Usage: vantrel-convert")) << help.out;
    EXPECT_EQ(VANTREL_VERSION "\n", RunTool({"--version"}).out);
    const Outcome unknown = RunTool({"--bogus", "set x"});
    EXPECT_EQ("", unknown.out);
    EXPECT_EQ("vantrel-convert: unknown option '--bogus'\nTry 'vantrel-convert --help'.\n",
              unknown.err);
    EXPECT_EQ("\"--check\" does not start with \"set \"\n\"-\" does not start with \"set \"\n",
              RunTool({"--", "--check", "-"}).out);
}

// The help speaks of this platform's back ends and ways of stopping, and of
// no other platform's.
TEST(Tool, HelpNamesOnlyThisPlatform) {
    const std::string help = RunTool({"--help"}).out;
    const std::vector<std::string_view> own =
        kWindowsHelp ? std::vector<std::string_view>{"WinMM", "winmm:2", "Ctrl-Break", "  130  "}
                     : std::vector<std::string_view>{"JACK", "ALSA", "SIGTERM", "  143  "};
    const std::vector<std::string_view> foreign =
        kWindowsHelp ? std::vector<std::string_view>{"JACK",   "jack:",  "ALSA",    "alsa:",
                                                     "kernel", "SIGINT", "SIGTERM", "  143  "}
                     : std::vector<std::string_view>{"WinMM", "winmm:", "Ctrl-Break"};
    for (const std::string_view word : own) {
        EXPECT_NE(std::string::npos, help.find(word)) << word << "\n" << help;
    }
    for (const std::string_view word : foreign) {
        EXPECT_EQ(std::string::npos, help.find(word)) << word << "\n" << help;
    }
}

// Input that hands out one line per read and records the output written by
// then: each answer must leave before the next line is read.
class LineAtATime : public std::streambuf {
  public:
    LineAtATime(std::vector<std::string> lines, const std::ostringstream& out)
        : lines_(std::move(lines)), out_(out) {}
    std::vector<std::string> outputSeen;

  protected:
    int_type underflow() override {
        outputSeen.push_back(out_.str());
        if (next_ == lines_.size()) {
            return traits_type::eof();
        }
        std::string& line = lines_[next_++];
        setg(line.data(), line.data(), line.data() + line.size());
        return traits_type::to_int_type(line[0]);
    }

  private:
    std::vector<std::string> lines_;
    std::size_t next_ = 0;
    const std::ostringstream& out_;
};

TEST(Tool, WritesEachAnswerBeforeReadingTheNextLine) {
    std::ostringstream out;
    std::ostringstream err;
    // The second read also brings the start of the next line: the answer to
    // "go 1" must not wait for the rest of it.
    LineAtATime input({"set x\n", "go 1\r\nset", " x\n"}, out);
    std::istream in(&input);
    EXPECT_EQ(kRefused, RunConvertTool({}, in, out, err));
    const std::vector<std::string> expected = {"", kSetX + "\n", kSetX + "\n" + kGo + "\n",
                                               kSetX + "\n" + kGo + "\n" + kSetX + "\n"};
    EXPECT_EQ(expected, input.outputSeen);
}

// Output that takes `room` bytes and then fails, as a full disk does.
class FillingUp : public std::streambuf {
  public:
    explicit FillingUp(std::size_t room) : room_(room) {}

  protected:
    int_type overflow(int_type c) override {
        return room_-- > 0 ? traits_type::not_eof(c) : traits_type::eof();
    }
    std::streamsize xsputn(const char*, std::streamsize n) override {
        const auto taken = std::min(static_cast<std::size_t>(n), room_);
        room_ -= taken;
        return static_cast<std::streamsize>(taken);
    }

  private:
    std::size_t room_;
};

TEST(Tool, StopsAtTheFirstFailedWriteAndReadsNoFurther) {
    std::string input;
    for (int i = 0; i < 200000; ++i) {
        input += "set x\n";
    }
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"--version"}, {"--help"}, {"set x", "go"}}) {
        std::istringstream in(input);
        FillingUp full(4);
        std::ostream out(&full);
        std::ostringstream err;
        EXPECT_EQ(kBadInput, RunConvertTool(Arguments(args), in, out, err)) << args.size();
        EXPECT_EQ(0u, err.str().find("vantrel-convert: cannot write the output")) << err.str();
        if (args.empty()) {
            EXPECT_LT(in.tellg(), static_cast<std::streamoff>(input.size() / 2));
        }
    }
}

TEST(Tool, EveryCommandStaysOneLineAndErrorsEscapeControlCharacters) {
    const Outcome arguments = RunTool({"go\r\nx", "set y"});
    EXPECT_EQ("\"go\\r\\nx\" does not start with \"set \"\n" + Converted("set y") + "\n",
              arguments.out);
    EXPECT_EQ(Converted("set a\r\nb") + "\n", RunTool({"set a\r\nb"}).out);
    const Outcome controls = RunTool({"--syx", "go\t\x01\x7F\xC2\x85\xC3\xA9"});
    EXPECT_EQ("vantrel-convert: argument 1: \"go\\t\\x01\\x7f\\u{0085}\xC3\xA9\" does not start "
              "with \"set \"\n",
              controls.err);
    EXPECT_NE(std::string::npos,
              RunTool({"--decode", kSetX + "\r"}).err.find("word \"F7\\r\" at position 14"));
    // Offsets count a byte order mark, as the bytes stand in the input.
    EXPECT_EQ(0u, RunTool({}, "\xEF\xBB\xBFset \xFF\n")
                      .err.find("vantrel-convert: line 1: invalid UTF-8 at byte offset 7"));
}

// Lines longer than a piece are converted piece by piece; whatever the
// piece size, every mode must answer exactly as for a line held whole.
TEST(Tool, LongLinesAnswerAsShortOnesDo) {
    const std::string pool[] = {"a",
                                "set ",
                                "SeT ",
                                " ",
                                "\t",
                                "\r",
                                "\xC3\xA9",
                                "€",
                                "\xF0\x9F\x98\x80",
                                "\xE3\x80\x80",
                                "\xFF",
                                "\xE2\x82",
                                "\x86"};
    std::mt19937 random(11);
    std::string lines;
    for (int line = 0; line < 300; ++line) {
        std::string text = line % 2 == 0 ? "set " : "";
        for (std::size_t n = random() % 400; n > 0; --n) {
            text += pool[random() % (std::size(pool) - (line % 5 == 0 ? 0 : 3))];
        }
        lines += text + "\n";
    }
    // A stray continuation byte right where a piece of 5 ends, after a
    // whole four-byte character.
    lines += "s\xF0\x9F\x98\x80\x86\n";
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{}, {"--check"}, {"--syx"}}) {
        const Outcome whole = RunTool(args, lines);
        for (std::size_t piece : {5u, 64u}) {
            const Outcome pieces = RunTool(args, lines, piece);
            EXPECT_EQ(whole.status, pieces.status);
            EXPECT_EQ(whole.out, pieces.out) << "pieces of " << piece;
            EXPECT_EQ(whole.err, pieces.err) << "pieces of " << piece;
        }
        if (args.empty()) {
            const Outcome decoded = RunTool({"--decode"}, whole.out);
            EXPECT_EQ(decoded.out, RunTool({"--decode"}, whole.out, 7).out);
            EXPECT_EQ(decoded.err, RunTool({"--decode"}, whole.out, 7).err);
        }
    }
}

} // namespace
