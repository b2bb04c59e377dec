// In-process tests of --send and --list-ports against a recording fake of
// the MIDI ports and a clock that moves only when waited on: which port is
// chosen, what is sent, in what order and at what pace, when each answer
// leaves, failures the back end notices on its own, stop requests, the
// errors, and the exit statuses.
#include "FakeClock.h"
#include "RecordingPorts.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <sstream>

using namespace cli;

namespace {

Outcome RunWith(RecordingPorts& ports, const std::vector<std::string>& args,
                const std::string& input) {
    return RunTool(args, input, kPieceBytes, &ports);
}

// Standard output that adds what each flush hands out to `log` as
// "answer TEXT", so that the log shows it among the sends and waits.
class LoggedOutput final : public std::stringbuf {
  public:
    explicit LoggedOutput(std::vector<std::string>& log) : log_(log) {}

  private:
    int sync() override {
        const std::string text = str();
        if (text.size() > handed_) {
            log_.push_back("answer " + text.substr(handed_));
            handed_ = text.size();
        }
        return 0;
    }
    std::vector<std::string>& log_;
    std::size_t handed_ = 0;
};

// Runs the tool on `clock`, with the ports' calls, the clock's waits and the
// answers handed out all in ports.calls.
Outcome RunPaced(RecordingPorts& ports, FakeClock& clock, const std::vector<std::string>& args,
                 const std::string& input) {
    clock.log = &ports.calls;
    LoggedOutput logged(ports.calls);
    std::ostream out(&logged);
    std::istringstream in(input);
    std::ostringstream err;
    const int status = RunConvertTool(Arguments(args), in, out, err, {&ports, nullptr, &clock});
    return {status, logged.str(), err.str(), in.tellg() == 0};
}

// The bytes of each message among the lines of `text`.
std::vector<std::string> BytesOfLines(const std::string& text) {
    std::vector<std::string> messages;
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.starts_with("F0")) {
            messages.push_back(BytesOfText(line));
        }
    }
    return messages;
}

const midi_ports::PortList kPorts = {{{"jack:midi-monitor:input", ""},
                                      {"jack:monitor:in", ""},
                                      {"alsa:Midi Through:Midi Through Port-0", "14:0"}},
                                     {"winmm: not here"}};
const std::string kThrough = "alsa:Midi Through:Midi Through Port-0  [14:0]";

const std::string kSetA = "F0 00 00 40 02 00 00 61 05 73 65 74 20 61 F7\n";
const std::string kSetB = "F0 00 00 40 02 00 00 61 05 73 65 74 20 62 F7\n";
const std::string kSetC = "F0 00 00 40 02 00 00 61 05 73 65 74 20 63 F7\n";

TEST(SendTool, SendsEachValidMessageInOrderAndPrintsEveryResult) {
    // Refused, not valid MIDI, not UTF-8: printed or reported as --check
    // does, and not sent.
    const std::string input = "set x\ngo 1\nset \xC3\xA9\nset \xFF\n set Mode 1\n";
    RecordingPorts ports;
    ports.ports = kPorts;
    const Outcome sent = RunWith(ports, {"--send", "MIDI-MONITOR", "--check"}, input);
    const Outcome checked = RunWith(ports, {"--check"}, input);
    EXPECT_EQ(kBadInput, sent.status);
    EXPECT_EQ(checked.out, sent.out);
    EXPECT_EQ(checked.err, sent.err);
    const std::vector<std::string> calls = {"list", "open jack:midi-monitor:input", "send", "send",
                                            "finish"};
    EXPECT_EQ(calls, ports.calls);
    const std::vector<std::string> valid =
        BytesOfLines(RunWith(ports, {}, "set x\nset Mode 1").out);
    EXPECT_EQ(valid, ports.sent);
}

TEST(SendTool, PortErrorsEndTheRunWithStatus4BeforeAnyInputIsRead) {
    const std::pair<std::string, std::string> cases[] = {
        {"nowhere", "vantrel-convert: no MIDI output port matches \"nowhere\"; the output ports "
                    "are:\n  jack:midi-monitor:input\n  jack:monitor:in\n  " +
                        kThrough + "\n  not reached: winmm: not here\n"},
        {"moni", "vantrel-convert: \"moni\" matches several MIDI output ports:\n  "
                 "jack:midi-monitor:input\n  jack:monitor:in\n"},
        {"through", "vantrel-convert: cannot open " + kThrough + ": busy\n"},
    };
    for (const auto& [port, error] : cases) {
        RecordingPorts ports;
        ports.ports = kPorts;
        ports.openError = "busy";
        const Outcome run = RunWith(ports, {"--send", port}, "set x\n");
        EXPECT_EQ(kPortFailed, run.status);
        EXPECT_EQ("", run.out);
        EXPECT_EQ(error, run.err);
        EXPECT_TRUE(run.inputUntouched);
    }
}

