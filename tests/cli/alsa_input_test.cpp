// --receive over the ALSA sequencer back end with fake platform functions:
// a 64 KiB message in the kernel's chunks among events from elsewhere, an
// overflow of the input pool, the source going away, and the sizes asked
// for the pool and the buffer.
#include "AlsaInput.h"
#include "RecordingPorts.h"
#include "ToolRun.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <deque>
#include <thread>

namespace {

using namespace midi_ports;

// One result of snd_seq_event_input: an event, or an error.
struct Step {
    int result = 0;
    snd_seq_event_t event{};
    std::string data; // a System Exclusive event's bytes
};

// The fake sequencer: client 14 "Midi Through" has a port that sends MIDI,
// client 20 one that only takes it, and client 128 is this program.
struct Fake {
    std::deque<Step> steps;
    Step current;
    std::size_t inputBuffer = 0;
    std::size_t inputPool = 0;
    std::vector<std::pair<int, int>> connectedFrom;
} fake;

snd_seq_t* const kSequencer = reinterpret_cast<snd_seq_t*>(&fake);

Step Event(unsigned char type, unsigned char client, std::string data = {}) {
    Step step;
    step.event.type = type;
    step.event.source = {client, 0};
    step.data = std::move(data);
    return step;
}

AlsaInputFunctions Functions() {
    AlsaInputFunctions f{};
    f.sequencerPresent = [] { return true; };
    f.open = [](snd_seq_t** seq, const char*, int, int) { return *seq = kSequencer, 0; };
    f.close = [](snd_seq_t*) { return 0; };
    f.setClientName = [](snd_seq_t*, const char*) { return 0; };
    f.clientId = [](snd_seq_t*) { return 128; };
    f.queryNextClient = [](snd_seq_t*, snd_seq_client_info_t* info) {
        for (const int client : {14, 20, 128}) {
            if (client > snd_seq_client_info_get_client(info)) {
                snd_seq_client_info_set_client(info, client);
                snd_seq_client_info_set_name(info, client == 14 ? "Midi Through" : "Other");
                return 0;
            }
        }
        return -ENOENT;
    };
    f.queryNextPort = [](snd_seq_t*, snd_seq_port_info_t* info) {
        if (snd_seq_port_info_get_port(info) == 0) {
            return -ENOENT; // each client has port 0 only
        }
        snd_seq_port_info_set_port(info, 0);
        snd_seq_port_info_set_name(info, "Port-0");
        const bool sends = snd_seq_port_info_get_client(info) != 20;
        snd_seq_port_info_set_capability(
            info, sends ? SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ
                        : SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE);
        snd_seq_port_info_set_type(info, SND_SEQ_PORT_TYPE_MIDI_GENERIC);
        return 0;
    };
    f.setInputBufferSize = [](snd_seq_t*, std::size_t size) { return fake.inputBuffer = size, 0; };
    f.setClientPoolInput = [](snd_seq_t*, std::size_t size) { return fake.inputPool = size, 0; };
    f.createSimplePort = [](snd_seq_t*, const char*, unsigned, unsigned) { return 3; };
    f.connectFrom = [](snd_seq_t*, int, int client, int port) {
        fake.connectedFrom.emplace_back(client, port);
        return 0;
    };
    f.eventInput = [](snd_seq_t*, snd_seq_event_t** event) {
        if (fake.steps.empty()) {
            return -EAGAIN;
        }
        fake.current = std::move(fake.steps.front());
        fake.steps.pop_front();
        if (fake.current.event.type == SND_SEQ_EVENT_SYSEX) {
            fake.current.event.data.ext.len = static_cast<unsigned>(fake.current.data.size());
            fake.current.event.data.ext.ptr = fake.current.data.data();
        }
        *event = &fake.current.event;
        return fake.current.result;
    };
    f.waitForInput = [](snd_seq_t*, int milliseconds) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(milliseconds, 5)));
        return 0;
    };
    return f;
}

