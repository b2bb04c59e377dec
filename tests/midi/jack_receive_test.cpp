// End-to-end tests of --receive through a real JACK server (JackServer.h):
// a through client of the test's own carries what the built vantrel-convert
// sends with --send to vantrel-convert --receive, started as a process that
// the test watches while it runs.
#include "ChildProcess.h"
#include "JackServer.h"
#include "Tool.h"
#include "ToolRun.h"

#include <jack/midiport.h>

#include <gtest/gtest.h>

#include <csignal>

#include <algorithm>
#include <atomic>
#include <random>
#include <regex>
#include <thread>
#include <utility>

using namespace cli;

namespace {

constexpr auto npos = std::string::npos;
const std::string kSource = "vantrel-through:out";
const std::string kListening = "vantrel-convert: listening to jack:" + kSource + "\n";

// Whether the sender named an xrun, last, with status 4 (checked): what
// came then cannot be judged.
bool SenderXrun(const Finished& sent, std::string& why) {
    if (!sent.err.ends_with("may be lost or doubled by an xrun\n")) {
        return false;
    }
    EXPECT_EQ(kPortFailed, sent.status) << sent.err;
    why = "the sender named an xrun: " + sent.err;
    return true;
}

// A JACK client, "vantrel-through", that copies every MIDI event from its
// input "in" to its output "out" in the same period, and sends a message of
// its own in the first period after Emit.
class Through {
  public:
    Through() {
        client_ = OpenClient("vantrel-through");
        if (client_ != nullptr) {
            in_ = jack_port_register(client_, "in", JACK_DEFAULT_MIDI_TYPE, JackPortIsInput, 0);
            out_ = jack_port_register(client_, "out", JACK_DEFAULT_MIDI_TYPE, JackPortIsOutput, 0);
            jack_set_process_callback(client_, Process, this);
            active_ = in_ != nullptr && out_ != nullptr && jack_activate(client_) == 0;
        }
    }
    ~Through() {
        if (client_ != nullptr) {
            jack_client_close(client_);
        }
    }
    bool Ready() const { return active_; }
    // The messages of its own it has sent so far.
    int Emitted() const { return emitted_; }
    void Emit(std::string message) {
        message_ = std::move(message);
        emit_ = true;
    }

  private:
    static int Process(jack_nframes_t frames, void* argument) {
        Through& self = *static_cast<Through*>(argument);
        void* in = jack_port_get_buffer(self.in_, frames);
        void* out = jack_port_get_buffer(self.out_, frames);
        jack_midi_clear_buffer(out);
        for (std::uint32_t i = 0; i < jack_midi_get_event_count(in); ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, in, i) == 0) {
                jack_midi_event_write(out, event.time, event.buffer, event.size);
            }
        }
        if (self.emit_.exchange(false) &&
            jack_midi_event_write(out, 0,
                                  reinterpret_cast<const jack_midi_data_t*>(self.message_.data()),
                                  self.message_.size()) == 0) {
            ++self.emitted_;
        }
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* in_ = nullptr;
    jack_port_t* out_ = nullptr;
    bool active_ = false;
    std::string message_;
    std::atomic<bool> emit_ = false;
    std::atomic<int> emitted_ = 0;
};

// vantrel-convert --receive from the through client, with `args` after it.
class Listener {
  public:
    explicit Listener(std::vector<std::string> args)
        : child_(ToolCommand(Command(std::move(args)))) {}

    // Whether it says it is listening, within a deadline.
    bool Listening() {
        return WaitUntil([&] { return child_.Errors().starts_with(kListening); },
                         std::chrono::seconds(20));
    }

    // Its output, once it holds `lines` lines or has ended.
    std::string Lines(std::size_t lines) {
        while (std::count(output_.begin(), output_.end(), '\n') < static_cast<long>(lines)) {
            const std::string more = child_.Read(1 << 16);
            if (more.empty()) {
                break;
            }
            output_ += more;
        }
        return std::exchange(output_, {});
    }

