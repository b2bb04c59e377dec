// End-to-end tests of --send and --list-ports through a real JACK server
// (JackServer.h): the built vantrel-convert sends to jack_midi_dump, a
// receiving client we did not write, and to a small receiver of the test's
// own with room for a whole burst.
#include "ChildProcess.h"
#include "JackServer.h"
#include "Tool.h"

#include <jack/midiport.h>
#include <jack/ringbuffer.h>

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <iterator>
#include <sstream>

namespace {

// A JACK client with one MIDI input port, "vantrel-receiver:in", that keeps
// every message arriving (up to a megabyte) and counts the periods that
// brought any.
class Receiver {
  public:
    Receiver() {
        client_ = OpenClient("vantrel-receiver");
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

    // The messages that arrive, once there are `count` of them or after a deadline.
    std::vector<std::string> Take(std::size_t count) {
        std::vector<std::string> messages;
        WaitUntil(
            [&] {
                std::uint32_t size = 0;
                while (jack_ringbuffer_peek(queue_, reinterpret_cast<char*>(&size), sizeof size) ==
                           sizeof size &&
                       jack_ringbuffer_read_space(queue_) >= sizeof size + size) {
                    jack_ringbuffer_read_advance(queue_, sizeof size);
                    std::string& message = messages.emplace_back(size, '\0');
                    jack_ringbuffer_read(queue_, message.data(), size);
                }
                return messages.size() >= count;
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
    StartDump();
    // Every length from 5 to 127 units; a refused command and one whose
    // message is not valid MIDI, which are not sent.
    std::string input;
    for (std::size_t i = 0; i < 300; ++i) {
        input += Command(5 + i % 123, i) + (i % 2 == 0 ? "\n" : "\r\n");
        input += i == 100 ? "go 1\nset \xC3\xA9\n" : "";
    }
    const Finished syx = RunProgram({"--syx"}, input);
    const Finished checked = RunProgram({"--check"}, input);
    const Finished sent = RunProgram({"--send", "midi-monitor", "--interval", "1"}, input);
    EXPECT_EQ(kNotData, sent.status);
    EXPECT_EQ(checked.err, sent.err);
    EXPECT_TRUE(checked.out == sent.out) << "the text differs from --check's";
    EXPECT_TRUE(syx.out == Dumped(300)) << "jack_midi_dump did not receive what --syx writes";
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

} // namespace
