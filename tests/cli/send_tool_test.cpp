// In-process tests of --send and --list-ports against a recording fake of
// the MIDI ports: which port is chosen, what is sent and in what order, the
// errors, and the exit statuses.
#include "RecordingPorts.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <chrono>
#include <sstream>

namespace {

Outcome RunWith(RecordingPorts& ports, const std::vector<std::string>& args,
                const std::string& input) {
    return RunTool(args, input, kPieceBytes, &ports);
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

const midi_ports::PortList kPorts = {
    {"jack:midi-monitor:input", "jack:monitor:in", "alsa:Midi Through:Midi Through Port-0"},
    {"winmm: not here"}};

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
                    "are:\n  jack:midi-monitor:input\n  jack:monitor:in\n  alsa:Midi Through:Midi "
                    "Through Port-0\n  not reached: winmm: not here\n"},
        {"moni", "vantrel-convert: \"moni\" matches several MIDI output ports:\n  "
                 "jack:midi-monitor:input\n  jack:monitor:in\n"},
        {"through", "vantrel-convert: cannot open alsa:Midi Through:Midi Through Port-0: busy\n"},
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
    // A name given whole wins over others that contain it.
    RecordingPorts ports;
    ports.ports = kPorts;
    EXPECT_EQ(kAllAccepted, RunWith(ports, {"--send", "monitor:IN", "set x"}, "").status);
    EXPECT_EQ("open jack:monitor:in", ports.calls.at(1));
}

TEST(SendTool, FailedSendsEndTheRunAndStatusesKeepTheirOrder) {
    RecordingPorts failing;
    failing.ports = kPorts;
    failing.failingSend = 1;
    const Outcome stopped = RunWith(failing, {"--send", "through"}, "set a\nset b\nset c\n");
    EXPECT_EQ(kPortFailed, stopped.status);
    EXPECT_EQ(2u, BytesOfLines(stopped.out).size());
    EXPECT_EQ("vantrel-convert: line 2: cannot send to alsa:Midi Through:Midi Through Port-0: the "
              "fake fails here\n",
              stopped.err);
    const std::vector<std::string> calls = {"list", "open alsa:Midi Through:Midi Through Port-0",
                                            "send", "send"};
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

TEST(SendTool, UsageListingAndInterval) {
    for (const std::vector<std::string>& args :
         {std::vector<std::string>{"--send", "through", "--syx"},
          {"--decode", "--send", "x"},
          {"--interval", "5", "set x"},
          {"--send"},
          {"--send", "x", "--interval", "-1"},
          {"--send", "x", "--interval", "1e3"}}) {
        RecordingPorts ports;
        ports.ports = kPorts;
        const Outcome run = RunWith(ports, args, "");
        EXPECT_EQ(kBadInput, run.status) << testing::PrintToString(args);
        EXPECT_TRUE(ports.calls.empty());
    }
    RecordingPorts ports;
    ports.ports = kPorts;
    const Outcome listed = RunWith(ports, {"--list-ports"}, "");
    EXPECT_EQ("jack:midi-monitor:input\njack:monitor:in\nalsa:Midi Through:Midi Through Port-0\n",
              listed.out);
    RecordingPorts none;
    none.ports.unreachable = {"jack: cannot connect"};
    const Outcome empty = RunWith(none, {"--list-ports"}, "");
    EXPECT_EQ(kAllAccepted, empty.status);
    EXPECT_EQ("vantrel-convert: there are no MIDI output ports\n  not reached: jack: cannot "
              "connect\n",
              empty.err);
    // Three messages, two waits of at least the interval between them.
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(
        kAllAccepted,
        RunWith(ports, {"--send", "through", "--interval", "40"}, "set a\nset b\nset c\n").status);
    EXPECT_GE(std::chrono::steady_clock::now() - start, std::chrono::milliseconds(80));
}

} // namespace
