// End-to-end tests of --send and --list-ports through a real JACK server
// (JackServer.h): the built vantrel-convert sends to jack_midi_dump, a
// receiving client we did not write, and to a small receiver of the test's
// own with room for a whole burst.
#include "ChildProcess.h"
#include "JackClient.h"
#include "JackServer.h"
#include "Tool.h"

#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <map>
#include <optional>
#include <regex>
#include <sstream>
#include <thread>

using namespace cli;

namespace {

// A JACK client with one MIDI input port, "vantrel-receiver:in", that keeps
// every message arriving (up to a megabyte) and counts the periods that
// brought any.
class Receiver {
  public:
    explicit Receiver(const char* name = "vantrel-receiver") {
        client_ = OpenClient(name);
        queue_ = jack_ringbuffer_create(1 << 20);
        if (client_ != nullptr) {
            port_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
            jack_set_process_callback(client_, Process, this);
            active_ = port_ != nullptr && jack_activate(client_) == 0;
        }
    }
    ~Receiver() {
        if (client_ != nullptr) {
            jack_client_close(client_);
        }
        jack_ringbuffer_free(queue_);
    }

    bool Ready() const { return active_; }
    int Periods() const { return periods_.load(); }
    bool Rename(const char* name) { return jack_port_rename(client_, port_, name) == 0; }

    // The messages that arrive, once there are `count` of them, or when
    // none has come for a second, or after a deadline.
    std::vector<std::string> Take(std::size_t count) {
        std::vector<std::string> messages;
        auto quiet = std::chrono::steady_clock::now() + std::chrono::seconds(1);
        WaitUntil(
            [&] {
                if (jack_ringbuffer_read_space(queue_) > 0) {
                    quiet = std::chrono::steady_clock::now() + std::chrono::seconds(1);
                }
                std::uint32_t size = 0;
                while (jack_ringbuffer_peek(queue_, reinterpret_cast<char*>(&size), sizeof size) ==
                           sizeof size &&
                       jack_ringbuffer_read_space(queue_) >= sizeof size + size) {
                    jack_ringbuffer_read_advance(queue_, sizeof size);
                    std::string& message = messages.emplace_back(size, '\0');
                    jack_ringbuffer_read(queue_, message.data(), size);
                }
                return messages.size() >= count || std::chrono::steady_clock::now() > quiet;
            },
            std::chrono::seconds(20));
        return messages;
    }

  private:
    static int Process(jack_nframes_t frames, void* argument) {
        Receiver& self = *static_cast<Receiver*>(argument);
        void* buffer = jack_port_get_buffer(self.port_, frames);
        const std::uint32_t count = jack_midi_get_event_count(buffer);
        for (std::uint32_t i = 0; i < count; ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, buffer, i) != 0) {
                continue;
            }
            const auto size = static_cast<std::uint32_t>(event.size);
            if (jack_ringbuffer_write_space(self.queue_) >= sizeof size + size) {
                jack_ringbuffer_write(self.queue_, reinterpret_cast<const char*>(&size),
                                      sizeof size);
                jack_ringbuffer_write(self.queue_, reinterpret_cast<const char*>(event.buffer),
                                      event.size);
            }
        }
        self.periods_ += count > 0 ? 1 : 0;
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* port_ = nullptr;
    jack_ringbuffer_t* queue_ = nullptr;
    bool active_ = false;
    std::atomic<int> periods_{0};
};

class JackSend : public testing::Test {
  protected:
    // `driverOptions`: for the server's dummy driver ("-p", "16").
    explicit JackSend(const std::vector<std::string>& driverOptions = {})
        : server_(driverOptions) {}
    void SetUp() override { ASSERT_EQ("", server_.Error()); }
    ~JackSend() override { std::remove(dump_.c_str()); }

    // Starts jack_midi_dump; its output goes to dump_.
    void StartDump() {
        ASSERT_TRUE(server_.StartClient({"jack_midi_dump"}, dump_, "midi-monitor:input"))
            << "jack_midi_dump wrote: "
            << std::string(std::istreambuf_iterator<char>(std::ifstream(dump_).rdbuf()), {});
    }

