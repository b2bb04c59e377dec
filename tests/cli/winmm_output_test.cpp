// The WinMM back end over fake platform functions: listing with device
// numbers, an open that fails, devices of one name chosen by number, sends
// that complete at once, late or never, a deadline that grows with the
// message's time on the wire, and the tool's pace through it.
#include "FakeClock.h"
#include "ToolRun.h"
#include "WinmmOutput.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace midi_ports;
using namespace std::chrono_literals;

enum class Completion { AtOnce, Late, Never };

// The fake devices: 0's capabilities cannot be read, 1 and 2 are both
// "Synth é".
struct Fake {
    MMRESULT openResult = MMSYSERR_NOERROR;
    UINT opened = UINT_MAX; // the device number opened
    Completion completion = Completion::AtOnce;
    std::chrono::milliseconds late{100}; // when a Late send completes
    HANDLE done = nullptr;               // the event the back end waits on
    std::thread lateThread;              // completes a Late send
    std::string sent;
    MIDIHDR* pending = nullptr; // the last buffer sent
    int resets = 0;
    FakeClock* clock = nullptr;        // when set, each send's time is kept
    std::vector<long long> sentAtUs{}; // on that clock
} fake;

HMIDIOUT const kDevice = reinterpret_cast<HMIDIOUT>(&fake);
const std::string kSynth = "winmm:Synth \xC3\xA9";

void Complete(MIDIHDR* header) {
    header->dwFlags |= MHDR_DONE;
    SetEvent(fake.done);
}

// The fakes, in WinMM's calling convention.
UINT WINAPI GetNumDevs() {
    return 3;
}
MMRESULT WINAPI GetDevCaps(UINT_PTR id, MIDIOUTCAPSW* caps, UINT) {
    wcscpy(caps->szPname, L"Synth \u00E9");
    return id != 0 ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}
