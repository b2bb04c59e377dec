// What the two ALSA back ends, the sequencer (AlsaClient.h) and a card's raw
// MIDI (RawMidi.h), share: their prefix, the system they run on (devices,
// poll, the kernel's files), the alsa-lib functions both call, and small
// helpers for alsa-lib's objects and waits.
//
// Each back end calls alsa-lib through a table of functions of its own,
// listed as X(member, function), filled from libasound.so.2 with dlopen the
// first time a run lists or connects (PlatformLibrary.h), or by a test's
// fake. Without the devices a back end is skipped quietly: no ports,
// nothing said, and nothing loaded. A missing library is named like a
// server that cannot be reached: "alsa: libasound.so.2 is not installed".
#pragma once

#include "MidiInputs.h"

#include <alsa/asoundlib.h>
#include <poll.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <map>
#include <span>
#include <string>
#include <string_view>

namespace midi_ports {

// Both back ends name their ports "alsa:...".
inline constexpr std::string_view kAlsaPrefix = "alsa:";

// The alsa-lib functions of both tables, first in each.
#define VANTREL_ALSA_COMMON_FUNCTIONS(X)                                                           \
    X(strerror, snd_strerror)                                                                      \
    X(setErrorHandler, snd_lib_error_set_handler)

// What the back ends need of the system.
struct AlsaSystem {
    bool (*sequencerPresent)(); // whether /dev/snd/seq exists
    bool (*cardsPresent)();     // whether any card's control device exists
    int (*poll)(pollfd* descriptors, nfds_t count, int milliseconds);
    // Reads a whole file of the kernel's (/proc/asound/...) into `text`;
    // false when it cannot.
    bool (*readText)(const char* path, std::string& text);
};

// /dev/snd/seq and /dev/snd/controlC* as the devices, the system's poll and
// files.
const AlsaSystem& RealAlsaSystem();

enum class AlsaDirection { Output, Input };

// The fields of one part ("Input 0", "Output 1") of the kernel's file about a
// card's raw MIDI device, /proc/asound/cardC/midiD, by name: "Overruns"
// gives "812", "Owner PID" the process holding it open. Empty when the file
// or the part is missing.
std::map<std::string, std::string, std::less<>> RawMidiPart(const AlsaSystem& system, int card,
                                                            int device, std::string_view part);

// alsa-lib's error handler that says nothing: errors are reported in the
// tool's own words.
void QuietAlsaErrors(const char*, int, const char*, int, const char*, ...);

// "what: alsa-lib's text for error".
inline std::string Because(const char* (*strerror)(int), const std::string& what, int error) {
    return what + ": " + strerror(error);
}

using Clock = std::chrono::steady_clock;

// What is left of the time up to `deadline`, in whole milliseconds rounded
// up; 0 once it has passed.
inline std::chrono::milliseconds TimeLeft(Clock::time_point deadline) {
    return std::max(std::chrono::ceil<std::chrono::milliseconds>(deadline - Clock::now()),
                    std::chrono::milliseconds(0));
}

// Polls `descriptors` up to `wait`: above 0 when one is ready, 0 when the
// wait ran out, a negative error code when it failed (-EINTR for a signal).
// A poll of no descriptors sleeps.
int PollFor(const AlsaSystem& system, std::span<pollfd> descriptors,
            std::chrono::milliseconds wait);

// alsa-lib's objects of one kind, allocated by `make` and freed by `free`.
template <class T> struct Held {
    T* p = nullptr;
    void (*free)(T*) = nullptr;
    Held(int (*make)(T**), void (*release)(T*)) : free(release) {
        if (make(&p) < 0) {
            p = nullptr;
        }
    }
    ~Held() {
        if (p != nullptr) {
            free(p);
        }
    }
    Held(const Held&) = delete;
    Held& operator=(const Held&) = delete;
};

} // namespace midi_ports
