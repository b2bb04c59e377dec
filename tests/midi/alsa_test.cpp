// The ALSA back ends, the sequencer's and a card's raw MIDI, each at
// OutputPort::Send and Input::Next over a fake alsa-lib whose table is
// generated from the back end's list of functions (StrictTable.h).
// Sequencer: listing, a missing device or library, ports of one name told
// apart by address, sends that wait for room, complete late or never; a
// 64 KiB message in chunks among events from elsewhere, a full input pool,
// the source going away, a card's overrun count as a loss. Raw MIDI: listing
// beside the sequencer, a busy device, writes into an empty buffer, the end's
// waits with deadlines, bytes the kernel dropped. Through the tool: a port
// chosen among both back ends, and no message written that may span a loss.
#include "AlsaClient.h"
#include "Described.h"
#include "RawMidi.h"
#include "StrictTable.h"
#include "SystemPorts.h"
#include "ToolRun.h"

#include <gtest/gtest-spi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <cstring>
#include <deque>
#include <regex>
#include <thread>

using namespace cli;

namespace {

using namespace midi_ports;
using namespace std::chrono_literals;

// One result of snd_seq_event_input: an event, or an error.
struct Step {
    int result = 0;
    snd_seq_event_t event{};
    std::string data;  // a System Exclusive event's bytes
    int overruns = -1; // when not -1, the card's overrun count from this step on
};

// The fake sequencer: client 14 "Midi Through" has a port that takes and
// sends MIDI, client 20 "Other" one that only sends, client 24 "Midi
// Through" one that only takes, and client 128 is this program.
struct Fake {
    bool present = true;   // the device
    bool installed = true; // the library
    int loads = 0;
    int openResult = 0;
    int drainsLeft = 0; // -EAGAIN this many times (-1: for ever), then 0
    std::string sent;   // the data of the last event sent
    int connectedTo = -1;
    int syncsInterrupted = 0;
    int polls = 0;       // for room to send
    int longestPoll = 0; // milliseconds
    std::deque<Step> steps;
    Step current;
    std::size_t inputBuffer = 0;
    std::size_t inputPool = 0;
    std::vector<std::pair<int, int>> connectedFrom;
    int card = -1; // of client 14, whose port is then the card's
    int overruns = 0;
    // Raw MIDI: card 1 "Midi Through" (ID "Through") has device 0 with one
    // subdevice "Port-0" each way.
    bool cards = false;
    int rawOpenResult = 0;
    std::string rawOpened;
    std::size_t buffer = 64, most = 256 * 1024; // the buffer, the kernel's limit
    std::size_t pending = 0, drained = 0;       // in the output buffer, gone by each status or poll
    std::size_t availMin = 0;
    std::size_t fullestWrite = 0; // the most bytes the output buffer held at a write
    std::vector<std::pair<std::string, std::size_t>> reads; // bytes, then bytes dropped
    std::size_t xruns = 0;
    int drainResult = 0;
    bool drainStuck = false; // the drain returns long after any deadline
} fake;

// What the raw MIDI drains saw, kept apart from the fake: a drain runs on a
// thread of its own, which may outlive its test.
std::atomic<int> rawDrains{0};
std::atomic<std::size_t> pendingAtDrain{0};

constexpr int kDescriptor = 7;
constexpr int kRawDescriptor = 9;
snd_seq_t* const kSequencer = reinterpret_cast<snd_seq_t*>(&fake);

// alsa-lib's opaque info structures, as the fake keeps them.
struct ClientInfo {
    int client = 0;
    const char* name = "";
};
struct PortInfo {
    int client = 0;
    int port = 0;
    snd_seq_addr_t address{};
    unsigned capability = 0;
};
ClientInfo& Of(const snd_seq_client_info_t* info) {
    return *reinterpret_cast<ClientInfo*>(const_cast<snd_seq_client_info_t*>(info));
}
PortInfo& Of(const snd_seq_port_info_t* info) {
    return *reinterpret_cast<PortInfo*>(const_cast<snd_seq_port_info_t*>(info));
}

// The fake's raw MIDI objects are all the fake itself.
template <class T> int Fill(T** object) {
    return *object = reinterpret_cast<T*>(&fake), 0;
}
template <class T> void Free(T*) {}
template <class... T> int Zero(T...) {
    return 0;
}

// The fake's alsa-lib. Both tables: errors' texts and the handler.
template <class Table> void SetCommon(Table& f) {
    f.strerror = [](int error) -> const char* { return std::strerror(-error); };
    f.setErrorHandler = [](snd_lib_error_handler_t) { return 0; };
}

// The sequencer's client, and its clients and ports, walked.
void SetListing(SequencerLibrary& f) {
    f.open = [](snd_seq_t** seq, const char*, int, int) {
        *seq = fake.openResult < 0 ? nullptr : kSequencer;
        return fake.openResult;
    };
    f.close = [](snd_seq_t*) { return 0; };
    f.setClientName = [](snd_seq_t*, const char*) { return 0; };
    f.clientId = [](snd_seq_t*) { return 128; };
    f.clientInfoMalloc = [](snd_seq_client_info_t** info) {
        return *info = reinterpret_cast<snd_seq_client_info_t*>(new ClientInfo), 0;
    };
    f.clientInfoFree = [](snd_seq_client_info_t* info) { delete &Of(info); };
    f.clientInfoSetClient = [](snd_seq_client_info_t* info, int client) {
        Of(info).client = client;
    };
    f.clientInfoGetClient = [](const snd_seq_client_info_t* info) { return Of(info).client; };
    f.clientInfoGetName = [](snd_seq_client_info_t* info) { return Of(info).name; };
    f.clientInfoGetCard = [](const snd_seq_client_info_t* info) {
        return Of(info).client == 14 ? fake.card : -1;
    };
    f.portInfoMalloc = [](snd_seq_port_info_t** info) {
        return *info = reinterpret_cast<snd_seq_port_info_t*>(new PortInfo), 0;
    };
    f.portInfoFree = [](snd_seq_port_info_t* info) { delete &Of(info); };
    f.portInfoSetClient = [](snd_seq_port_info_t* info, int client) { Of(info).client = client; };
    f.portInfoSetPort = [](snd_seq_port_info_t* info, int port) { Of(info).port = port; };
    f.portInfoGetCapability = [](const snd_seq_port_info_t* info) { return Of(info).capability; };
    f.portInfoGetType = [](const snd_seq_port_info_t*) {
        return 0u + SND_SEQ_PORT_TYPE_MIDI_GENERIC + SND_SEQ_PORT_TYPE_HARDWARE;
    };
    f.portInfoGetName = [](const snd_seq_port_info_t*) { return "Port-0"; };
    f.portInfoGetAddr = [](const snd_seq_port_info_t* info) {
        return static_cast<const snd_seq_addr_t*>(&Of(info).address);
    };
    f.queryNextClient = [](snd_seq_t*, snd_seq_client_info_t* info) {
        for (const int client : {14, 20, 24, 128}) {
            if (client > Of(info).client) {
                Of(info) = {client, client == 20 ? "Other" : "Midi Through"};
                return 0;
            }
        }
        return -ENOENT;
    };
    f.queryNextPort = [](snd_seq_t*, snd_seq_port_info_t* info) {
        PortInfo& port = Of(info);
        if (port.port == 0) {
            return -ENOENT; // each client has port 0 only
        }
        port.port = 0;
        port.address = {static_cast<unsigned char>(port.client), 0};
        constexpr unsigned kTakes = SND_SEQ_PORT_CAP_WRITE | SND_SEQ_PORT_CAP_SUBS_WRITE;
        constexpr unsigned kSends = SND_SEQ_PORT_CAP_READ | SND_SEQ_PORT_CAP_SUBS_READ;
        port.capability = port.client == 14 ? kTakes | kSends : port.client == 20 ? kSends : kTakes;
        return 0;
    };
}

// A port of this client's, connected, and the events it sends and receives.
void SetTraffic(SequencerLibrary& f) {
    f.setInputBufferSize = [](snd_seq_t*, std::size_t size) { return fake.inputBuffer = size, 0; };
    f.setClientPoolInput = [](snd_seq_t*, std::size_t size) { return fake.inputPool = size, 0; };
    f.createSimplePort = [](snd_seq_t*, const char*, unsigned, unsigned) { return 3; };
    f.connectTo = [](snd_seq_t*, int, int client, int) { return fake.connectedTo = client, 0; };
    f.connectFrom = [](snd_seq_t*, int, int client, int port) {
        fake.connectedFrom.emplace_back(client, port);
        return 0;
    };
    f.pollDescriptorsCount = [](snd_seq_t*, short) { return 1; };
    f.pollDescriptors = [](snd_seq_t*, pollfd* descriptors, unsigned space, short events) {
        EXPECT_EQ(1u, space);
        descriptors[0] = {kDescriptor, events, 0};
        return 1;
    };
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
    f.eventInput = [](snd_seq_t*, snd_seq_event_t** event) {
        if (fake.steps.empty()) {
            return -EAGAIN;
        }
        fake.current = std::move(fake.steps.front());
        fake.steps.pop_front();
        fake.overruns = fake.current.overruns < 0 ? fake.overruns : fake.current.overruns;
        if (fake.current.event.type == SND_SEQ_EVENT_SYSEX) {
            fake.current.event.data.ext.len = static_cast<unsigned>(fake.current.data.size());
            fake.current.event.data.ext.ptr = fake.current.data.data();
        }
        *event = &fake.current.event;
        return fake.current.result;
    };
}

// The cards and their raw MIDI devices, walked.
void SetCards(RawMidiLibrary& f) {
    f.cardNext = [](int* card) { return *card = *card < 1 ? 1 : -1, 0; };
    f.ctlOpen = [](snd_ctl_t** control, const char*, int) { return Fill(control); };
    f.ctlClose = Zero;
    f.cardInfoMalloc = Fill;
    f.cardInfoFree = Free;
    f.cardInfo = Zero;
    f.cardInfoGetId = [](const snd_ctl_card_info_t*) { return "Through"; };
    f.cardInfoGetName = [](const snd_ctl_card_info_t*) { return "Midi Through"; };
    f.rawNextDevice = [](snd_ctl_t*, int* device) { return *device = *device < 0 ? 0 : -1, 0; };
    f.rawInfo = Zero;
    f.rawInfoMalloc = Fill;
    f.rawInfoFree = Free;
    f.rawInfoSetDevice = f.rawInfoSetSubdevice = [](snd_rawmidi_info_t*, unsigned) {};
    f.rawInfoSetStream = [](snd_rawmidi_info_t*, snd_rawmidi_stream_t) {};
    f.rawInfoGetSubdevices = [](const snd_rawmidi_info_t*) { return 1u; };
    f.rawInfoGetName =
        f.rawInfoGetSubdeviceName = [](const snd_rawmidi_info_t*) { return "Port-0"; };
}

// A raw MIDI device opened, written, drained and read.
void SetRawTraffic(RawMidiLibrary& f) {
    f.rawOpen = [](snd_rawmidi_t** in, snd_rawmidi_t** out, const char* name, int mode) {
        EXPECT_EQ(SND_RAWMIDI_NONBLOCK, mode);
        fake.rawOpened = name;
        return Fill(in != nullptr ? in : out), fake.rawOpenResult;
    };
    f.rawClose = f.rawDrop = Zero;
    f.rawParamsMalloc = Fill;
    f.rawParamsFree = Free;
    f.rawParamsCurrent = f.rawParams = [](snd_rawmidi_t*, snd_rawmidi_params_t*) { return 0; };
    f.rawParamsSetBufferSize = [](snd_rawmidi_t*, snd_rawmidi_params_t*, std::size_t size) {
        return size > fake.most ? -EINVAL : (fake.buffer = size, 0);
    };
    f.rawParamsGetBufferSize = [](const snd_rawmidi_params_t*) { return fake.buffer; };
    f.rawParamsSetAvailMin = [](snd_rawmidi_t*, snd_rawmidi_params_t*, std::size_t bytes) {
        return fake.availMin = bytes, 0;
    };
    f.rawStatusMalloc = Fill;
    f.rawStatusFree = Free;
    f.rawStatus = [](snd_rawmidi_t*, snd_rawmidi_status_t*) {
        return fake.pending -= std::min(fake.pending, fake.drained), 0;
    };
    f.rawStatusGetAvail = [](const snd_rawmidi_status_t*) { return fake.buffer - fake.pending; };
    f.rawStatusGetXruns = [](const snd_rawmidi_status_t*) { return std::exchange(fake.xruns, 0); };
    f.rawPollDescriptorsCount = [](snd_rawmidi_t*) { return 1; };
    f.rawPollDescriptors = [](snd_rawmidi_t*, pollfd* descriptors, unsigned) {
        return descriptors[0] = {kRawDescriptor, 0, 0}, 1;
    };
    f.rawDrain = [](snd_rawmidi_t*) {
        ++rawDrains;
        pendingAtDrain = fake.pending;
        const int result = fake.drainResult;
        if (fake.drainStuck) {
            std::this_thread::sleep_for(2s);
        }
        return result;
    };
    f.rawWrite = [](snd_rawmidi_t*, const void* data, std::size_t size) -> ssize_t {
        fake.fullestWrite = std::max(fake.fullestWrite, fake.pending);
        const std::size_t taken = std::min(size, fake.buffer - fake.pending);
        fake.pending += taken;
        fake.sent.append(static_cast<const char*>(data), taken);
        return taken == 0 ? -EAGAIN : static_cast<ssize_t>(taken);
    };
    f.rawRead = [](snd_rawmidi_t*, void* data, std::size_t size) -> ssize_t {
        if (fake.reads.empty()) {
            return -EAGAIN;
        }
        EXPECT_EQ(fake.buffer, size) << "a read that does not take the whole buffer";
        fake.xruns += fake.reads.front().second;
        const std::string bytes = std::move(fake.reads.front().first);
        fake.reads.erase(fake.reads.begin());
        return static_cast<ssize_t>(bytes.copy(static_cast<char*>(data), size));
    };
}

// The tables; a function they do not set fails the test.
SequencerLibrary SequencerTable() {
    auto f = VANTREL_STRICT_TABLE(SequencerLibrary, VANTREL_ALSA_SEQUENCER_FUNCTIONS);
    SetCommon(f);
    SetListing(f);
    SetTraffic(f);
    return f;
}
RawMidiLibrary RawTable() {
    auto f = VANTREL_STRICT_TABLE(RawMidiLibrary, VANTREL_ALSA_RAW_MIDI_FUNCTIONS);
    SetCommon(f);
    SetCards(f);
    SetRawTraffic(f);
    return f;
}

// Input never comes through the descriptor. Room to send comes at once,
// unless the drain never ends: then the wait lasts as long as it may, as a
// real poll's would.
int Poll(pollfd* descriptors, nfds_t count, int milliseconds) {
    // A raw device's output buffer drains with each poll, and it is ready
    // once its room reaches avail_min; its input never comes through the
    // descriptor. A poll of nothing is a pause.
    const bool raw = count == 1 && descriptors[0].fd == kRawDescriptor;
    const bool output = raw && descriptors[0].events == POLLOUT;
    if (output) {
        fake.pending -= std::min(fake.pending, fake.drained);
    }
    if (count == 0 || (raw && (!output || fake.buffer - fake.pending < fake.availMin))) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return 0;
    }
    if (raw) {
        return descriptors[0].revents = POLLOUT, 1;
    }
    EXPECT_EQ(1u, count);
    EXPECT_EQ(kDescriptor, descriptors[0].fd);
    if (descriptors[0].events == POLLIN) {
        std::this_thread::sleep_for(std::chrono::milliseconds(std::min(milliseconds, 5)));
        return 0;
    }
    EXPECT_EQ(POLLOUT, descriptors[0].events);
    ++fake.polls;
    fake.longestPoll = std::max(fake.longestPoll, milliseconds);
    if (fake.drainsLeft < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        return 0;
    }
    descriptors[0].revents = POLLOUT;
    return 1;
}