const AlsaInputFunctions kFunctions = Functions();

Outcome Receive(const std::vector<std::string>& args) {
    RecordingPorts ports;
    const auto inputs = MakeAlsaInputs(kFunctions);
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    const int status = RunConvertTool(Arguments(args), in, out, err, {&ports, inputs.get()});
    return {status, out.str(), err.str(), true};
}

TEST(AlsaInput, AChunkedMessageComesWholeFromItsSourceAlone) {
    fake = Fake{};
    // 64 KiB of someone else's message, in the 256-byte chunks of the
    // kernel's raw MIDI bridge, with a clock from the source and a System
    // Exclusive event of another client among them; then a Vantrel message.
    std::string message = "\xF0\x7D";
    for (std::size_t i = 0; message.size() < 65535; ++i) {
        message += static_cast<char>(i % 128);
    }
    message += '\xF7';
    for (std::size_t at = 0; at < message.size(); at += 256) {
        fake.steps.push_back(Event(SND_SEQ_EVENT_SYSEX, 14, message.substr(at, 256)));
        if (at == 512) {
            fake.steps.push_back(Event(SND_SEQ_EVENT_CLOCK, 14));
            fake.steps.push_back(Event(SND_SEQ_EVENT_SYSEX, 20, "\xF0\x01\xF7"));
        }
    }
    const std::string setX = BytesOfText("F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7");
    fake.steps.push_back(Event(SND_SEQ_EVENT_SYSEX, 14, setX));

    const Outcome run = Receive({"--receive", "through", "--syx", "--count", "2"});
    EXPECT_EQ(kAllAccepted, run.status) << run.err;
    EXPECT_TRUE(run.out == message + setX) << "not the two messages whole";
    EXPECT_EQ("vantrel-convert: listening to alsa:Midi Through:Port-0\n", run.err);
    EXPECT_EQ(kAlsaInputPoolCells, fake.inputPool);
    EXPECT_GE(fake.inputBuffer, std::size_t{64 * 1024});
    const std::vector<std::pair<int, int>> from = {{14, 0}, {0, 1}}; // the source, announcements
    EXPECT_EQ(from, fake.connectedFrom);
}

TEST(AlsaInput, AnOverflowIsReportedAndTheSourceGoingAwayEndsTheRun) {
    fake = Fake{};
    fake.steps.push_back(Event(SND_SEQ_EVENT_SYSEX, 14, "\xF0\x01"));
    Step overflow;
    overflow.result = -ENOSPC;
    fake.steps.push_back(overflow);
    fake.steps.push_back(Event(SND_SEQ_EVENT_SYSEX, 14, "\xF0\x02\xF7"));
    Step gone = Event(SND_SEQ_EVENT_PORT_EXIT, SND_SEQ_CLIENT_SYSTEM);
    gone.event.source.port = SND_SEQ_PORT_SYSTEM_ANNOUNCE;
    gone.event.data.addr = {14, 0};
    fake.steps.push_back(gone);
    const Outcome run = Receive({"--receive", "through", "--timeout", "5000"});
    EXPECT_EQ(kPortFailed, run.status);
    EXPECT_EQ("F0 02 F7\n", run.out);
    EXPECT_EQ("vantrel-convert: listening to alsa:Midi Through:Port-0\n"
              "vantrel-convert: input from alsa:Midi Through:Port-0 was lost: the ALSA "
              "sequencer's input pool overflowed: events were lost\n"
              "vantrel-convert: message 1: cut short: part of it was lost\n"
              "vantrel-convert: cannot receive from alsa:Midi Through:Port-0: the source "
              "\"alsa:Midi Through:Port-0\" went away\n",
              run.err);
    EXPECT_EQ("alsa:Midi Through:Port-0  [14:0]\n", Receive({"--list-inputs"}).out);
}

} // namespace