    // All of its output, once it has ended.
    std::string All() {
        for (std::string more; !(more = child_.Read(1 << 16)).empty();) {
            output_ += more;
        }
        return std::exchange(output_, {});
    }

    ChildProcess& Child() { return child_; }

    // Whether it named an xrun: a busy machine makes them, and what came
    // meanwhile may be lost, but not silently.
    bool Xrun() const { return child_.Errors().find("may have been lost in an xrun") != npos; }

    // Checks its exit status once it has ended: 4 when it named an xrun,
    // and then it cannot be judged (false, with `why`); 0 otherwise.
    bool EndedWell(std::string& why) {
        const int status = child_.Wait(std::chrono::seconds(20));
        if (Xrun()) {
            EXPECT_EQ(kPortFailed, status) << child_.Errors();
            why = "the receiver named an xrun: " + child_.Errors();
            return false;
        }
        EXPECT_EQ(kAllAccepted, status) << child_.Errors();
        return true;
    }

  private:
    static std::vector<std::string> Command(std::vector<std::string> args) {
        args.insert(args.begin(), {"--receive", kSource});
        return args;
    }

    ChildProcess child_;
    std::string output_;
};

class JackReceive : public testing::Test {
  protected:
    explicit JackReceive(const std::vector<std::string>& driverOptions = {})
        : server_(driverOptions) {}
    void SetUp() override {
        ASSERT_EQ("", server_.Error());
        ASSERT_TRUE(through_.Ready());
    }

    JackServer server_;
    Through through_;
};

// Periods of 256 frames (5.3 ms), about the length of the stops below.
using JackReceiveAtPeriod256 = AtPeriod<JackReceive, 256>;

TEST_F(JackReceive, RandomCommandsComeBackAsTheSenderPrintedThemAndAsTheTrimmedCommands) {
    // 400 commands of printable ASCII and tabs, the keyword in any case,
    // blanks around them; at most 127 units once trimmed.
    std::mt19937 random(20261216);
    auto pick = [&](std::size_t count) {
        return std::uniform_int_distribution<std::size_t>(0, count - 1)(random);
    };
    const std::string characters = "\t !\"#$%&'()*+,-./0123456789:;<=>?@ABCXYZ[\\]^_`abcxyz{|}~";
    std::string input;
    std::string trimmed;
    for (int i = 0; i < 400; ++i) {
        std::string command = pick(2) != 0 ? "set " : "SeT ";
        for (std::size_t length = 1 + pick(123); command.size() < length + 4;) {
            command += characters[pick(characters.size())];
        }
        if (command.back() == ' ' || command.back() == '\t') {
            command.back() = '.'; // trimming would take it off
        }
        trimmed += command + "\n";
        input += std::string(pick(3), ' ') + command + std::string(pick(3), '\t') + "\n";
    }
    JudgeRuns(1, 3, [&](int, std::string& why) {
        Listener text({"--count", "400", "--timeout", "20000"});
        Listener decoded({"--count", "400", "--timeout", "20000", "--decode"});
        EXPECT_TRUE(text.Listening() && decoded.Listening())
            << text.Child().Errors() << decoded.Child().Errors();
        const Finished sent = RunProgram({"--send", "vantrel-through:in", "--rate", "max"}, input);
        if (SenderXrun(sent, why)) {
            return false;
        }
        EXPECT_EQ(kAllAccepted, sent.status) << sent.err;
        const std::string texts = text.Lines(400);
        const std::string commands = decoded.Lines(400);
        const bool judged = text.EndedWell(why) && decoded.EndedWell(why);
        if (judged) {
            EXPECT_EQ(kListening, text.Child().Errors());
            EXPECT_EQ(kListening, decoded.Child().Errors());
            EXPECT_TRUE(texts == sent.out) << "the texts differ from the sender's";
            EXPECT_TRUE(commands == trimmed) << "the commands differ from the input";
        }
        return judged;
    });
}