const AlsaSystem kSystem = {[] { return fake.present; }, [] { return fake.cards; }, Poll,
                            [](const char* path, std::string& text) {
                                // Card 1's device 0, held by process 42.
                                const std::string_view file = path;
                                text = file == "/proc/42/comm"
                                           ? "aseqdump\n"
                                           : "f_midi\n\nInput 0\n  Owner PID    : 42\n"
                                             "  Buffer size  : 1024\n  Overruns     : " +
                                                 std::to_string(fake.overruns) +
                                                 "\nInput 1\n  Overruns     : 7\n"
                                                 "Output 0\n  Owner PID    : 42\n";
                                return file == "/proc/asound/card1/midi0" ||
                                       file == "/proc/42/comm";
                            }};

// Loads a table, or fails as a missing library does.
template <class Table, Table (*Make)()> bool Load(Table& table, std::string& error) {
    ++fake.loads;
    if (!fake.installed) {
        error = "libasound.so.2 is not installed";
        return false;
    }
    table = Make();
    return true;
}

// Each back end over the fake, and both as the system puts them together.
MidiBackEnds Sequencer(std::chrono::milliseconds timeout = kDeliveryTimeout) {
    return MakeAlsaSequencer(kSystem, Load<SequencerLibrary, SequencerTable>, timeout);
}
MidiBackEnds Raw(std::chrono::milliseconds timeout = kDeliveryTimeout) {
    return MakeRawMidi(kSystem, Load<RawMidiLibrary, RawTable>, timeout);
}
MidiBackEnds BothBackEnds() {
    std::vector<MidiBackEnds> both;
    both.push_back(Sequencer());
    both.push_back(Raw());
    return Combine(std::move(both));
}

