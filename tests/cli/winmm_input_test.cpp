// --receive over the WinMM back end with a fake driver: a driver thread of
// the test's own fills the buffers it was given and hands them back through
// the callback, as a real driver does. Messages split across buffers and
// back to back, more messages than buffers (so each must be given back,
// outside the callback), a broken message, a broken short message, and the
// partly filled buffer that the reset at the end returns.
#include "RecordingPorts.h"
#include "ToolRun.h"
#include "WinmmInput.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <deque>
#include <mutex>
#include <thread>

namespace {

using namespace midi_ports;
using namespace std::chrono_literals;

// What the driver does, in order, once started.
struct Action {
    UINT message; // MIM_LONGDATA, MIM_LONGERROR, MIM_ERROR, or 0: fill a buffer partly
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
    int prepared = 0; // prepared and not yet unprepared
    std::thread thread;
} driver;

HMIDIIN const kDevice = reinterpret_cast<HMIDIIN>(&driver);

// Whether this thread is inside the callback now.
thread_local bool inCallback = false;

void Call(UINT message, DWORD_PTR first) {
    using Callback = void(CALLBACK*)(HMIDIIN, UINT, DWORD_PTR, DWORD_PTR, DWORD_PTR);
    inCallback = true;
    reinterpret_cast<Callback>(driver.callback)(kDevice, message, driver.instance, first, 0);
    inCallback = false;
}

// The next buffer the tool has given, waiting for it to give one back; null
// when none comes (the bytes are then lost, as with a real driver).
MIDIHDR* NextBuffer() {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    for (;;) {
        {
            const std::lock_guard lock(driver.mutex);
            if (!driver.queued.empty()) {
                return driver.queued.front();
            }
        }
        if (std::chrono::steady_clock::now() > deadline) {
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

// The fakes, in WinMM's calling convention.
UINT WINAPI GetNumDevs() {
    return 2;
}
MMRESULT WINAPI GetDevCaps(UINT_PTR id, MIDIINCAPSW* caps, UINT) {
    wcscpy(caps->szPname, L"Keys \u00E9");
    return id == 1 ? MMSYSERR_NOERROR : MMSYSERR_BADDEVICEID;
}
MMRESULT WINAPI Open(HMIDIIN* device, UINT id, DWORD_PTR callback, DWORD_PTR instance,
                     DWORD flags) {
    EXPECT_EQ(1u, id);
    EXPECT_EQ(static_cast<DWORD>(CALLBACK_FUNCTION), flags);
    driver.callback = callback;
    driver.instance = instance;
    *device = kDevice;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI PrepareHeader(HMIDIIN, MIDIHDR* header, UINT) {
    header->dwFlags |= MHDR_PREPARED;
    ++driver.prepared;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI AddBuffer(HMIDIIN, MIDIHDR* header, UINT) {
    const std::lock_guard lock(driver.mutex);
    driver.addedInCallback += inCallback ? 1 : 0;
    ++driver.added;
    driver.queued.push_back(header);
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI Start(HMIDIIN) {
    driver.thread = std::thread(Play);
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI Reset(HMIDIIN) {
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
MMRESULT WINAPI UnprepareHeader(HMIDIIN, MIDIHDR* header, UINT) {
    const std::lock_guard lock(driver.mutex);
    if (std::find(driver.queued.begin(), driver.queued.end(), header) != driver.queued.end()) {
        return MIDIERR_STILLPLAYING;
    }
    --driver.prepared;
    return MMSYSERR_NOERROR;
}
MMRESULT WINAPI Close(HMIDIIN) {
    return MMSYSERR_NOERROR;
}

const WinmmInputFunctions kFunctions = {
    GetNumDevs, GetDevCaps,      Open,  PrepareHeader,      AddBuffer, Start,
    Reset,      UnprepareHeader, Close, midiInGetErrorTextW};

Outcome Receive(std::vector<Action> script, const std::vector<std::string>& args) {
    driver.script = std::move(script);
    driver.queued.clear();
    driver.added = driver.addedInCallback = driver.prepared = 0;
    RecordingPorts ports;
    const auto inputs = MakeWinmmInputs(kFunctions);
    std::istringstream in;
    std::ostringstream out;
    std::ostringstream err;
    std::vector<std::string> all = {"--receive", "keys"};
    all.insert(all.end(), args.begin(), args.end());
    const int status = RunConvertTool(Arguments(all), in, out, err, {&ports, inputs.get()});
    if (driver.thread.joinable()) {
        driver.thread.join();
    }
    return {status, out.str(), err.str(), true};
}

const std::string kListening = "vantrel-convert: listening to winmm:Keys \xC3\xA9\n";

TEST(WinmmInput, MessagesAcrossAndWithinBuffersAndMoreThanThereAreBuffers) {
    const std::string bytes = BytesOfText("F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7");
    const std::string identity = "F0 7E 7F 06 01 F7";
    std::vector<Action> script = {{MIM_LONGDATA, bytes.substr(0, 10)},
                                  {MIM_LONGDATA, bytes.substr(10) + BytesOfText(identity)}};
    for (std::size_t i = 0; i < 3 * kWinmmInputBuffers; ++i) {
        script.push_back({MIM_LONGDATA, {'\xF0', static_cast<char>(i), '\xF7'}});
    }
    const Outcome run = Receive(script, {"--count", std::to_string(2 + 3 * kWinmmInputBuffers),
                                         "--timeout", "5000", "--syx"});
    std::string sent;
    for (const Action& action : script) {
        sent += action.bytes;
    }
    EXPECT_EQ(kAllAccepted, run.status) << run.err;
    EXPECT_TRUE(sent == run.out) << "not every message whole and in order";
    EXPECT_EQ(kListening, run.err);
    EXPECT_EQ(0, driver.addedInCallback) << "a buffer was given back inside the callback";
    EXPECT_GE(driver.added, static_cast<int>(3 * kWinmmInputBuffers));
    EXPECT_EQ(0, driver.prepared) << "a buffer was not unprepared";
}

TEST(WinmmInput, BrokenMessagesAndTheLastPartlyFilledBufferAreReported) {
    const Outcome run = Receive({{MIM_LONGERROR, "\xF0\x7E\x01"},
                                 {MIM_ERROR, ""},
                                 {MIM_LONGDATA, "\xF0\x02\xF7"},
                                 {0, "\xF0\x03\x04"}},
                                {"--timeout", "300"});
    EXPECT_EQ(kPortFailed, run.status);
    EXPECT_EQ("F0 02 F7\n", run.out);
    EXPECT_EQ(kListening +
                  "vantrel-convert: message 1: cut short: the MIDI device reported a broken "
                  "System Exclusive message\n"
                  "vantrel-convert: input from winmm:Keys \xC3\xA9 was lost: the MIDI device "
                  "reported a broken MIDI message (status 90)\n"
                  "vantrel-convert: message 3: cut short: the run ended before its F7\n",
              run.err);
    EXPECT_EQ(0, driver.prepared);
}

} // namespace