TEST_F(JackReceive, EachMessageIsPrintedAsItArrives) {
    JudgeRuns(1, 3, [&](int, std::string& why) {
        Listener listener({"--count", "2", "--timeout", "20000"});
        EXPECT_TRUE(listener.Listening()) << listener.Child().Errors();
        // The first line comes while the receiver still waits for the second
        // message: it ends only after that one.
        const Finished first =
            RunProgram({"--send", "vantrel-through:in", "--rate", "max", "set a"});
        const std::string got = listener.Lines(1);
        const Finished second =
            RunProgram({"--send", "vantrel-through:in", "--rate", "max", "set b"});
        const std::string more = listener.Lines(1);
        if (SenderXrun(first, why) || SenderXrun(second, why) || !listener.EndedWell(why)) {
            return false;
        }
        EXPECT_EQ(first.out, got);
        EXPECT_EQ(second.out, more);
        return true;
    });
}

TEST_F(JackReceive, ASyxCaptureSentBackDeliversTheSameBytes) {
    // Vantrel's messages, a foreign one and one cut by a note, with bytes
    // between them: the cut one is named and not sent, the rest go.
    const std::string setA = BytesOfText("F0 00 00 40 02 00 00 61 05 73 65 74 20 61 F7");
    const std::string foreign = BytesOfText("F0 7E 7F 06 01 F7");
    const std::string setB = BytesOfText("F0 00 00 40 02 00 00 61 05 73 65 74 20 62 F7");
    const std::string stream =
        setA + BytesOfText("FE 90 40 7F") + foreign + BytesOfText("F0 01 02 90 40 7F") + setB;
    JudgeRuns(1, 3, [&](int, std::string& why) {
        std::string capture = stream;
        for (const bool again : {false, true}) {
            Listener listener({"--syx", "--count", "3", "--timeout", "20000"});
            EXPECT_TRUE(listener.Listening()) << listener.Child().Errors();
            const Finished sent =
                RunProgram({"--send", "vantrel-through:in", "--syx", "--rate", "max"}, capture);
            EXPECT_EQ("F0 00 00 40 02 00 00 61 05 73 65 74 20 61 F7\nF0 7E 7F 06 01 F7\n"
                      "F0 00 00 40 02 00 00 61 05 73 65 74 20 62 F7\n",
                      sent.out);
            const std::string cut = again ? ""
                                          : "vantrel-convert: message 3: malformed, not sent: cut "
                                            "short: status byte 90 came before F7\n";
            if (SenderXrun(sent, why)) {
                EXPECT_TRUE(sent.err.starts_with(cut)) << sent.err;
                return false;
            }
            EXPECT_EQ(again ? kAllAccepted : kBadInput, sent.status) << sent.err;
            EXPECT_EQ(cut, sent.err);
            capture = listener.All();
            if (!listener.EndedWell(why)) {
                return false;
            }
            EXPECT_TRUE(capture == setA + foreign + setB) << "the whole messages, byte for byte";
        }
        return true;
    });
}

TEST_F(JackReceive, SourcesAreListedAndAQuietTimeEndsTheRun) {
    const Finished listed = RunProgram({"--list-inputs"});
    EXPECT_EQ(kAllAccepted, listed.status);
    EXPECT_NE(std::string::npos, listed.out.find("jack:" + kSource + "\n")) << listed.out;
    EXPECT_EQ(std::string::npos, listed.out.find("vantrel-through:in")) << listed.out;
    // A quiet time ends the run: status 5 with a count that was not
    // reached, 0 without one. An xrun a busy machine makes is named, and
    // counts (status 4).
    JudgeRuns(2, 6, [&](int run, std::string& why) {
        const bool counted = run % 2 == 0;
        std::vector<ProgramArgument> args = {"--receive", kSource, "--timeout", "200"};
        if (counted) {
            args.insert(args.end(), {"--count", "1"});
        }
        const Finished quiet = RunProgram(args);
        EXPECT_EQ("", quiet.out);
        if (quiet.err.find("may have been lost in an xrun") != npos) {
            EXPECT_EQ(kPortFailed, quiet.status) << quiet.err;
            why = "the receiver named an xrun: " + quiet.err;
            return false;
        }
        EXPECT_EQ(counted ? kTimedOut : kAllAccepted, quiet.status) << quiet.err;
        EXPECT_EQ(
            kListening +
                (counted ? "vantrel-convert: nothing arrived for 200 ms; 0 of 1 messages\n" : ""),
            quiet.err);
        return true;
    });
}