const Port kThrough = {"alsa:Midi Through:Port-0", "14:0"};
const Port kRaw = {"alsa:Midi Through:Port-0", "hw:1,0,0", "hw:Through,0,0"};

TEST(StrictTable, AFunctionTheFakeDoesNotSetFailsLoudly) {
    const auto f = VANTREL_STRICT_TABLE(SequencerLibrary, VANTREL_ALSA_SEQUENCER_FUNCTIONS);
    int result = 0;
    EXPECT_NONFATAL_FAILURE(result = f.eventInput(kSequencer, nullptr),
                            "snd_seq_event_input was called, but the fake does not set it");
    EXPECT_EQ(-ENOSYS, result);
}

TEST(AlsaSequencer, ListsWritablePortsAndSkipsAMissingSequencerQuietly) {
    fake = Fake{};
    const MidiBackEnds alsa = Sequencer();
    EXPECT_EQ(0, fake.loads) << "the library was loaded before it was needed";
    PortList list;
    EXPECT_EQ(std::vector<std::string>(
                  {"alsa:Midi Through:Port-0  [14:0]", "alsa:Midi Through:Port-0  [24:0]"}),
              Listed(*alsa.ports, list));
    EXPECT_TRUE(list.unreachable.empty());
    fake.present = false;
    PortList none;
    Sequencer().ports->List(none);
    EXPECT_TRUE(none.ports.empty() && none.unreachable.empty());
    EXPECT_EQ(1, fake.loads) << "the library was loaded without a sequencer";
    fake = Fake{};
    fake.openResult = -EACCES;
    Sequencer().ports->List(none);
    EXPECT_EQ(std::vector<std::string>{"alsa: cannot open the sequencer: Permission denied"},
              none.unreachable);
    EXPECT_EQ("cannot open the sequencer: Permission denied",
              Sequencer().ports->Open(kThrough).error);
}