    // The bytes jack_midi_dump printed ("   0: f0 00 ... f7", one message to
    // a line), once it has printed `count` messages or after a deadline.
    std::string Dumped(std::size_t count) {
        std::string bytes;
        WaitUntil(
            [&] {
                bytes.clear();
                std::ifstream file(dump_);
                std::size_t lines = 0;
                for (std::string line; std::getline(file, line); ++lines) {
                    std::istringstream words(line.substr(line.find(':') + 1));
                    for (unsigned value = 0; words >> std::hex >> value;) {
                        bytes += static_cast<char>(value);
                    }
                }
                return lines >= count;
            },
            std::chrono::seconds(20));
        return bytes;
    }

    JackServer server_;
    const std::string dump_ = "/tmp/" + server_.Name() + ".dump";
};

// "set " and then `length` - 4 visible characters (no spaces, which
// trimming would take off the end) that differ from one command to the next.
std::string Command(std::size_t length, std::size_t seed) {
    std::string command = "set ";
    while (command.size() < length) {
        command += static_cast<char>('!' + (seed++ * 7 + command.size()) % 94);
    }
    return command;
}

// A command of 127 units that names its sender and number: "set A12 ...".
std::string Numbered(char sender, std::size_t number) {
    std::string command = "set " + std::string(1, sender) + std::to_string(number) + " ";
    command.resize(127, '.');
    return command + "\n";
}

// What makes the tool send as fast as the port takes messages, as the tests
// that need speed want.
const std::vector<ProgramArgument> kFullSpeed = {"--rate", "max"};

std::vector<ProgramArgument> SendTo(const std::string& port) {
    std::vector<ProgramArgument> args = {"--send", port};
    args.insert(args.end(), kFullSpeed.begin(), kFullSpeed.end());
    return args;
}