// A server stopped and continued every 10 ms from the start is slow, not
// gone. The receiver listens only once its connection carries messages: one
// sent in the first period after "listening" is heard, whether the server
// is still slow then or runs again; and nothing calls the connection lost.
TEST_F(JackReceiveAtPeriod256, AMessageSentRightAfterListeningToASlowServerArrives) {
    const std::string line = "F0 00 00 40 02 00 00 61 05 73 65 74 20 61 F7\n";
    JudgeRuns(6, 12, [&](int run, std::string& why) {
        const bool slowAfter = run % 2 == 1;
        std::atomic<bool> stutter = true;
        std::thread stutterer([&] {
            while (stutter) {
                server_.Signal(SIGSTOP);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
                server_.Signal(SIGCONT);
                std::this_thread::sleep_for(std::chrono::milliseconds(5));
            }
        });
        Listener listener({"--count", "1", "--timeout", "5000"});
        const bool listening = listener.Listening();
        stutter = listening && slowAfter;
        const int emitted = through_.Emitted();
        if (listening) {
            through_.Emit(BytesOfText(line));
        }
        const bool lost =
            WaitUntil([&] { return listener.Child().Errors().find("was lost") != npos; },
                      std::chrono::seconds(slowAfter ? 1 : 0));
        stutter = false;
        stutterer.join();
        const std::string got = listener.Lines(1);
        const int status = listener.Child().Wait(std::chrono::seconds(20));
        const std::string errors = listener.Child().Errors();
        EXPECT_FALSE(lost) << "run " << run << ": " << errors;
        // A machine so busy, with the stops, that the server did not take
        // the receiver's client or ran no period for it within its
        // deadline, and the receiver said so; or that gave the through
        // client no period to send in.
        if (errors.find("ran no period for") != npos ||
            (!listening && errors.find("cannot connect to the JACK server") != npos)) {
            EXPECT_EQ(kPortFailed, status) << errors;
            why = errors;
            return false;
        }
        EXPECT_TRUE(listening) << "run " << run << ": " << errors;
        if (!WaitUntil([&] { return through_.Emitted() > emitted; }, std::chrono::seconds(5))) {
            why = "the through client got no period to send in";
            return false;
        }
        if (listener.Xrun()) {
            EXPECT_EQ(kPortFailed, status) << errors;
            why = "the receiver named an xrun: " + errors;
            return false;
        }
        EXPECT_EQ(kAllAccepted, status) << "run " << run << ": " << errors;
        EXPECT_EQ(line, got) << "run " << run;
        return true;
    });
}

// Trouble while a stream of 3,000 messages comes: the receiver stopped for
// 50 ms, which makes an xrun; the server stopped and continued every 10 ms
// for a second, slow but live; or a SIGTERM. A run names every xrun after
// the last message it printed before it, never calls the connection lost,
// and ends with a signal within a second.
struct Trouble {
    const char* name;
    void (*make)(JackServer& server, ChildProcess& receiver);
    int status; // -1: 0, or 4 with an xrun named
};

void PrintTo(const Trouble& trouble, std::ostream* out) {
    *out << trouble.name;
}

class JackReceiveTrouble : public JackReceive, public testing::WithParamInterface<Trouble> {};