TEST(AlsaSequencer, AMissingLibraryIsNamedLikeAServerNotReached) {
    fake = Fake{};
    fake.installed = false;
    const MidiBackEnds alsa = Sequencer();
    for (PortLister* lister : {static_cast<PortLister*>(alsa.ports.get()),
                               static_cast<PortLister*>(alsa.inputs.get())}) {
        PortList list;
        EXPECT_TRUE(Listed(*lister, list).empty());
        EXPECT_EQ(std::vector<std::string>{"alsa: libasound.so.2 is not installed"},
                  list.unreachable);
    }
    EXPECT_EQ(1, fake.loads) << "one client for both directions, loaded once";
    EXPECT_EQ("libasound.so.2 is not installed", alsa.inputs->Open(kThrough).error);
    // Raw MIDI fails alike, and the two together say so once.
    fake.cards = true;
    PortList both;
    BothBackEnds().inputs->List(both);
    EXPECT_EQ(std::vector<std::string>{"alsa: libasound.so.2 is not installed"}, both.unreachable);
}

TEST(AlsaSequencer, OpensThePortAtItsAddress) {
    fake = Fake{};
    const MidiBackEnds alsa = Sequencer();
    EXPECT_NE(nullptr, alsa.ports->Open({"alsa:Midi Through:Port-0", "24:0"}).output);
    EXPECT_EQ(24, fake.connectedTo);
    fake.connectedTo = -1;
    EXPECT_EQ("there is no ALSA port \"alsa:Midi Through:Port-0  [25:0]\"",
              alsa.ports->Open({"alsa:Midi Through:Port-0", "25:0"}).error);
    EXPECT_EQ(-1, fake.connectedTo);
}

