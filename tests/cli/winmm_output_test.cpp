// The WinMM back end over fake platform functions: listing, an open that
// fails, and sends that complete at once, late, or never.
#include "WinmmOutput.h"

#include <gtest/gtest.h>

#include <thread>

namespace {

using namespace midi_ports;
using namespace std::chrono_literals;

enum class Completion { AtOnce, Late, Never };

// The fake device "Synth" (id 1; device 0's capabilities cannot be read).
struct Fake {
    MMRESULT openResult = MMSYSERR_NOERROR;
    Completion completion = Completion::AtOnce;
    HANDLE done = nullptr; // the event the back end waits on
    std::thread late;      // completes a Late send
    std::string sent;
    MIDIHDR* pending = nullptr; // the last buffer sent
    int resets = 0;
} fake;

HMIDIOUT const kDevice = reinterpret_cast<HMIDIOUT>(&fake);

void Complete(MIDIHDR* header) {
    header->dwFlags |= MHDR_DONE;
    SetEvent(fake.done);
}

// The fakes, in WinMM's calling convention.
UINT WINAPI GetNumDevs() {
    return 2;
}
MMRESULT WINAPI GetDevCaps(UINT_PTR id, MIDIOUTCAPSW* caps, UINT) {
    wcscpy(caps->szPname, L"Synth \u00E9");
    return id == 1 ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}
MMRESULT WINAPI Open(HMIDIOUT* device, UINT id, DWORD_PTR callback, DWORD_PTR, DWORD flags) {
    EXPECT_EQ(1u, id);
    EXPECT_EQ(static_cast<DWORD>(CALLBACK_EVENT), flags);
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
    if (fake.completion == Completion::AtOnce) {
        Complete(header);
    } else if (fake.completion == Completion::Late) {
        fake.late = std::thread([header] {
            std::this_thread::sleep_for(100ms);
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

TEST(WinmmOutput, ListsDevicesAndWordsAFailedOpen) {
    fake = Fake{};
    PortList list;
    MakeWinmmPorts(kFunctions)->List(list);
    EXPECT_EQ(std::vector<std::string>{"winmm:Synth \xC3\xA9"}, list.names);
    fake.openResult = MMSYSERR_ALLOCATED;
    const Opened opened = MakeWinmmPorts(kFunctions)->Open("winmm:Synth \xC3\xA9");
    EXPECT_EQ(nullptr, opened.output);
    EXPECT_EQ(0u, opened.error.find("cannot open \"winmm:Synth \xC3\xA9\": ")) << opened.error;
    EXPECT_GT(opened.error.size(), std::string("cannot open \"winmm:Synth \xC3\xA9\": ").size());
}

TEST(WinmmOutput, SendWaitsForTheDriverUntilTheDeadline) {
    fake = Fake{};
    const auto ports = MakeWinmmPorts(kFunctions, 400ms);
    const Opened opened = ports->Open("winmm:Synth \xC3\xA9");
    ASSERT_NE(nullptr, opened.output) << opened.error;
    EXPECT_EQ(std::nullopt, opened.output->Send(kMessage));
    EXPECT_EQ(std::string("\xF0\x7F\xF7"), fake.sent);
    fake.completion = Completion::Late;
    EXPECT_EQ(std::nullopt, opened.output->Send(kMessage));
    fake.late.join();
    fake.completion = Completion::Never;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ("the MIDI device did not take the message within 400 ms",
              opened.output->Send(kMessage));
    EXPECT_GE(std::chrono::steady_clock::now() - start, 400ms);
    EXPECT_EQ(1, fake.resets);
    EXPECT_EQ(std::nullopt, opened.output->Finish());
}

} // namespace