// Feeds the tool one line every 20 ms, as a slow producer would, until it
// has `lines` of them or stops reading; returns the count written.
std::size_t Feed(ChildProcess& tool, char sender, std::size_t from, std::size_t lines) {
    for (std::size_t line = from; line < lines; ++line) {
        if (!tool.Write(Numbered(sender, line))) {
            return line;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return lines;
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

// Without libjack both directions name JACK as not reached, as they do a
// server that is not running, and nothing waits.
TEST(JackLibrary, AMissingLibraryReadsLikeAServerNotReached) {
    const midi_ports::JackLoader missing = [](std::string& error) {
        error = "libjack.so.0 is not installed";
        return static_cast<const midi_ports::JackFunctions*>(nullptr);
    };
    const auto ports = midi_ports::MakeJackPorts(midi_ports::kDeliveryTimeout, missing);
    const auto inputs = midi_ports::MakeJackInputs(1024, midi_ports::kDeliveryTimeout, missing);
    midi_ports::PortList list;
    ports->List(list);
    inputs->List(list);
    EXPECT_EQ(std::vector<std::string>(2, "jack: libjack.so.0 is not installed"), list.unreachable);
    EXPECT_FALSE(list.late);
    EXPECT_EQ("libjack.so.0 is not installed", ports->Open({"jack:a:b", {}}).error);
    EXPECT_EQ("libjack.so.0 is not installed", inputs->Open({"jack:a:b", {}}).error);
}

TEST_F(JackSend, ListsPortsAndRefusesUnknownAndAmbiguousOnes) {
    StartDump();
    Receiver receiver;
    ASSERT_TRUE(receiver.Ready());
    const Finished listed = RunProgram({"--list-ports"});
    EXPECT_EQ(kAllAccepted, listed.status);
    EXPECT_NE(std::string::npos, listed.out.find("jack:midi-monitor:input\n")) << listed.out;
    EXPECT_EQ("", listed.err);
    const Finished unknown = RunProgram({"--send", "nowhere"}, "set x\n");
    EXPECT_EQ(kPortFailed, unknown.status);
    EXPECT_EQ("", unknown.out);
    EXPECT_EQ(0u, unknown.err.find("vantrel-convert: no MIDI output port matches \"nowhere\"; the "
                                   "output ports are:\n"))
        << unknown.err;
    EXPECT_NE(std::string::npos, unknown.err.find("\n  jack:midi-monitor:input\n"));
    const Finished ambiguous = RunProgram({"--send", "IN"}, "set x\n");
    EXPECT_EQ(kPortFailed, ambiguous.status);
    EXPECT_EQ("", ambiguous.out);
    EXPECT_NE(std::string::npos, ambiguous.err.find("\"IN\" matches several MIDI output ports:"));
    EXPECT_NE(std::string::npos, ambiguous.err.find("\n  jack:vantrel-receiver:in\n"));
}

TEST_F(JackSend, JackMidiDumpReceivesWhatSyxWrites) {
    // Every length from 5 to 127 units; a refused command and one whose
    // message is not valid MIDI, which are not sent.
    std::string input;
    for (std::size_t i = 0; i < 300; ++i) {
        input += Command(5 + i % 123, i) + (i % 2 == 0 ? "\n" : "\r\n");
        input += i == 100 ? "go 1\nset \xC3\xA9\n" : "";
    }
    const Finished syx = RunProgram({"--syx"}, input);
    const Finished checked = RunProgram({"--check"}, input);
    JudgeRuns(1, 3, [&](int, std::string& why) {
        // jack_midi_dump is started anew for each run, so that it shows
        // this run's messages alone.
        server_.StopClients();
        StartDump();
        const Finished sent = RunProgram({"--send", "midi-monitor", "--interval", "1"}, input);
        // An xrun on a busy machine is named by the sender, last; what came
        // is then not judged.
        const std::size_t xrun = sent.err.find("vantrel-convert: lines");
        if (xrun != std::string::npos &&
            sent.err.ends_with("may be lost or doubled by an xrun\n")) {
            EXPECT_EQ(kPortFailed, sent.status);
            EXPECT_EQ(checked.err, sent.err.substr(0, xrun));
            why = sent.err.substr(xrun);
            return false;
        }
        EXPECT_EQ(kNotData, sent.status);
        EXPECT_EQ(checked.err, sent.err);
        EXPECT_TRUE(checked.out == sent.out) << "the text differs from --check's";
        EXPECT_TRUE(syx.out == Dumped(300)) << "jack_midi_dump did not receive what --syx writes";
        return true;
    });
}

TEST_F(JackSend, ABurstWithoutIntervalArrivesWhole) {
    Receiver receiver;
    ASSERT_TRUE(receiver.Ready());
    std::string input;
    for (std::size_t i = 0; i < 500; ++i) {
        input += Command(127, i) + "\n"; // 137 bytes each
    }
    const Finished sent = RunProgram({"--send", "vantrel-receiver:in", "--rate", "max"}, input);
    EXPECT_EQ(kAllAccepted, sent.status) << sent.err;
    std::string received;
    for (const std::string& message : receiver.Take(500)) {
        EXPECT_EQ(137u, message.size());
        received += message;
    }
    EXPECT_TRUE(RunProgram({"--syx"}, input).out == received) << "the bytes differ from --syx's";
    // More than a period's buffer holds: the rest waited for later periods.
    EXPECT_GT(receiver.Periods(), 1);
}

TEST_F(JackSend, TwoSendersIntoOneInputDeliverEverything) {
    Receiver receiver;
    ASSERT_TRUE(receiver.Ready());
    std::string inputs[2];
    for (std::size_t i = 0; i < 1000; ++i) {
        inputs[0] += Numbered('A', i);
        inputs[1] += Numbered('B', i);
    }
    Finished sent[2];
    std::thread second([&] { sent[1] = RunProgram(SendTo("vantrel-receiver:in"), inputs[1]); });
    sent[0] = RunProgram(SendTo("vantrel-receiver:in"), inputs[0]);
    second.join();
    std::string received[2]; // each sender's messages as they arrived
    for (const std::string& message : receiver.Take(2000)) {
        received[message.size() > 13 && message[13] == 'B'] += message;
    }
    for (int i = 0; i < 2; ++i) {
        EXPECT_EQ(kAllAccepted, sent[i].status) << sent[i].err;
        EXPECT_TRUE(RunProgram({"--syx"}, inputs[i]).out == received[i])
            << "sender " << i << ": " << received[i].size() / 137 << " of 1000 messages";
    }
}

using JackSendLoaded = AtPeriod<JackSend, 64>;

// Every run's one message arrives, unless the run says it may not have (an
// xrun, a server that did not answer in time); the connection is in place
// before it goes.
TEST_F(JackSendLoaded, TheFirstMessageArrivesOnABusyMachine) {
    Receiver receiver;
    ASSERT_TRUE(receiver.Ready());
    std::atomic<bool> busy = true;
    std::vector<std::thread> load;
    for (int i = 0; i < 3; ++i) {
        load.emplace_back([&] {
            while (busy.load(std::memory_order_relaxed)) {
            }
        });
    }
    for (std::size_t run = 0; run < 20; ++run) {
        const Finished sent = RunProgram(SendTo("vantrel-receiver:in"), Numbered('F', run));
        const std::vector<std::string> received = receiver.Take(1);
        const bool came =
            received.size() == 1 && received[0] == RunProgram({"--syx"}, Numbered('F', run)).out;
        if (sent.status == kAllAccepted) {
            EXPECT_TRUE(came) << "run " << run << ": status 0, yet nothing arrived";
        } else {
            // An xrun, or a server too busy to answer in time, is named.
            EXPECT_EQ(kPortFailed, sent.status) << sent.err;
            EXPECT_NE("", sent.err);
        }
    }
    busy = false;
    for (std::thread& thread : load) {
        thread.join();
    }
}

TEST_F(JackSend, AReceiverKilledMidStreamEndsTheRunNamingTheLine) {
    JudgeRuns(1, 3, [&](int, std::string& why) {
        server_.StopClients();
        StartDump();
        ChildProcess tool(ToolCommand(SendTo("midi-monitor:input")));
        EXPECT_TRUE(tool.Started());
        const bool fed = Feed(tool, 'K', 0, 30) == 30;
        if (fed) {
            Dumped(30);
            server_.SignalClients(SIGKILL);
        }
        const auto killed = std::chrono::steady_clock::now();
        const std::size_t written = fed ? Feed(tool, 'K', 30, 200) : 0;
        EXPECT_EQ(kPortFailed, tool.Wait(std::chrono::seconds(5)));
        const std::string errors = tool.Errors();
        // An xrun on a busy machine, named by the tool, ended the run before
        // the receiver died, or had lines sent again, which the receiver may
        // have printed twice: what it printed is then not judged.
        if (!fed || errors.find("sent again after an xrun") != std::string::npos) {
            EXPECT_NE(std::string::npos, errors.find("xrun")) << errors;
            why = errors;
            return false;
        }
        EXPECT_LT(SecondsSince(killed), 1.0) << written << " lines written";
        // The first line named is the first the receiver did not print, or,
        // when the tool cannot tell whether the last period was read, the
        // one before. An xrun on a busy machine, or a receiver that looked
        // alive for a while after its death, make a range that holds the
        // first line not printed.
        std::smatch named;
        EXPECT_TRUE(std::regex_search(
            errors, named,
            std::regex(
                "(?:^|\\n)vantrel-convert: lines? ([0-9]+)(-([0-9]+))?: (not delivered|may)")))
            << errors;
        if (named.empty()) {
            return true;
        }
        const std::size_t printed = Dumped(0).size() / 137;
        EXPECT_LE(std::stoul(named[1]), printed + 1) << errors;
        if (named[4] == "not delivered") {
            EXPECT_GE(std::stoul(named[1]), printed) << errors;
        } else {
            EXPECT_GE(std::stoul(named[named[3].matched ? 3 : 1]), printed + 1) << errors;
        }
        return true;
    });
}

// A server frozen with SIGSTOP: before the run starts; once the first
// messages have arrived, with a line more to send or with input left open
// and idle; or once a receiver listens. The run ends within its deadline
// (5 s) and a second; interrupted, within a second.
struct Freeze {
    enum When { Before, MidStream, Idle, Listening, Interrupted };
    const char* name;
    std::vector<ProgramArgument> args;
    When when;
    int status;
    const char* error;
};

void PrintTo(const Freeze& freeze, std::ostream* out) {
    *out << freeze.name;
}

class JackFrozen : public JackSend, public testing::WithParamInterface<Freeze> {};

TEST_P(JackFrozen, TheRunEndsWithinItsDeadline) {
    const Freeze& freeze = GetParam();
    Receiver receiver;
    ASSERT_TRUE(receiver.Ready());
    ChildProcess tool(ToolCommand(freeze.args));
    ASSERT_TRUE(tool.Started());
    if (freeze.when == Freeze::MidStream || freeze.when == Freeze::Idle) {
        ASSERT_EQ(5u, Feed(tool, 'S', 0, 5));
        ASSERT_EQ(5u, receiver.Take(5).size());
    }
    if (freeze.when == Freeze::Listening) {
        ASSERT_TRUE(WaitUntil([&] { return tool.Errors().find("listening") != std::string::npos; },
                              std::chrono::seconds(20)))
            << tool.Errors();
    }
    server_.Signal(SIGSTOP);
    auto frozen = std::chrono::steady_clock::now();
    if (freeze.when == Freeze::Interrupted) {
        // Once it has started the thread that calls libjack, the listing
        // waits on the frozen server; the signal ends it within a second.
        ASSERT_TRUE(WaitUntil([&] { return tool.Threads() > 1; }, std::chrono::seconds(20)));
        frozen = std::chrono::steady_clock::now();
        tool.Signal(SIGINT);
    } else if (freeze.when != Freeze::Idle) {
        tool.Write(Numbered('S', 5));
        tool.CloseInput();
    }
    EXPECT_EQ(freeze.status, tool.Wait(std::chrono::seconds(20)));
    EXPECT_LT(SecondsSince(frozen), freeze.when == Freeze::Interrupted ? 1.0 : 6.0);
    EXPECT_NE(std::string::npos, tool.Errors().find(freeze.error)) << tool.Errors();
    server_.Signal(SIGCONT);
}

const std::vector<ProgramArgument> kReceive = {"--receive", "vantrel-test:out"};

INSTANTIATE_TEST_SUITE_P(
    , JackFrozen,
    testing::Values(
        Freeze{"List", {"--list-ports"}, Freeze::Before, kPortFailed, "did not answer for 5000 ms"},
        Freeze{"ListInputs", {"--list-inputs"}, Freeze::Before, kPortFailed, "did not answer"},
        Freeze{"Open", SendTo("vantrel-receiver:in"), Freeze::Before, kPortFailed,
               "did not answer"},
        Freeze{"SendToAlsa", SendTo("alsa:nowhere"), Freeze::Before, kPortFailed, "did not answer"},
        Freeze{"MidStream", SendTo("vantrel-receiver:in"), Freeze::MidStream, kPortFailed,
               "6: not confirmed: the JACK server"},
        Freeze{"IdleInput", SendTo("vantrel-receiver:in"), Freeze::Idle, kPortFailed,
               "ran no period for 5000 ms"},
        Freeze{"Receive", kReceive, Freeze::Before, kPortFailed, "did not answer"},
        Freeze{"ListInterrupted", {"--list-ports"}, Freeze::Interrupted, 130, ""},
        Freeze{"Receiving", kReceive, Freeze::Listening, kPortFailed, "ran no period for 5000 ms"}),
    [](const testing::TestParamInfo<Freeze>& row) { return std::string(row.param.name); });

TEST_F(JackSend, ARenamedPortIsTheSameConnection) {
    Receiver receiver;
    ASSERT_TRUE(receiver.Ready());
    ChildProcess tool(ToolCommand(SendTo("vantrel-receiver:in")));
    ASSERT_TRUE(tool.Started());
    ASSERT_EQ(10u, Feed(tool, 'R', 0, 10));
    ASSERT_EQ(10u, receiver.Take(10).size());
    ASSERT_TRUE(receiver.Rename("renamed"));
    ASSERT_EQ(20u, Feed(tool, 'R', 10, 20));
    tool.CloseInput();
    EXPECT_EQ(kAllAccepted, tool.Wait(std::chrono::seconds(10))) << tool.Errors();
    EXPECT_EQ(10u, receiver.Take(10).size());
}

// Each spelling reaches its own port: an exact match, letter case
// included, wins over one that ignores case.
TEST_F(JackSend, NamesThatDifferInLetterCaseAreEachReached) {
    Receiver upper("Synth");
    Receiver lower("synth");
    ASSERT_TRUE(upper.Ready() && lower.Ready());
    for (const char* port : {"jack:Synth:in", "jack:synth:in"}) {
        const Finished sent = RunProgram({"--send", port}, Numbered('C', 0));
        EXPECT_EQ(kAllAccepted, sent.status) << sent.err;
    }
    EXPECT_EQ(1u, upper.Take(2).size());
    EXPECT_EQ(1u, lower.Take(2).size());
}

using JackSendXruns = AtPeriod<JackSend, 16>;

// Whether the first `count` of `expected` all arrived among `received`,
// the last arrival of each after the last of the one before: what a sender
// that goes back after an xrun must deliver. Every message is unique.
bool LastArrivalsInOrder(const std::vector<std::string>& received,
                         const std::vector<std::string>& expected, std::size_t count) {
    std::map<std::string, std::size_t> last;
    for (std::size_t i = 0; i < received.size(); ++i) {
        last[received[i]] = i;
    }
    for (std::size_t i = 0; i < count; ++i) {
        const auto at = last.find(expected[i]);
        if (at == last.end() || (i > 0 && at->second < last[expected[i - 1]])) {
            return false;
        }
    }
    return true;
}

// At 16 frames a period xruns come often, and the sender goes back after
// each. A run either delivers every message, the last arrival of each in
// order, with status 0, or names the lines an xrun may have struck with
// status 4; what came before those arrived, in order. In the first three
// runs the server stops for 30 ms mid-stream: an xrun for certain.
TEST_F(JackSendXruns, NoRunSucceedsAfterALoss) {
    std::optional<Receiver> receiver;
    std::string input;
    std::vector<std::string> expected;
    for (std::size_t i = 0; i < 1000; ++i) {
        input += Numbered('X', i);
        expected.push_back(RunProgram({"--syx", Numbered('X', i)}).out);
    }
    int wentBack = 0;
    JudgeRuns(5, 8, [&](int run, std::string& why) {
        // The server drops a client that it found too slow once too often;
        // the test's own receiver is then made again, and the run before
        // is not judged.
        if (!receiver || !server_.HasPort("vantrel-receiver:in")) {
            const bool again = receiver.has_value();
            receiver.reset();
            receiver.emplace();
            EXPECT_TRUE(receiver->Ready());
            if (again) {
                why = "the server dropped the test's receiver";
                return false;
            }
        }
        // Mid-stream: once ten periods of this run have brought messages.
        const int periods = receiver->Periods();
        std::thread freezer([&] {
            if (run < 3 && WaitUntil([&] { return receiver->Periods() > periods + 10; },
                                     std::chrono::seconds(20))) {
                server_.Signal(SIGSTOP);
                std::this_thread::sleep_for(std::chrono::milliseconds(30));
                server_.Signal(SIGCONT);
            }
        });
        std::vector<ProgramArgument> args = SendTo("vantrel-receiver:in");
        args.insert(args.end(), {"--interval", "1"});
        const Finished sent = RunProgram(args, input);
        freezer.join();
        const std::vector<std::string> received = receiver->Take(SIZE_MAX);
        wentBack += sent.err.find("sent again after an xrun") != std::string::npos ? 1 : 0;
        if (sent.status == kAllAccepted) {
            EXPECT_TRUE(LastArrivalsInOrder(received, expected, expected.size()))
                << "run " << run << ": " << received.size() << " messages arrived; " << sent.err;
            return true;
        }
        // The failure names the first line in doubt; lines sent again before
        // it were information, and those never sent come after it.
        const std::regex failure("vantrel-convert: lines? ([0-9]+)(-[0-9]+)?: ");
        std::size_t first = 0;
        for (auto line = std::sregex_iterator(sent.err.begin(), sent.err.end(), failure);
             line != std::sregex_iterator(); ++line) {
            first = std::stoul((*line)[1]);
        }
        EXPECT_NE(0u, first) << "run " << run << ": " << sent.err;
        EXPECT_EQ(kPortFailed, sent.status);
        EXPECT_TRUE(LastArrivalsInOrder(received, expected, first == 0 ? 0 : first - 1))
            << "run " << run << ": " << sent.err;
        return true;
    });
    EXPECT_GT(server_.Xruns(), 0) << "no xrun happened";
    EXPECT_GT(wentBack, 0) << "no run went back after an xrun";
}

} // namespace