TEST(SendTool, FailedSendsEndTheRunAndStatusesKeepTheirOrder) {
    RecordingPorts failing;
    failing.ports = kPorts;
    failing.failingSend = 1;
    const Outcome stopped = RunWith(failing, {"--send", "through"}, "set a\nset b\nset c\n");
    EXPECT_EQ(kPortFailed, stopped.status);
    EXPECT_EQ(1u, BytesOfLines(stopped.out).size()) << "no answer for the message not sent";
    EXPECT_EQ("vantrel-convert: line 2: cannot send to alsa:Midi Through:Midi Through Port-0: the "
              "fake fails here\nvantrel-convert: line 3 on: not sent\n",
              stopped.err);
    const std::vector<std::string> calls = {"list", "open " + kThrough, "send", "send"};
    EXPECT_EQ(calls, failing.calls) << "neither the third message nor finish";
    // A message still pending at the end: 4 over 3 and 1, 2 over 4.
    const std::tuple<std::string, int> cases[] = {
        {"set x\ngo\n", kPortFailed}, {"set \xC3\xA9\n", kPortFailed}, {"set \xFF\n", kBadInput}};
    for (const auto& [input, status] : cases) {
        RecordingPorts ports;
        ports.ports = kPorts;
        ports.finishError = "1 message still waiting";
        const Outcome run = RunWith(ports, {"--send", "through"}, input);
        EXPECT_EQ(status, run.status) << input;
        EXPECT_NE(std::string::npos, run.err.find("vantrel-convert: cannot send to alsa:Midi "
                                                  "Through:Midi Through Port-0: 1 message still "
                                                  "waiting\n"))
            << run.err;
    }
}

TEST(SendTool, UsageErrorsAndTheList) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--send", "through", "--syx", "set x"},
          {"--decode", "--send", "x"},
          {"--interval", "5", "set x"},
          {"--rate", "max", "set x"},
          {"--send"},
          {"--send", ""},
          {"--send", "through", "--send", "monitor"},
          {"--list-ports", "set x"},
          {"--list-ports", "--send", "through"},
          {"--send", "x", "--interval", "-1"},
          {"--send", "x", "--interval", "1e3"},
          {"--send", "x", "--interval", "60001"},
          {"--send", "x", "--rate", "0"},
          {"--send", "x", "--rate", "10000001"},
          {"--send", "x", "--rate", "MAX"},
          {"--send", "x", "--rate", ""}}) {
        RecordingPorts ports;
        ports.ports = kPorts;
        const Outcome run = RunWith(ports, args, "");
        EXPECT_EQ(kBadInput, run.status) << testing::PrintToString(args);
        EXPECT_TRUE(ports.calls.empty());
        EXPECT_NE(std::string::npos, run.err.find("Try 'vantrel-convert --help'.")) << run.err;
    }
    RecordingPorts ports;
    ports.ports = kPorts;
    const Outcome listed = RunWith(ports, {"--list-ports"}, "");
    EXPECT_EQ("jack:midi-monitor:input\njack:monitor:in\n" + kThrough + "\n", listed.out);
    RecordingPorts none;
    none.ports.unreachable = {"jack: cannot connect"};
    const Outcome empty = RunWith(none, {"--list-ports"}, "");
    EXPECT_EQ(kAllAccepted, empty.status);
    EXPECT_EQ("vantrel-convert: there are no MIDI output ports\n  not reached: jack: cannot "
              "connect\n",
              empty.err);
}

TEST(SendTool, AnswersLeaveAsTheirMessagesAreHandedOnAtThePaceAsked) {
    // Each message of 15 bytes takes 5 ms at 3000 bytes a second; the
    // refused line's answer goes out with the next message's.
    const std::string input = "set a\ngo\nset b\nset c\n";
    // The larger of the rate's spacing and the interval: 10 ms at 1,500
    // bytes a second against 7 ms; 7 ms alone at max.
    const std::pair<std::vector<std::string>, std::string> cases[] = {
        {{}, "wait 5000us"},
        {{"--rate", "1500", "--interval", "7"}, "wait 10000us"},
        {{"--interval", "7", "--rate", "max"}, "wait 7000us"},
    };
    for (const auto& [options, wait] : cases) {
        RecordingPorts ports;
        ports.ports = kPorts;
        FakeClock clock;
        std::vector<std::string> args = {"--send", "through"};
        args.insert(args.end(), options.begin(), options.end());
        const Outcome run = RunPaced(ports, clock, args, input);
        EXPECT_EQ(kRefused, run.status);
        const std::vector<std::string> calls = {"list",
                                                "open " + kThrough,
                                                "send",
                                                "answer " + kSetA,
                                                wait,
                                                "send",
                                                "answer \"go\" does not start with \"set \"\n" +
                                                    kSetB,
                                                wait,
                                                "send",
                                                "answer " + kSetC,
                                                "finish"};
        EXPECT_EQ(calls, ports.calls) << testing::PrintToString(options);
    }
    RecordingPorts ports;
    ports.ports = kPorts;
    FakeClock clock;
    RunPaced(ports, clock, {"--send", "through", "--rate", "max"}, input);
    EXPECT_EQ(clock.Zero(), clock.now) << "--rate max waits for nothing";
}

