// The ALSA sequencer back end over fake platform functions: listing, a
// missing device, an open that fails, and sends that complete late or never.
#include "AlsaOutput.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>

namespace {

using namespace midi_ports;
using namespace std::chrono_literals;

// The fake sequencer: client 14 has a port that takes MIDI, client 20 one
// that only sends, and client 128 is this program.
struct Fake {
    bool present = true;
    int openResult = 0;
    int drainsLeft = 0; // -EAGAIN this many times (-1: for ever), then 0
    std::string sent;   // the data of the last event sent
    int connectedTo = -1;
} fake;

snd_seq_t* const kSequencer = reinterpret_cast<snd_seq_t*>(&fake);

AlsaFunctions Functions() {
    AlsaFunctions f{};
    f.sequencerPresent = [] { return fake.present; };
    f.open = [](snd_seq_t** seq, const char*, int, int) {
        *seq = fake.openResult < 0 ? nullptr : kSequencer;
        return fake.openResult;
    };
    f.close = [](snd_seq_t*) { return 0; };
    f.setClientName = [](snd_seq_t*, const char*) { return 0; };
    f.clientId = [](snd_seq_t*) { return 128; };
    f.queryNextClient = [](snd_seq_t*, snd_seq_client_info_t* info) {
        const int next[] = {14, 20, 128};
        for (const int client : next) {
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
        const bool takes = snd_seq_port_info_get_client(info) != 20;
        snd_seq_port_info_set_capability(
            info, takes ? SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE
                        : SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ);
        snd_seq_port_info_set_type(info, SND_SEQ_PORT_TYPE_MIDI_GENERIC);
        return 0;
    };
    f.createSimplePort = [](snd_seq_t*, const char*, unsigned, unsigned) { return 3; };
    f.connectTo = [](snd_seq_t*, int, int client, int) { return fake.connectedTo = client, 0; };
    f.eventOutput = [](snd_seq_t*, snd_seq_event_t* event) {
        EXPECT_EQ(SND_SEQ_EVENT_SYSEX, event->type);
        EXPECT_EQ(SND_SEQ_QUEUE_DIRECT, event->queue);
        EXPECT_EQ(SND_SEQ_ADDRESS_SUBSCRIBERS, event->dest.client);
        fake.sent.assign(static_cast<const char*>(event->data.ext.ptr), event->data.ext.len);
        return 0;
    };
    f.drainOutput = [](snd_seq_t*) {
        return fake.drainsLeft == 0 ? 0 : (fake.drainsLeft -= fake.drainsLeft > 0 ? 1 : 0, -EAGAIN);
    };
    f.syncOutputQueue = [](snd_seq_t*) { return 0; };
    return f;
}

const AlsaFunctions kFunctions = Functions();

TEST(AlsaOutput, ListsWritablePortsAndSkipsAMissingSequencerQuietly) {
    fake = Fake{};
    PortList list;
    MakeAlsaPorts(kFunctions)->List(list);
    EXPECT_EQ(std::vector<std::string>{"alsa:Midi Through:Port-0"}, list.names);
    EXPECT_TRUE(list.unreachable.empty());
    fake.present = false;
    PortList none;
    MakeAlsaPorts(kFunctions)->List(none);
    EXPECT_TRUE(none.names.empty() && none.unreachable.empty());
    fake = Fake{};
    fake.openResult = -EACCES;
    MakeAlsaPorts(kFunctions)->List(none);
    EXPECT_EQ(std::vector<std::string>{"alsa: cannot open the sequencer: Permission denied"},
              none.unreachable);
    EXPECT_EQ("cannot open the sequencer: Permission denied",
              MakeAlsaPorts(kFunctions)->Open("alsa:Midi Through:Port-0").error);
}

TEST(AlsaOutput, SendWaitsForALateDrainAndGivesUpAtTheDeadline) {
    fake = Fake{};
    const auto ports = MakeAlsaPorts(kFunctions, 300ms);
    const Opened opened = ports->Open("alsa:Midi Through:Port-0");
    ASSERT_NE(nullptr, opened.output) << opened.error;
    EXPECT_EQ(14, fake.connectedTo);
    const std::uint8_t message[] = {0xF0, 0x01, 0x02, 0xF7};
    fake.drainsLeft = 20;
    EXPECT_EQ(std::nullopt, opened.output->Send(message));
    EXPECT_EQ(0, fake.drainsLeft);
    EXPECT_EQ(std::string("\xF0\x01\x02\xF7"), fake.sent);
    fake.drainsLeft = -1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("the ALSA sequencer took no message for 300 ms", opened.output->Send(message));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

} // namespace
