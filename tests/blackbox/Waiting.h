// Waiting for the program under test: every check on another process polls a
// condition until it holds or a deadline passes, so a slow start or a loaded
// machine costs time, not a false failure. While waiting, the driver's own
// messages are dispatched, because the program may send messages to the
// driver's windows (the clipboard owner is told when the program takes the
// clipboard over) and would otherwise hang until the driver listens again.
#pragma once

#include <windows.h>

#include <chrono>

namespace blackbox {

// How long any single condition may take to come true. Under Wine on a busy
// two-core machine a program start takes up to a few seconds; nothing the
// tests wait for should take longer than this.
inline constexpr std::chrono::milliseconds kDeadline{15000};

// Dispatches whatever messages are waiting for the driver's thread.
inline void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

// Polls `condition` every 20 ms until it returns true (then true) or the
// timeout passes (then false, after one last look).
template <typename Condition>
bool WaitUntil(Condition condition, std::chrono::milliseconds timeout = kDeadline) {
    const auto end = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition()) {
            return true;
        }
        if (std::chrono::steady_clock::now() >= end) {
            return condition();
        }
        PumpMessages();
        Sleep(20);
    }
}

} // namespace blackbox