TEST(AlsaSequencer, SendPollsForRoomAndGivesUpAtTheDeadline) {
    fake = Fake{};
    const MidiBackEnds alsa = Sequencer(300ms);
    const Opened opened = alsa.ports->Open(kThrough);
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

Step Event(unsigned char type, unsigned char client, std::string data = {}) {
    Step step;
    step.event.type = type;
    step.event.source = {client, 0};
    step.data = std::move(data);
    return step;
}

// One piece as Input::Next hands it out.
struct Seen {
    Piece::Kind kind;
    std::string bytes;
    std::string what;
    std::uint64_t lostBytes = 0;
    std::uint64_t unsure = 0;
    bool operator==(const Seen&) const = default;
};

// Opens `port` of `alsa` and takes what it hands out until it is quiet or
// closed.
std::vector<Seen> Heard(const MidiBackEnds& alsa, const Port& port) {
    OpenedInput opened = alsa.inputs->Open(port);
    std::vector<Seen> heard;
    if (opened.input == nullptr) {
        ADD_FAILURE() << opened.error;
        return heard;
    }
    Piece piece;
    while (heard.empty() ||
           (heard.back().kind != Piece::Kind::Quiet && heard.back().kind != Piece::Kind::Closed)) {
        opened.input->Next(piece, 0ms);
        heard.push_back({piece.kind, std::string(piece.bytes.begin(), piece.bytes.end()),
                         piece.what, piece.lostBytes, piece.unsure});
    }
    return heard;
}

constexpr Piece::Kind kBytes = Piece::Kind::Bytes;
constexpr Piece::Kind kLost = Piece::Kind::Lost;
constexpr Piece::Kind kQuiet = Piece::Kind::Quiet;

TEST(AlsaSequencer, AChunkedMessageComesWholeFromItsSourceAlone) {
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

    const std::vector<Seen> heard = Heard(Sequencer(), kThrough);
    EXPECT_EQ(std::vector<Seen>({{kBytes, message + setX, ""}, {kQuiet, "", ""}}), heard);
    EXPECT_EQ(kAlsaInputPoolCells, fake.inputPool);
    EXPECT_GE(fake.inputBuffer, std::size_t{64 * 1024});
    const std::vector<std::pair<int, int>> from = {{14, 0}, {0, 1}}; // the source, announcements
    EXPECT_EQ(from, fake.connectedFrom);
}

TEST(AlsaSequencer, AnOverflowIsReportedAndTheSourceGoingAwayEndsTheInput) {
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
    EXPECT_EQ(std::vector<Seen>({{kLost, "\xF0\x01",
                                  "the ALSA sequencer's input pool overflowed: events were lost"},
                                 {Piece::Kind::Closed, "\xF0\x02\xF7",
                                  "the source \"alsa:Midi Through:Port-0\" went away"}}),
              Heard(Sequencer(), kThrough));
    EXPECT_EQ(
        std::vector<std::string>({"alsa:Midi Through:Port-0  [14:0]", "alsa:Other:Port-0  [20:0]"}),
        Listed(*Sequencer().inputs));
}

// Card 1's overrun count grows from 5 to 100 with the read ending in F0 05:
// the loss comes before all the bytes of that read and of the one after it,
// which, with the bridge's 1,536 bytes that may still follow, may all have
// come before it.
const std::vector<Step> kOverrunSteps = {
    Event(SND_SEQ_EVENT_SYSEX, 14, "\xF0\x01\xF7\xF0\x02"),
    {-EAGAIN, {}, {}, -1},
    Event(SND_SEQ_EVENT_SYSEX, 14, "\x03\xF7\xF0\x04\xF7\xF0\x05"),
    {-EAGAIN, {}, {}, 100},
    Event(SND_SEQ_EVENT_SYSEX, 14, "\xF0\x06\xF7"),
    {-EAGAIN, {}, {}, -1},
    Event(SND_SEQ_EVENT_SYSEX, 14, "\xF0\x7D" + std::string(2000, '\x01') + "\xF7"),
    {-EAGAIN, {}, {}, -1},
    Event(SND_SEQ_EVENT_SYSEX, 14, "\xF0\x07\xF7")};

TEST(AlsaSequencer, ACardsOverrunIsALossBeforeWhatMayHaveComeBeforeIt) {
    fake = Fake{};
    fake.card = 1;
    fake.overruns = 5;
    fake.steps = {kOverrunSteps.begin(), kOverrunSteps.end()};
    const std::string big = "\xF0\x7D" + std::string(2000, '\x01') + "\xF7";
    EXPECT_EQ(std::vector<Seen>(
                  {{kBytes, "\xF0\x01\xF7\xF0\x02", ""},
                   {kLost, "", "the kernel's buffer for the raw MIDI input hw:1,0,0 overran", 95,
                    10 + 1536},
                   {kBytes, "\x03\xF7\xF0\x04\xF7\xF0\x05\xF0\x06\xF7", ""},
                   {kBytes, big, ""},
                   {kBytes, "\xF0\x07\xF7", ""},
                   {kQuiet, "", ""}}),
              Heard(Sequencer(), kThrough));
}

TEST(RawMidi, ListedBesideTheSequencerAndOpenedByAddress) {
    fake = Fake{};
    fake.cards = true;
    const MidiBackEnds alsa = BothBackEnds();
    // The card's name clashes with the sequencer's ports.
    EXPECT_EQ(
        std::vector<std::string>({"alsa:Midi Through:Port-0  [14:0]", "alsa:Other:Port-0  [20:0]",
                                  "alsa:Midi Through:Port-0  [hw:1,0,0]"}),
        Listed(*alsa.inputs));
    const std::pair<int, std::string> opens[] = {
        {0, ""},
        {-EBUSY, "hw:1,0,0 is busy: held by process 42 (aseqdump), itself or through the ALSA "
                 "sequencer's port of the device"},
        {-ENOENT, "cannot open hw:1,0,0: No such file or directory"},
    };
    for (const auto& [result, error] : opens) {
        fake.rawOpenResult = result;
        const Opened opened = alsa.ports->Open(kRaw);
        EXPECT_EQ(error, opened.error);
        EXPECT_EQ(error.empty(), opened.output != nullptr);
    }
}

TEST(RawMidi, SendWritesIntoAnEmptyBufferAndFinishDrainsTheDriverAfterEachWithADeadline) {
    // The driver's buffer, the bytes each status or poll finds gone from it,
    // and the drain's result and whether it outlasts the deadline. Each
    // write goes into an empty buffer, as the kernel lets a driver take a
    // write's bytes before they are copied in. The driver is drained only
    // once the buffer is empty, as the kernel would wait 10 s for it and
    // throw away what is left. What Send, then Finish, then Trouble say.
    struct Case {
        std::size_t buffer, drained;
        int drainResult;
        bool drainStuck;
        std::string error;
    };
    const Case cases[] = {
        {10, 10, 0, false, ""},
        {10, 9, 0, false, ""}, // one byte left when the device is ready
        {10, 0, 0, false,
         "^the raw MIDI device took no more for [0-9]+ ms \\(10 of the message's 15 bytes "
         "were written, the rest not\\)$"},
        {64, 0, 0, false,
         "^not delivered: 15 bytes were still in the raw MIDI device's buffer after [0-9]+ ms "
         "\\(messages 0 to 0\\)$"},
        {64, 15, -EIO, false, "^cannot drain the raw MIDI device: Input/output error$"},
        {64, 15, 0, true,
         "^not delivered: the raw MIDI device's driver was still sending after "
         "(3[0-9]{2}|[4-9][0-9]{2}|[0-9]{4,}) ms$"},
    };
    const std::string setX = BytesOfText("F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7");
    for (const Case& c : cases) {
        fake = Fake{};
        rawDrains = 0;
        pendingAtDrain = 1;
        std::tie(fake.cards, fake.buffer, fake.drained) = std::tuple(true, c.buffer, c.drained);
        std::tie(fake.drainResult, fake.drainStuck) = std::tuple(c.drainResult, c.drainStuck);
        const MidiBackEnds raw = Raw(300ms);
        const Opened opened = raw.ports->Open(kRaw);
        ASSERT_NE(nullptr, opened.output) << opened.error;
        std::optional<std::string> said = opened.output->Send(
            std::span(reinterpret_cast<const std::uint8_t*>(setX.data()), setX.size()));
        if (!said && !(said = opened.output->Finish())) {
            if (const std::optional<SendFailure> trouble = opened.output->Trouble()) {
                said = trouble->what + " (messages " + std::to_string(trouble->first) + " to " +
                       std::to_string(trouble->last) + ")";
            }
        }
        EXPECT_TRUE(
            std::regex_search(said.value_or(""), std::regex(c.error.empty() ? "^$" : c.error)))
            << said.value_or("");
        EXPECT_EQ(c.buffer > 10 || c.drained > 0 ? 15u : 10u, fake.sent.size()) << "not whole";
        EXPECT_EQ(0u, fake.fullestWrite) << "written into a buffer that was not empty";
        EXPECT_EQ(c.buffer - 1, fake.availMin) << "ready for writing with more than a byte left";
        EXPECT_EQ(c.drained > 0 ? 1 : 0, rawDrains.load()) << c.error;
        EXPECT_EQ(rawDrains > 0 ? 0u : 1u, pendingAtDrain.load()) << "drained with bytes left";
    }
}

TEST(RawMidi, BytesTheKernelDroppedAreALossAfterTheReadTheyFollow) {
    fake = Fake{};
    fake.cards = true;
    fake.reads = {{"\xF0\x01\x02", 0}, {"\x03", 7}, {"\x04\xF7\xF0\x05\xF7", 0}};
    EXPECT_EQ(std::vector<Seen>({{kBytes, "\xF0\x01\x02", ""},
                                 {kLost, "\x03", "the kernel's input buffer overran", 7},
                                 {kBytes, "\x04\xF7\xF0\x05\xF7", ""},
                                 {kQuiet, "", ""}}),
              Heard(Raw(), kRaw));
    EXPECT_EQ(256u * 1024, fake.buffer) << "the largest buffer the kernel gives, up to 1 MiB";
}

// Runs of the tool over both back ends.
Outcome RunWithBoth(const std::vector<std::string>& args) {
    const MidiBackEnds alsa = BothBackEnds();
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    const int status =
        RunConvertTool(Arguments(args), in, out, err, {alsa.ports.get(), alsa.inputs.get()});
    return {status, out.str(), err.str(), true};
}

TEST(AlsaThroughTheTool, APortOfOneNameIsChosenByNameOrAddressAmongBothBackEnds) {
    const std::pair<std::string, std::string> chosen[] = {
        {"through", ""}, // a name chooses the sequencer's port
        {"alsa:hw:Through,0,0", "hw:1,0,0"},
        {"alsa:Midi Through:Port-0  [hw:1,0,0]", "hw:1,0,0"},
    };
    for (const auto& [wanted, opened] : chosen) {
        fake = Fake{};
        fake.cards = true;
        const Outcome run = RunWithBoth({"--receive", wanted, "--timeout", "1"});
        EXPECT_EQ(opened, fake.rawOpened) << wanted << ": " << run.err;
    }
}

// The tool writes no message that may span the loss: of the messages 1 to 6,
// 2 and 4 are cut short and 3, 5 and 6 may span it.
TEST(AlsaThroughTheTool, NoMessageSpanningACardsOverrunIsWritten) {
    fake = Fake{};
    fake.card = 1;
    fake.overruns = 5;
    fake.steps = {kOverrunSteps.begin(), kOverrunSteps.end()};
    const Outcome run = RunWithBoth({"--receive", "through", "--syx", "--count", "2"});
    EXPECT_EQ(kPortFailed, run.status);
    EXPECT_EQ("\xF0\x01\xF7\xF0\x07\xF7", run.out) << run.err;
}

} // namespace
