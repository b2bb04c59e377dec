// In-process tests of --receive and --list-inputs against a source that
// hands out scripted pieces: what each kind of message prints, errors and
// their numbers, losses, the end of the input, --count, --timeout, the exit
// statuses and the usage rules.
#include "MidiInputs.h"
#include "RecordingPorts.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <optional>
#include <thread>

using namespace cli;

namespace {

using midi_ports::Piece;
using Kind = Piece::Kind;

// A source that hands out `script` in order, then nothing.
class ScriptedInputs final : public midi_ports::Inputs {
  public:
    midi_ports::PortList sources = {
        {{"jack:keys:out", ""}, {"alsa:Keys:Port-0", "20:0"}, {"alsa:Pads:Port-0", "24:0"}}, {}};
    std::vector<Piece> script;
    std::string openError;
    std::optional<std::string> unserved; // what Unserved says
    std::vector<std::string> calls;      // "open NAME" and "stop"

    void List(midi_ports::PortList& list) override { list = sources; }

    midi_ports::OpenedInput Open(const midi_ports::Port& port) override {
        calls.push_back("open " + port.name);
        if (!openError.empty()) {
            return {nullptr, openError};
        }
        return {std::make_unique<Input>(*this), {}};
    }

  private:
    class Input final : public midi_ports::Input {
      public:
        explicit Input(ScriptedInputs& inputs) : inputs_(inputs) {}
        void Next(Piece& piece, std::chrono::milliseconds wait) override {
            if (next_ < inputs_.script.size()) {
                piece = inputs_.script[next_++];
                return;
            }
            std::this_thread::sleep_for(wait);
            piece = Piece{};
        }
        void Stop() override { inputs_.calls.push_back("stop"); }
        std::optional<std::string> Unserved(std::chrono::milliseconds) override {
            return inputs_.unserved;
        }