TEST(SendTool, FailuresTheBackEndNoticesNameTheirLinesAndStopTheReading) {
    // Message 0 is line 1, message 1 line 3 and message 2 line 4.
    const std::string input = "set a\ngo\nset b\nset c\nset d\n";
    struct Case {
        std::string what;
        std::size_t first, last; // the messages it concerns, from 0
        std::size_t after;       // messages sent when it is noticed; SIZE_MAX at the end
        std::vector<std::string> args;
        std::string error;
        std::size_t sent;
        // Where the back end takes an xrun up again, and what that run ends with.
        std::optional<std::size_t> resumeFrom{};
        int status = kPortFailed;
        std::size_t answered = 0; // when not `sent`
    };
    const std::vector<Case> cases = {
        {"not delivered: the receiving port went away",
         1,
         1,
         2,
         {},
         "vantrel-convert: line 3: not delivered: the receiving port went away\n"
         "vantrel-convert: line 4 on: not sent\n",
         2},
        {"may be lost or doubled by an xrun",
         0,
         2,
         3,
         {},
         "vantrel-convert: lines 1-4: may be lost or doubled by an xrun\n"
         "vantrel-convert: line 5 on: not sent\n",
         3},
        // Taken up again: lines 3 and 4 go again, then line 5.
        {"may be lost or doubled by an xrun",
         1,
         2,
         3,
         {},
         "vantrel-convert: lines 3-4 sent again after an xrun\n",
         6,
         1,
         kRefused, // line 2, "go"
         4},
        {"may be lost or doubled by an xrun",
         2,
         3,
         SIZE_MAX,
         {},
         "vantrel-convert: lines 4-5: may be lost or doubled by an xrun\n",
         4},
        {"not delivered: gone",
         0,
         0,
         1,
         {"set a", "set b", "set c"},
         "vantrel-convert: argument 1: not delivered: gone\n"
         "vantrel-convert: arguments 2-3: not sent\n",
         1},
    };
    for (const auto& c : cases) {
        RecordingPorts ports;
        ports.ports = kPorts;
        ports.trouble = midi_ports::SendFailure{c.what, c.first, c.last, c.resumeFrom.has_value()};
        ports.troubleAfter = c.after;
        ports.resumeFrom = c.resumeFrom;
        ports.confirmed = c.resumeFrom.value_or(SIZE_MAX);
        std::vector<std::string> args = {"--send", "through", "--rate", "max"};
        args.insert(args.end(), c.args.begin(), c.args.end());
        const Outcome run = RunWith(ports, args, input);
        EXPECT_EQ(c.status, run.status);
        EXPECT_EQ(c.error, run.err);
        EXPECT_EQ(c.sent, ports.sent.size()) << c.error;
        EXPECT_EQ(c.answered != 0 ? c.answered : c.sent, BytesOfLines(run.out).size())
            << "answers of what was handed on";
        EXPECT_EQ(c.after == SIZE_MAX, ports.calls.back() == "trouble" &&
                                           ports.calls[ports.calls.size() - 2] == "finish");
        if (c.resumeFrom) {
            EXPECT_EQ(ports.sent[*c.resumeFrom], ports.sent[3])
                << "sent again from there, in order";
            EXPECT_EQ(ports.sent[2], ports.sent[4]);
        }
    }
}

TEST(SendTool, AStopEndsTheReadingWaitsForWhatWasSentAndOutranksEveryStatus) {
    // A stop in the wait before the third message: it is not sent, and
    // says so; what went before is waited for.
    RecordingPorts ports;
    ports.ports = kPorts;
    FakeClock clock;
    clock.stopAtWait = 1;
    const Outcome run =
        RunPaced(ports, clock, {"--send", "through"}, "set \xFF\nset a\nset b\nset c\nset d\n");
    EXPECT_EQ(130, run.status) << "above 2 for the invalid line and 4 for the unsent message";
    EXPECT_EQ(2u, ports.sent.size());
    EXPECT_EQ("\n" + kSetA + kSetB, run.out) << "no answer for the message not handed on";
    EXPECT_NE(std::string::npos,
              run.err.find("vantrel-convert: line 4: not sent: the run was interrupted\n"))
        << run.err;
    EXPECT_EQ("finish", ports.calls.back());
    // A stop already requested: nothing is read, nothing sent.
    const int statuses[] = {130, 143};
    for (const int status : statuses) {
        RecordingPorts idle;
        idle.ports = kPorts;
        FakeClock stopped;
        stopped.stopStatus = status;
        const Outcome none = RunPaced(idle, stopped, {"--send", "through"}, "set a\n");
        EXPECT_EQ(status, none.status);
        EXPECT_EQ("", none.out);
        EXPECT_TRUE(idle.sent.empty());
    }
}

} // namespace
