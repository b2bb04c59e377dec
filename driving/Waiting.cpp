// Waiting with a deadline; see Waiting.h.
#include "Waiting.h"

#include <windows.h>

namespace driving {

namespace {

// Dispatches whatever messages are waiting for the calling thread.
void PumpMessages() {
    MSG msg;
    while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageW(&msg);
    }
}

} // namespace

bool WaitUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
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

} // namespace driving
