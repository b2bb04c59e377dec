// The WinMM back end, both directions, at OutputPort::Send and Input::Next
// over a fake of WinMM's functions whose table is generated from the back
// end's list of functions (StrictTable.h). Output: listing with device
// numbers, an open that fails, sends that complete at once, late or never,
// a deadline that grows with the message's time on the wire. Input: a
// driver thread of the test's own fills the buffers it was given and hands
// them back through the callback, as a real driver does, and a MessageReader
// puts them together. Messages split across buffers and back to back, more
// messages than buffers (so each must be given back, outside the callback),
// a broken message, a broken short message, the partly filled buffer that
// the reset at the end returns, and every buffer handed back before the
// input could give one back. Through the tool: devices of one name chosen by
// number, and the tool's pace.
#include "Described.h"
#include "FakeClock.h"
#include "StrictTable.h"
#include "ToolRun.h"
#include "WinmmDevices.h"

#include <gtest/gtest-spi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <deque>
#include <mutex>
#include <thread>
#include <tuple>

using namespace cli;

// A WinMM function the fake does not set says MMSYSERR_ERROR (a count of
// devices, of the same type, then counts one; the test has failed by then).
template <> struct strict_table::Refused<midi_ports::WinmmFunctions, MMRESULT> {
    static MMRESULT Value() { return MMSYSERR_ERROR; }
};

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
const std::uint8_t kMessage[] = {0xF0, 0x7F, 0xF7};
const std::string kSynth = "winmm:Synth \xC3\xA9";

void Complete(MIDIHDR* header) {
    header->dwFlags |= MHDR_DONE;
    SetEvent(fake.done);
}

// The output fakes, in WinMM's calling convention.
UINT WINAPI OutGetNumDevs() {
    return 3;
}
MMRESULT WINAPI OutGetDevCaps(UINT_PTR id, MIDIOUTCAPSW* caps, UINT) {
    wcscpy(caps->szPname, L"Synth \u00E9");
    return id != 0 ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}
