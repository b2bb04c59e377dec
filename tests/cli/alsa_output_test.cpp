// The ALSA sequencer back end over fake platform functions: listing with
// addresses, a missing device, an open that fails, ports of one name told
// apart by address, and sends that wait for room by polling, complete late
// or never.
#include "AlsaOutput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <thread>

namespace {

using namespace midi_ports;
using namespace std::chrono_literals;

// The fake sequencer: clients 14 and 24, of one name, each have a port
// that takes MIDI, client 20 one that only sends, and client 128 is this
// program.
struct Fake {
    bool present = true;
    int openResult = 0;
    int drainsLeft = 0; // -EAGAIN this many times (-1: for ever), then 0
    std::string sent;   // the data of the last event sent
    int connectedTo = -1;
    int syncsInterrupted = 0;
    int polls = 0;
    int longestPoll = 0; // milliseconds
} fake;

constexpr int kDescriptor = 7;

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
        const int next[] = {14, 20, 24, 128};
        for (const int client : next) {
            if (client > snd_seq_client_info_get_client(info)) {
                snd_seq_client_info_set_client(info, client);
                snd_seq_client_info_set_name(info, client == 20 ? "Other" : "Midi Through");
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
    f.syncOutputQueue = [](snd_seq_t*) {
        // Its poll cut short by a signal, as alsa-lib reports it.
        return fake.syncsInterrupted-- > 0 ? (errno = EINTR, -1) : 0;
    };
    f.pollDescriptorsCount = [](snd_seq_t*, short) { return 1; };
    f.pollDescriptors = [](snd_seq_t*, pollfd* descriptors, unsigned space, short events) {
        EXPECT_EQ(1u, space);
        descriptors[0] = {kDescriptor, events, 0};
        return 1;
    };
    // Room comes at once, unless the drain never ends: then the wait lasts
    // as long as it may, as a real poll's would.
    f.poll = [](pollfd* descriptors, nfds_t count, int milliseconds) {
        EXPECT_EQ(1u, count);
        EXPECT_EQ(kDescriptor, descriptors[0].fd);
        EXPECT_EQ(POLLOUT, descriptors[0].events);
        ++fake.polls;
        fake.longestPoll = std::max(fake.longestPoll, milliseconds);
        if (fake.drainsLeft < 0) {
            std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
            return 0;
        }
        descriptors[0].revents = POLLOUT;
        return 1;
    };
    return f;
}

const AlsaFunctions kFunctions = Functions();
const Port kThrough = {"alsa:Midi Through:Port-0", "14:0"};

TEST(AlsaOutput, ListsWritablePortsAndSkipsAMissingSequencerQuietly) {
    fake = Fake{};
    PortList list;
    MakeAlsaPorts(kFunctions)->List(list);
    ASSERT_EQ(2u, list.ports.size());
    EXPECT_EQ("alsa:Midi Through:Port-0  [14:0]", ListLine(list.ports[0]));
    EXPECT_EQ("alsa:Midi Through:Port-0  [24:0]", ListLine(list.ports[1]));
    EXPECT_TRUE(list.unreachable.empty());
    fake.present = false;
    PortList none;
    MakeAlsaPorts(kFunctions)->List(none);
    EXPECT_TRUE(none.ports.empty() && none.unreachable.empty());
    fake = Fake{};
    fake.openResult = -EACCES;
    MakeAlsaPorts(kFunctions)->List(none);
    EXPECT_EQ(std::vector<std::string>{"alsa: cannot open the sequencer: Permission denied"},
              none.unreachable);
    EXPECT_EQ("cannot open the sequencer: Permission denied",
              MakeAlsaPorts(kFunctions)->Open(kThrough).error);
}

TEST(AlsaOutput, OpensThePortAtItsAddress) {
    fake = Fake{};
    const auto ports = MakeAlsaPorts(kFunctions);
    EXPECT_NE(nullptr, ports->Open({"alsa:Midi Through:Port-0", "24:0"}).output);
    EXPECT_EQ(24, fake.connectedTo);
    fake.connectedTo = -1;
    EXPECT_EQ("there is no ALSA port \"alsa:Midi Through:Port-0  [25:0]\"",
              ports->Open({"alsa:Midi Through:Port-0", "25:0"}).error);
    EXPECT_EQ(-1, fake.connectedTo);
}

TEST(AlsaOutput, SendPollsForRoomAndGivesUpAtTheDeadline) {
    fake = Fake{};
    const auto ports = MakeAlsaPorts(kFunctions, 300ms);
    const Opened opened = ports->Open(kThrough);
    ASSERT_NE(nullptr, opened.output) << opened.error;
    EXPECT_EQ(14, fake.connectedTo);
    const std::uint8_t message[] = {0xF0, 0x01, 0x02, 0xF7};
    fake.drainsLeft = 20;
    fake.syncsInterrupted = 2;
    EXPECT_EQ(std::nullopt, opened.output->Send(message));
    EXPECT_EQ(-1, fake.syncsInterrupted);
    EXPECT_EQ(0, fake.drainsLeft);
    EXPECT_EQ(20, fake.polls) << "one poll for each drain that could not finish";
    EXPECT_LE(fake.longestPoll, 300);
    EXPECT_EQ(std::string("\xF0\x01\x02\xF7"), fake.sent);
    fake.drainsLeft = -1;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("the ALSA sequencer took no message for 300 ms", opened.output->Send(message));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 300ms);
}

} // namespace
