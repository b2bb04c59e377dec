// End-to-end tests of --receive through a real JACK server (JackServer.h):
// a through client of the test's own carries what the built vantrel-convert
// sends with --send to vantrel-convert --receive, started as a process that
// the test watches while it runs.
#include "ChildProcess.h"
#include "JackServer.h"
#include "Tool.h"

#include <jack/midiport.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <utility>

namespace {

const std::string kSource = "vantrel-through:out";
const std::string kListening = "vantrel-convert: listening to jack:" + kSource + "\n";

// A JACK client, "vantrel-through", that copies every MIDI event from its
// input "in" to its output "out" in the same period.
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

  private:
    static int Process(jack_nframes_t frames, void* argument) {
        const Through& self = *static_cast<Through*>(argument);
        void* in = jack_port_get_buffer(self.in_, frames);
        void* out = jack_port_get_buffer(self.out_, frames);
        jack_midi_clear_buffer(out);
        for (std::uint32_t i = 0; i < jack_midi_get_event_count(in); ++i) {
            jack_midi_event_t event;
            if (jack_midi_event_get(&event, in, i) == 0) {
                jack_midi_event_write(out, event.time, event.buffer, event.size);
            }
        }
        return 0;
    }

    jack_client_t* client_ = nullptr;
    jack_port_t* in_ = nullptr;
    jack_port_t* out_ = nullptr;
    bool active_ = false;
};

// vantrel-convert --receive from the through client, with `args` after it.
class Listener {
  public:
    explicit Listener(std::vector<std::string> args)
        : child_(ToolCommand(Command(std::move(args)))) {}

    // Whether it says it is listening, within a deadline.
    bool Listening() {
        return WaitUntil([&] { return child_.Errors() == kListening; }, std::chrono::seconds(20));
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

    ChildProcess& Child() { return child_; }

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
    void SetUp() override {
        ASSERT_EQ("", server_.Error());
        ASSERT_TRUE(through_.Ready());
    }

    JackServer server_;
    Through through_;
};

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
    Listener text({"--count", "400", "--timeout", "20000"});
    Listener decoded({"--count", "400", "--timeout", "20000", "--decode"});
    ASSERT_TRUE(text.Listening()) << text.Child().Errors();
    ASSERT_TRUE(decoded.Listening()) << decoded.Child().Errors();

    const Finished sent = RunProgram({"--send", "vantrel-through:in", "--rate", "max"}, input);
    EXPECT_EQ(kAllAccepted, sent.status) << sent.err;
    EXPECT_TRUE(text.Lines(400) == sent.out) << "the texts differ from the sender's";
    EXPECT_TRUE(decoded.Lines(400) == trimmed) << "the commands differ from the trimmed input";
    for (Listener* listener : {&text, &decoded}) {
        EXPECT_EQ(kAllAccepted, listener->Child().Wait(std::chrono::seconds(20)));
        EXPECT_EQ(kListening, listener->Child().Errors());
    }
}

TEST_F(JackReceive, EachMessageIsPrintedAsItArrives) {
    Listener listener({"--count", "2", "--timeout", "20000"});
    ASSERT_TRUE(listener.Listening()) << listener.Child().Errors();
    // The first line comes while the receiver still waits for the second
    // message: it ends only after that one.
    const Finished first = RunProgram({"--send", "vantrel-through:in", "--rate", "max", "set a"});
    EXPECT_EQ(first.out, listener.Lines(1));
    const Finished second = RunProgram({"--send", "vantrel-through:in", "--rate", "max", "set b"});
    EXPECT_EQ(second.out, listener.Lines(1));
    EXPECT_EQ(kAllAccepted, listener.Child().Wait(std::chrono::seconds(20)));
}

TEST_F(JackReceive, SourcesAreListedAndAQuietTimeEndsTheRun) {
    const Finished listed = RunProgram({"--list-inputs"});
    EXPECT_EQ(kAllAccepted, listed.status);
    EXPECT_NE(std::string::npos, listed.out.find("jack:" + kSource + "\n")) << listed.out;
    EXPECT_EQ(std::string::npos, listed.out.find("vantrel-through:in")) << listed.out;
    const Finished early = RunProgram({"--receive", kSource, "--count", "1", "--timeout", "200"});
    EXPECT_EQ(kTimedOut, early.status);
    EXPECT_EQ("", early.out);
    EXPECT_EQ(kListening, early.err);
    EXPECT_EQ(kAllAccepted, RunProgram({"--receive", kSource, "--timeout", "200"}).status);
}

} // namespace