MMRESULT WINAPI OutOpen(HMIDIOUT* device, UINT id, DWORD_PTR callback, DWORD_PTR, DWORD flags) {
    EXPECT_EQ(static_cast<DWORD>(CALLBACK_EVENT), flags);
    fake.opened = id;
    fake.done = reinterpret_cast<HANDLE>(callback);
    *device = kDevice;
    return fake.openResult;
}
MMRESULT WINAPI OutPrepareHeader(HMIDIOUT, MIDIHDR* header, UINT) {
    header->dwFlags |= MHDR_PREPARED;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI OutLongMsg(HMIDIOUT, MIDIHDR* header, UINT) {
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
MMRESULT WINAPI OutUnprepareHeader(HMIDIOUT, MIDIHDR* header, UINT) {
    return (header->dwFlags & MHDR_DONE) != 0 ? MMSYSERR_NOERROR : MIDIERR_STILLPLAYING;
}
MMRESULT WINAPI OutReset(HMIDIOUT) {
    ++fake.resets;
    Complete(fake.pending); // the driver gives every buffer back
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI OutClose(HMIDIOUT) {
    return MMSYSERR_NOERROR;
}

// An action that hands back every buffer queued, each with a message of
// its own, while the tool's midiInAddBuffer waits.
constexpr UINT kEveryBuffer = 1;

// What the driver does, in order, once started.
struct Action {
    UINT
        message; // MIM_LONGDATA, MIM_LONGERROR, MIM_ERROR, kEveryBuffer, or 0: fill a buffer partly
    std::string bytes;
};

struct Driver {
    std::vector<Action> script;
    std::mutex mutex;
    std::deque<MIDIHDR*> queued; // buffers given to the driver and not handed back
    DWORD_PTR callback = 0;
    DWORD_PTR instance = 0;
    int addedInCallback = 0; // midiInAddBuffer called from inside the callback
    int added = 0;
    int prepared = 0;                      // prepared and not yet unprepared
    std::atomic<bool> handingBack = false; // in kEveryBuffer
    std::thread thread;
} driver;

HMIDIIN const kInDevice = reinterpret_cast<HMIDIIN>(&driver);

// Whether this thread is inside the callback now.
thread_local bool inCallback = false;

void Call(UINT message, DWORD_PTR first) {
    using Callback = void(CALLBACK*)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
    inCallback = true;
    reinterpret_cast<Callback>(driver.callback)(kInDevice, message, driver.instance, first, 0);
    inCallback = false;
}

// The next buffer the tool has given, once it has given three, so that the
// driver never outruns the tool (as a MIDI cable never does); the last one
// after 5 s, or null when none comes (the bytes are then lost, as with a
// real driver).
MIDIHDR* NextBuffer() {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        const bool late = std::chrono::steady_clock::now() > deadline;
        {
            const std::lock_guard lock(driver.mutex);
            if (driver.queued.size() >= 3 || (late && !driver.queued.empty())) {
                return driver.queued.front();
            }
        }
        if (late) {
            return nullptr;
        }
        std::this_thread::sleep_for(1ms);
    }
}

void Play() {
    for (const Action& action : driver.script) {
        if (action.message == MIM_ERROR) {
            Call(MIM_ERROR, 0x007F4090);
            continue;
        }
        if (action.message == kEveryBuffer) {
            std::deque<MIDIHDR*> all;
            {
                const std::lock_guard lock(driver.mutex);
                all.swap(driver.queued);
                driver.handingBack = true;
            }
            for (MIDIHDR* header : all) {
                std::copy(kMessage, kMessage + 3, header->lpData);
                header->dwBytesRecorded = 3;
                Call(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header));
            }
            driver.handingBack = false;
            continue;
        }
        MIDIHDR* header = NextBuffer();
        if (header == nullptr) {
            continue;
        }
        std::copy(action.bytes.begin(), action.bytes.end(), header->lpData);
        header->dwBytesRecorded = static_cast<DWORD>(action.bytes.size());
        if (action.message != 0) {
            {
                const std::lock_guard lock(driver.mutex);
                driver.queued.pop_front();
            }
            header->dwFlags |= MHDR_DONE;
            Call(action.message, reinterpret_cast<DWORD_PTR>(header));
        }
    }
}

// The input fakes.
UINT WINAPI InGetNumDevs() {
    return 2;
}
MMRESULT WINAPI InGetDevCaps(UINT_PTR id, MIDIINCAPSW* caps, UINT) {
    wcscpy(caps->szPname, L"Keys \u00E9");
    return id == 1 ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}
MMRESULT WINAPI InOpen(HMIDIIN* device, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                       DWORD flags) {
    EXPECT_EQ(1u, id);
    EXPECT_EQ(static_cast<DWORD>(CALLBACK_FUNCTION), flags);
    driver.callback = callback;
    driver.instance = instance;
    *device = kInDevice;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI InPrepareHeader(HMIDIIN, MIDIHDR* header, UINT) {
    header->dwFlags |= MHDR_PREPARED;
    ++driver.prepared;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI InAddBuffer(HMIDIIN, MIDIHDR* header, UINT) {
    while (driver.handingBack) {
        std::this_thread::yield();
    }
    const std::lock_guard lock(driver.mutex);
    driver.addedInCallback += inCallback ? 1 : 0;
    ++driver.added;
    driver.queued.push_back(header);
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI InStart(HMIDIIN) {
    driver.thread = std::thread(Play);
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI InReset(HMIDIIN) {
    // Input stops, and every buffer comes back, a partly filled one too.
    if (driver.thread.joinable()) {
        driver.thread.join();
    }
    std::deque<MIDIHDR*> back;
    {
        const std::lock_guard lock(driver.mutex);
        back.swap(driver.queued);
    }
    for (MIDIHDR* header : back) {
        header->dwFlags |= MHDR_DONE;
        Call(MIM_LONGDATA, reinterpret_cast<DWORD_PTR>(header));
    }
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI InUnprepareHeader(HMIDIIN, MIDIHDR* header, UINT) {
    const std::lock_guard lock(driver.mutex);
    if (std::find(driver.queued.begin(), driver.queued.end(), header) != driver.queued.end()) {
        return MIDIERR_STILLPLAYING;
    }
    --driver.prepared;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI InClose(HMIDIIN) {
    return MMSYSERR_NOERROR;
}

// A table of one direction's fakes, with the real wording of errors; a
// function it does not set fails the test.
WinmmFunctions Table(WinmmDirection direction) {
    auto f = VANTREL_STRICT_TABLE(WinmmFunctions, VANTREL_WINMM_FUNCTIONS);
    f.getErrorText = midiOutGetErrorTextW;
    if (direction == WinmmDirection::Output) {
        std::tie(f.outGetNumDevs, f.outGetDevCaps, f.outOpen, f.outClose) =
            std::tuple(&OutGetNumDevs, &OutGetDevCaps, &OutOpen, &OutClose);
        std::tie(f.outPrepareHeader, f.outLongMsg, f.outUnprepareHeader, f.outReset) =
            std::tuple(&OutPrepareHeader, &OutLongMsg, &OutUnprepareHeader, &OutReset);
    } else {
        std::tie(f.inGetNumDevs, f.inGetDevCaps, f.inOpen, f.inClose, f.inStart, f.inReset) =
            std::tuple(&InGetNumDevs, &InGetDevCaps, &InOpen, &InClose, &InStart, &InReset);
        std::tie(f.inPrepareHeader, f.inAddBuffer, f.inUnprepareHeader) =
            std::tuple(&InPrepareHeader, &InAddBuffer, &InUnprepareHeader);
    }
    return f;
}
const WinmmFunctions kOutputFunctions = Table(WinmmDirection::Output);
const WinmmFunctions kInputFunctions = Table(WinmmDirection::Input);

TEST(StrictTable, AWinmmFunctionTheFakeDoesNotSetFailsLoudlyWithWinmmsError) {
    MMRESULT result = MMSYSERR_NOERROR;
    EXPECT_NONFATAL_FAILURE(result = kOutputFunctions.inStart(kInDevice),
                            "midiInStart was called, but the fake does not set it");
    EXPECT_EQ(static_cast<MMRESULT>(MMSYSERR_ERROR), result);
}

TEST(WinmmOutput, ListsDevicesWithTheirNumbersAndWordsAFailedOpen) {
    fake = Fake{};
    PortList list;
    EXPECT_EQ(std::vector<std::string>({kSynth + "  [1]", kSynth + "  [2]"}),
              Listed(*MakeWinmm(kOutputFunctions).ports, list));
    fake.openResult = MMSYSERR_ALLOCATED;
    const Opened opened = MakeWinmm(kOutputFunctions).ports->Open(list.ports[1]);
    EXPECT_EQ(nullptr, opened.output);
    const std::string start = "cannot open \"" + kSynth + "  [2]\": ";
    EXPECT_EQ(0u, opened.error.find(start)) << opened.error;
    EXPECT_GT(opened.error.size(), start.size());
}

TEST(WinmmOutput, DevicesOfOneNameAreChosenByNumber) {
    for (const auto& [port, opened] :
         {std::pair<std::string, UINT>{"winmm:2", 2}, {kSynth + "  [1]", 1}}) {
        fake = Fake{};
        const auto ports = MakeWinmm(kOutputFunctions).ports;
        EXPECT_EQ(kAllAccepted,
                  RunTool({"--send", port, "set x"}, "", kPieceBytes, ports.get()).status);
        EXPECT_EQ(opened, fake.opened) << port;
    }
}

TEST(WinmmOutput, SendWaitsForTheDriverUntilTheDeadline) {
    fake = Fake{};
    const auto ports = MakeWinmm(kOutputFunctions, 400ms).ports;
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
    const auto ports = MakeWinmm(kOutputFunctions, 100ms).ports;
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
    const auto ports = MakeWinmm(kOutputFunctions).ports;
    std::istringstream in("set a\nset b\nset c\n");
    std::ostringstream out;
    std::ostringstream err;
    EXPECT_EQ(kAllAccepted, RunConvertTool(Arguments({"--send", "winmm:1"}), in, out, err,
                                           {ports.get(), nullptr, &clock}));
    EXPECT_EQ((std::vector<long long>{0, 5'000, 10'000}), fake.sentAtUs);
}

// What the input of "Keys \xC3\xA9" hands out through a MessageReader while
// the driver plays `script`, each message or event in a word (Word; "more"
// left out): until `words` came or it was quiet for 5 s, then, stopped, what
// the reset gave back, and "cut at the end" when a message was then in
// progress.
std::vector<std::string> Heard(std::vector<Action> script, std::size_t words) {
    driver.script = std::move(script);
    driver.queued.clear();
    driver.added = driver.addedInCallback = driver.prepared = 0;
    std::vector<std::string> heard;
    const MidiBackEnds winmm = MakeWinmm(kInputFunctions);
    OpenedInput opened = winmm.inputs->Open({"winmm:Keys \xC3\xA9", "1"});
    if (opened.input == nullptr) {
        ADD_FAILURE() << opened.error;
        return heard;
    }
    MessageReader reader(*opened.input);
    for (bool stopped = false;;) {
        const Received& r = reader.Next(stopped ? 0ms : 5000ms);
        const bool quiet = r.kind == Received::Kind::Quiet;
        if (quiet && stopped) {
            break;
        }
        if (!quiet && r.kind != Received::Kind::More) {
            heard.push_back(Word(r));
        }
        if (!stopped && (quiet || heard.size() >= words)) {
            reader.Stop();
            stopped = true;
        }
    }
    if (reader.Cut()) {
        heard.push_back("cut at the end");
    }
    return heard; // the reset joined the driver's thread
}

TEST(WinmmInput, MessagesAcrossAndWithinBuffersAndMoreThanThereAreBuffers) {
    const std::string setX = "F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7";
    const std::string bytes = BytesOfText(setX);
    const std::string identity = "F0 7E 7F 06 01 F7";
    std::vector<Action> script = {{MIM_LONGDATA, bytes.substr(0, 10)},
                                  {MIM_LONGDATA, bytes.substr(10) + BytesOfText(identity)}};
    std::vector<std::string> sent = {setX, identity};
    for (std::size_t i = 0; i < 3 * kWinmmInputBuffers; ++i) {
        script.push_back({MIM_LONGDATA, {'\xF0', static_cast<char>(i % 0x80), '\xF7'}});
        sent.push_back(Hex(script.back().bytes));
    }
    EXPECT_TRUE(sent == Heard(script, sent.size())) << "not every message whole and in order";
    EXPECT_EQ(0, driver.addedInCallback) << "a buffer was given back inside the callback";
    EXPECT_GE(driver.added, static_cast<int>(3 * kWinmmInputBuffers));
    EXPECT_EQ(0, driver.prepared) << "a buffer was not unprepared";
}

TEST(WinmmInput, EveryBufferHandedBackAtOnceIsALossWhereItFell) {
    // The driver drops what comes while it holds no buffer, telling no one.
    std::vector<std::string> expected(kWinmmInputBuffers, "F0 7F F7");
    expected.push_back("lost: the driver had no input buffer left (all 512 were with the tool at "
                       "once), and it drops System Exclusive data it has no buffer for");
    expected.push_back("F0 7F F7");
    EXPECT_TRUE(expected ==
                Heard({{kEveryBuffer, ""}, {MIM_LONGDATA, "\xF0\x7F\xF7"}}, expected.size()))
        << "not every message whole, or the loss not where it fell";
}

TEST(WinmmInput, BrokenMessagesAndTheLastPartlyFilledBufferAreReported) {
    EXPECT_EQ(std::vector<std::string>(
                  {"broken, cut: the MIDI device reported a broken System Exclusive message",
                   "lost: the MIDI device reported a broken MIDI message (status 90)", "F0 02 F7",
                   "cut at the end"}),
              Heard({{MIM_LONGERROR, "\xF0\x7E\x01"},
                     {MIM_ERROR, ""},
                     {MIM_LONGDATA, "\xF0\x02\xF7"},
                     {0, "\xF0\x03\x04"}},
                    3));
    EXPECT_EQ(0, driver.prepared);
}

} // namespace
