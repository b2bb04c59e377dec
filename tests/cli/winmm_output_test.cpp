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
    for (const auto& [port, opened] :
         {std::pair<std::string, UINT>{"winmm:2", 2}, {kSynth + "  [1]", 1}}) {
        fake = Fake{};
        const auto ports = MakeWinmmPorts(kFunctions);
        EXPECT_EQ(kAllAccepted,
                  RunTool({"--send", port, "set x"}, "", kPieceBytes, ports.get()).status);
        EXPECT_EQ(opened, fake.opened) << port;
    }
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
    // 3,125 bytes take a message on a cable: a driver that plays them out
    // is done after the plain deadline of 100 ms and within the longer one.
    fake = Fake{};
    const auto ports = MakeWinmmPorts(kFunctions, 100ms);
    const Opened opened = ports->Open({kSynth, "1"});
    ASSERT_NE(nullptr, opened.output) << opened.error;
    std::vector<std::uint8_t> message(3125, 0x01);
    message.front() = 0xF0;
    message.back() = 0xF7;
    fake.completion = Completion::Late;
    fake.late = 300ms;
    EXPECT_EQ(std::nullopt, opened.output->Send(message));
    fake.lateThread.join();
}

TEST(WinmmOutput, TheToolPacesTheMessagesItHandsToWinmm) {
    // Messages of 15 bytes: 5 ms each at the default rate.
    fake = Fake{};
    FakeClock clock;
    fake.clock = &clock;
    const auto ports = MakeWinmmPorts(kFunctions);
    std::istringstream in("set a\nset b\nset c\n");
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(kAllAccepted, RunConvertTool(Arguments({"--send", "winmm:1"}), in, out, err,
                                           {ports.get(), nullptr, &clock}));
    EXPECT_EQ((std::vector<long long>{0, 5'000, 10'000}), fake.sentAtUs);
}

} // namespace