TEST_P(JackReceiveTrouble, NothingIsLostSilently) {
    std::string input;
    for (int i = 0; i < 3000; ++i) {
        input += "set " + std::to_string(i) + "\n";
    }
    Listener listener({"--count", "3000", "--timeout", "3000"});
    ASSERT_TRUE(listener.Listening()) << listener.Child().Errors();
    Finished sent;
    std::thread sender([&] {
        sent = RunProgram({"--send", "vantrel-through:in", "--rate", "max"}, input);
    });
    std::string received = listener.Lines(100); // the stream has begun
    std::thread reader([&] { received += listener.Lines(3000); });
    const int xruns = server_.Xruns();
    GetParam().make(server_, listener.Child());
    const auto made = std::chrono::steady_clock::now();
    const int status = listener.Child().Wait(std::chrono::seconds(20));
    const auto ended = std::chrono::steady_clock::now();
    server_.Signal(SIGCONT);
    reader.join();
    sender.join();
    const std::string errors = listener.Child().Errors();
    const std::string expected = RunProgram({"--check"}, input).out;
    EXPECT_EQ(std::string::npos, errors.find("was lost")) << errors;
    std::smatch xrun;
    const bool named = std::regex_search(
        errors, xrun,
        std::regex("may have been lost in an xrun (?:before message 1|(?:between|after) "
                   "message (\\d+))"));
    std::string why;
    if (GetParam().status >= 0) {
        EXPECT_EQ(GetParam().status, status) << errors;
        EXPECT_LT(ended - made, std::chrono::seconds(1));
    } else if (named) {
        EXPECT_EQ(kPortFailed, status) << errors;
        // What came before the xrun came whole and in order.
        const std::size_t before = xrun[1].matched ? std::stoul(xrun[1]) : 0;
        std::size_t end = 0;
        for (std::size_t line = 0; line < before; ++line) {
            end = expected.find('\n', end) + 1;
        }
        EXPECT_EQ(0, received.compare(0, end, expected, 0, end)) << errors;
    } else if (SenderXrun(sent, why)) {
        // The sender stopped at its xrun: what came came whole and in
        // order, and the quiet time ended the run.
        EXPECT_EQ(kTimedOut, status) << errors;
        EXPECT_EQ(0, expected.compare(0, received.size(), received)) << errors;
    } else {
        EXPECT_EQ(kAllAccepted, status) << errors;
        EXPECT_TRUE(received == expected)
            << std::count(received.begin(), received.end(), '\n') << " lines; " << errors;
    }
    if (std::string(GetParam().name) == "ReceiverStopped") {
        EXPECT_GT(server_.Xruns(), xruns) << "no xrun happened";
        EXPECT_TRUE(named) << errors;
    }
}

INSTANTIATE_TEST_SUITE_P(
    , JackReceiveTrouble,
    testing::Values(Trouble{"ReceiverStopped",
                            [](JackServer&, ChildProcess& receiver) {
                                receiver.Signal(SIGSTOP);
                                std::this_thread::sleep_for(std::chrono::milliseconds(50));
                                receiver.Signal(SIGCONT);
                            },
                            -1},
                    Trouble{"SlowServer",
                            [](JackServer& server, ChildProcess&) {
                                for (int i = 0; i < 100; ++i) {
                                    server.Signal(SIGSTOP);
                                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                    server.Signal(SIGCONT);
                                    std::this_thread::sleep_for(std::chrono::milliseconds(5));
                                }
                            },
                            -1},
                    Trouble{"Terminated",
                            [](JackServer&, ChildProcess& receiver) { receiver.Signal(SIGTERM); },
                            143},
                    Trouble{"TerminatedOnAFrozenServer",
                            [](JackServer& server, ChildProcess& receiver) {
                                server.Signal(SIGSTOP);
                                receiver.Signal(SIGTERM);
                            },
                            143}),
    [](const testing::TestParamInfo<Trouble>& row) { return std::string(row.param.name); });

} // namespace