MMRESULT WINAPI Open(HMIDIOUT* device, UINT id, DWORD_PTR callback, DWORD_PTR, DWORD flags) {
    EXPECT_EQ(static_cast<DWORD>(CALLBACK_EVENT), flags);
    fake.opened = id;
    fake.done = reinterpret_cast<HANDLE>(callback);
    *device = kDevice;
    return fake.openResult;
}
MMRESULT WINAPI PrepareHeader(HMIDIOUT, MIDIHDR* header, UINT) {
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI LongMsg(HMIDIOUT, MIDIHDR* header, UINT) {
    fake.sent.assign(header->lpData, header->dwBufferLength);
    fake.pending = header;
    if (fake.clock != nullptr) {
        fake.sentAtUs.push_back(fake.clock->Micros());
    }
    if (fake.completion == Completion::AtOnce) {
        Complete(header);
    } else if (fake.completion == Completion::Late) {
        fake.lateThread = std::thread([header] {
            std::this_thread::sleep_for(fake.late);
            Complete(header);
        });
    }
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI UnprepareHeader(HMIDIOUT, MIDIHDR* header, UINT) {
    return (header->dwFlags & MHDR_DONE) != 0 ? MMSYSERR_NOERROR : MIDIERR_STILLPLAYING;
}
MMRESULT WINAPI Reset(HMIDIOUT) {
    ++fake.resets;
    Complete(fake.pending); // the driver gives every buffer back
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI Close(HMIDIOUT) {
    return MMSYSERR_NOERROR;
}

// The real wording of errors.
const WinmmFunctions kFunctions = {GetNumDevs,      GetDevCaps, Open,  PrepareHeader,       LongMsg,
                                   UnprepareHeader, Reset,      Close, midiOutGetErrorTextW};
const std::uint8_t kMessage[] = {0xF0, 0x7F, 0xF7};

TEST(WinmmOutput, ListsDevicesWithTheirNumbersAndWordsAFailedOpen) {
    fake = Fake{};
    PortList list;
    MakeWinmmPorts(kFunctions)->List(list);
    ASSERT_EQ(2u, list.ports.size());
    EXPECT_EQ(kSynth + "  [1]", ListLine(list.ports[0]));
    EXPECT_EQ(kSynth + "  [2]", ListLine(list.ports[1]));
    fake.openResult = MMSYSERR_ALLOCATED;
    const Opened opened = MakeWinmmPorts(kFunctions)->Open(list.ports[1]);
    EXPECT_EQ(nullptr, opened.output);
    const std::string start = "cannot open \"" + kSynth + "  [2]\": ";
    EXPECT_EQ(0u, opened.error.find(start)) << opened.error;
    EXPECT_GT(opened.error.size(), start.size());
}

TEST(WinmmOutput, DevicesOfOneNameAreChosenByNumber) {
    const std::tuple<std::string, int, UINT> cases[] = {
        {"winmm:2", kAllAccepted, 2},
        {kSynth + "  [1]", kAllAccepted, 1},
        {kSynth, kPortFailed, UINT_MAX},
    };
    for (const auto& [port, status, opened] : cases) {
        fake = Fake{};
        const auto ports = MakeWinmmPorts(kFunctions);
        const Outcome run =
            RunTool({"--send", port, "--rate", "max", "set x"}, "", kPieceBytes, ports.get());
        EXPECT_EQ(status, run.status) << port;
        EXPECT_EQ(opened, fake.opened) << port;
    }
    fake = Fake{};
    const auto ports = MakeWinmmPorts(kFunctions);
    EXPECT_EQ("vantrel-convert: \"" + kSynth + "\" matches several MIDI output ports:\n  " +
                  kSynth + "  [1]\n  " + kSynth + "  [2]\n",
              RunTool({"--send", kSynth, "set x"}, "", kPieceBytes, ports.get()).err);
}

TEST(WinmmOutput, SendWaitsForTheDriverUntilTheDeadline) {
    fake = Fake{};
    const auto ports = MakeWinmmPorts(kFunctions, 400ms);
    const Opened opened = ports->Open({kSynth, "1"});
    ASSERT_NE(nullptr, opened.output) << opened.error;
    EXPECT_EQ(1u, fake.opened);
    EXPECT_EQ(std::nullopt, opened.output->Send(kMessage));
    EXPECT_EQ(std::string("\xF0\x7F\xF7"), fake.sent);
    fake.completion = Completion::Late;
    EXPECT_EQ(std::nullopt, opened.output->Send(kMessage));
    fake.lateThread.join();
    fake.completion = Completion::Never;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("the MIDI device did not take the message within 401 ms",
              opened.output->Send(kMessage))
        << "400 ms, and the 3 bytes' 0.96 ms on the wire";
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
    EXPECT_EQ(1, fake.resets);
    EXPECT_EQ(std::nullopt, opened.output->Finish());
}

TEST(WinmmOutput, TheDeadlineGrowsWithTheMessagesTimeOnTheWire) {
    // 3,125 bytes take a second on a cable: a driver that plays them out
    // is done after the plain deadline of 100 ms and within the longer one.
    fake = Fake{};
    const auto ports = MakeWinmmPorts(kFunctions, 100ms);
    const Opened opened = ports->Open({kSynth, "1"});
    ASSERT_NE(nullptr, opened.output) << opened.error;
    std::vector<std::uint8_t> second(3125, 0x01);
    second.front() = 0xF0;
    second.back() = 0xF7;
    fake.completion = Completion::Late;
    fake.late = 300ms;
    EXPECT_EQ(std::nullopt, opened.output->Send(second));
    fake.lateThread.join();
    // With no time of its own, the deadline is the wire time alone.
    fake = Fake{};
    const auto prompt = MakeWinmmPorts(kFunctions, 0ms);
    const Opened quick = prompt->Open({kSynth, "2"});
    ASSERT_NE(nullptr, quick.output) << quick.error;
    fake.completion = Completion::Never;
    second.resize(313); // 100.16 ms
    second.back() = 0xF7;
    EXPECT_EQ("the MIDI device did not take the message within 101 ms", quick.output->Send(second));
}

TEST(WinmmOutput, TheToolPacesTheMessagesItHandsToWinmm) {
    // Messages of 15 bytes: 5 ms each at the default rate, 10 at 1,500.
    const std::pair<std::vector<std::string>, std::vector<long long>> cases[] = {
        {{}, {0, 5'000, 10'000}},
        {{"--rate", "1500"}, {0, 10'000, 20'000}},
        {{"--interval", "30"}, {0, 30'000, 60'000}},
        {{"--rate", "max"}, {0, 0, 0}},
    };
    for (const auto& [options, times] : cases) {
        fake = Fake{};
        FakeClock clock;
        fake.clock = &clock;
        const auto ports = MakeWinmmPorts(kFunctions);
        std::vector<std::string> args = {"--send", "winmm:1"};
        args.insert(args.end(), options.begin(), options.end());
        std::istringstream in("set a\nset b\nset c\n");
        std::ostringstream out;
        std::ostringstream err;
        EXPECT_EQ(kAllAccepted,
                  RunConvertTool(Arguments(args), in, out, err, *ports, kPieceBytes, clock))
            << err.str();
        EXPECT_EQ(times, fake.sentAtUs) << testing::PrintToString(options);
    }
}

} // namespace