      private:
        ScriptedInputs& inputs_;
        std::size_t next_ = 0;
    };
};

// A piece of these bytes (hex values), then `kind`.
Piece Bytes(const std::string& hex, Kind kind = Kind::Bytes, std::string what = {}) {
    const std::string bytes = BytesOfText(hex);
    return {kind, {bytes.begin(), bytes.end()}, std::move(what)};
}

const std::string kSetX = "F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7";
const std::string kIdentity = "F0 7E 7F 06 01 F7";

// A run of --receive: options after "--receive jack", the source's pieces,
// and what comes out; each line of `err` after the listening line, without
// the program's name in front.
struct Case {
    std::vector<std::string> args;
    std::vector<Piece> script;
    std::string out;
    std::vector<std::string> err;
    int status;
    std::optional<std::string> unserved{}; // what the source's Unserved says
};

// Runs each case; one that is given no --timeout gets a long one, so that
// it ends even when the messages it counts on never come.
void Check(const std::vector<Case>& cases) {
    for (const Case& c : cases) {
        std::vector<std::string> args = {"--receive", "jack"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        if (std::find(args.begin(), args.end(), "--timeout") == args.end()) {
            args.insert(args.end(), {"--timeout", "5000"});
        }
        std::string err = "vantrel-convert: listening to jack:keys:out\n";
        for (const std::string& line : c.err) {
            err += "vantrel-convert: " + line + "\n";
        }
        RecordingPorts ports;
        ScriptedInputs inputs;
        inputs.script = c.script;
        inputs.unserved = c.unserved;
        std::istringstream in("set x\n");
        std::ostringstream out;
        std::ostringstream errors;
        EXPECT_EQ(c.status, RunConvertTool(Arguments(args), in, out, errors, {&ports, &inputs}))
            << testing::PrintToString(args);
        EXPECT_EQ(c.out, out.str()) << testing::PrintToString(args);
        EXPECT_EQ(err, errors.str()) << testing::PrintToString(args);
        EXPECT_EQ(0, in.tellg()) << "standard input was read";
    }
}

TEST(ReceiveTool, EachKindOfMessageIsShownAsAsked) {
    // A Vantrel message in two chunks around a clock byte, other MIDI, and a
    // message of someone else's.
    const std::vector<Piece> stream = {Bytes("F0 00 00 40 02 00 00 61 05 73 F8"),
                                       Bytes("65 74 20 78 F7 90 40 7F " + kIdentity)};
    const std::string malformed = "F0 00 00 40 02 00 00 61 02 73 F7";
    const std::string lineFeed = "F0 00 00 40 02 00 00 61 01 0A F7";
    const std::string unreadable = "message 1: cannot be read as a Vantrel message: ";
    Check({
        {{"--count", "2"}, stream, kSetX + "\n" + kIdentity + "\n", {}, kAllAccepted},
        {{"--count", "2", "--decode"},
         stream,
         "set x\n",
         {"message 2: not a Vantrel message: value 7e at position 1 should be 00: the header is "
          "F0 00 00 40 02 00 00 61"},
         kNotShown},
        {{"--count", "2", "--syx"},
         stream,
         BytesOfText(kSetX) + BytesOfText(kIdentity),
         {},
         kAllAccepted},
        {{"--count", "1"},
         {Bytes(malformed)},
         malformed + "\n",
         {unreadable + "the length 02 (position 8) does not match the 1 values (01) between it "
                       "and F7"},
         kNotShown},
        // A capture keeps no unreadable Vantrel message, but a line feed.
        {{"--count", "3", "--syx"},
         {Bytes(malformed + " " + lineFeed + " " + kIdentity)},
         BytesOfText(lineFeed + " " + kIdentity),
         {unreadable + "the length 02 (position 8) does not match the 1 values (01) between it "
                       "and F7"},
         kNotShown},
        {{"--count", "1"},
         {Bytes(lineFeed)},
         "F0 00 00 40 02 00 00 61 01 0a F7\n",
         {},
         kAllAccepted},
        {{"--count", "1", "--decode"},
         {Bytes(lineFeed)},
         "",
         {unreadable + "value 0a at position 9 is a line feed, which cannot be printed within "
                       "one line"},
         kNotShown},
    });
}

TEST(ReceiveTool, CutMessagesLossesAndTheEndAreReportedAndStatusesKeepTheirOrder) {
    const std::string two = "F0 02 F7";
    const std::string unfinished = "message 1: cut short: the run ended before its F7";
    Check({
        // A status byte cuts message 1; message 2 is whole.
        {{"--count", "1"},
         {Bytes("F0 01"), Bytes("90 40 7F " + two)},
         two + "\n",
         {"message 1: cut short: status byte 90 came before F7"},
         kNotShown},
        {{"--count", "1"},
         {Bytes("F0 01", Kind::Broken, "the driver says so"), Bytes(two)},
         two + "\n",
         {"message 1: cut short: the driver says so"},
         kNotShown},
        {{"--count", "1"},
         {Bytes("F0 01", Kind::Lost, "the queue was full"), Bytes(two)},
         two + "\n",
         {"input from jack:keys:out was lost: the queue was full",
          "message 1: cut short: part of it was lost"},
         kPortFailed},
        {{"--count", "1", "--syx"},
         {Bytes("F0 01", Kind::Xrun), Bytes(two)},
         BytesOfText(two),
         {"message 1: cut short: part of it may have been lost in an xrun"},
         kPortFailed},
        // Xruns are said once where they fell, with the messages around them.
        {{"--count", "3"},
         {Bytes(two, Kind::Xrun), Bytes("", Kind::Xrun), Bytes(two), Bytes(two, Kind::Xrun)},
         two + "\n" + two + "\n" + two + "\n",
         {"messages may have been lost in an xrun between message 1 and message 2"},
         kPortFailed},
        {{"--timeout", "30"},
         {Bytes("", Kind::Xrun), Bytes(two, Kind::Xrun)},
         two + "\n",
         {"messages may have been lost in an xrun before message 1",
          "messages may have been lost in an xrun after message 1, the last to arrive"},
         kPortFailed},
        // A quiet time in which the server ran nothing is the server's failure.
        {{"--timeout", "30", "--count", "1"},
         {},
         "",
         {"cannot receive from jack:keys:out: the server froze"},
         kPortFailed,
         "the server froze"},
        // The end of the input, then of the run, with a message unfinished.
        {{"--count", "2"},
         {Bytes(two + " F0 03", Kind::Closed, "the source went away")},
         two + "\n",
         {"cannot receive from jack:keys:out: the source went away",
          "message 2: cut short: the run ended before its F7"},
         kPortFailed},
        {{"--timeout", "30"}, {Bytes("F0 01")}, "", {unfinished}, kNotShown},
        // Status 5 says what ended the run.
        {{"--timeout", "30", "--count", "2"},
         {Bytes("F0 01")},
         "",
         {unfinished, "nothing arrived for 30 ms; 0 of 2 messages"},
         kTimedOut},
        {{"--timeout", "30", "--count", "1"},
         {},
         "",
         {"nothing arrived for 30 ms; 0 of 1 messages"},
         kTimedOut},
        {{"--timeout", "30"}, {Bytes(two)}, two + "\n", {}, kAllAccepted},
        // The count stops the run within a piece.
        {{"--count", "2"},
         {Bytes(two + " " + two + " " + two)},
         two + "\n" + two + "\n",
         {},
         kAllAccepted},
    });
}

TEST(ReceiveTool, SourcesAreListedAndChosenAndUsageIsChecked) {
    ScriptedInputs inputs;
    RecordingPorts ports;
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(kAllAccepted,
              RunConvertTool(Arguments({"--list-inputs"}), in, out, err, {&ports, &inputs}));
    EXPECT_EQ("jack:keys:out\nalsa:Keys:Port-0  [20:0]\nalsa:Pads:Port-0  [24:0]\n", out.str());
    // A name's control characters never reach the listing raw.
    inputs.sources = {{{"jack:\x1b[2Jred:out", ""}}, {}};
    out.str("");
    EXPECT_EQ(kAllAccepted,
              RunConvertTool(Arguments({"--list-inputs"}), in, out, err, {&ports, &inputs}));
    EXPECT_EQ("jack:\\x1b[2Jred:out\n", out.str());
    inputs.sources = {{}, {"jack: not running"}};
    EXPECT_EQ(kAllAccepted,
              RunConvertTool(Arguments({"--list-inputs"}), in, out, err, {&ports, &inputs}));
    EXPECT_EQ("vantrel-convert: there are no MIDI sources\n  not reached: jack: not running\n",
              err.str());

    const std::pair<std::string, std::string> choices[] = {
        {"nowhere", "vantrel-convert: no MIDI source matches \"nowhere\"; the sources are:\n  "
                    "jack:keys:out\n  alsa:Keys:Port-0  [20:0]\n  alsa:Pads:Port-0  [24:0]\n"},
        {"alsa", "vantrel-convert: \"alsa\" matches several MIDI sources:\n  alsa:Keys:Port-0  "
                 "[20:0]\n  alsa:Pads:Port-0  [24:0]\n"},
        {"24:0", "vantrel-convert: cannot open alsa:Pads:Port-0: busy\n"},
        {"pads", "vantrel-convert: cannot open alsa:Pads:Port-0: busy\n"},
    };
    for (const auto& [port, error] : choices) {
        ScriptedInputs failing;
        failing.openError = "busy";
        std::ostringstream errors;
        EXPECT_EQ(kPortFailed, RunConvertTool(Arguments({"--receive", port}), in, out, errors,
                                              {&ports, &failing}));
        EXPECT_EQ(error, errors.str());
    }

    for (const std::vector<std::string>& args : {std::vector<std::string>{"--count", "1"},
                                                 {"--timeout", "5", "set x"},
                                                 {"--receive", "keys", "set x"},
                                                 {"--receive", "keys", "--send", "x"},
                                                 {"--receive", "keys", "--check"},
                                                 {"--receive", "keys", "--syx", "--decode"},
                                                 {"--receive", "keys", "--count", "0"},
                                                 {"--receive", "keys", "--timeout", "0"},
                                                 {"--receive", "keys", "--timeout", "86400001"}}) {
        ScriptedInputs unused;
        std::ostringstream errors;
        EXPECT_EQ(kBadInput, RunConvertTool(Arguments(args), in, out, errors, {&ports, &unused}))
            << testing::PrintToString(args);
        EXPECT_TRUE(unused.calls.empty());
        EXPECT_NE(std::string::npos, errors.str().find("Try 'vantrel-convert --help'"));
    }
}

} // namespace
