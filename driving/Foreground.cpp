// Bringing a window to the foreground; see Foreground.h.
#include "Foreground.h"

#include "ThreadFocus.h"

namespace driving {

bool BringToFront(HWND window, std::chrono::milliseconds timeout) {
    const DWORD thread = GetWindowThreadProcessId(window, nullptr);
    const auto inFront = [&] {
        return GetForegroundWindow() == window && ActiveWindowOf(thread) == window;
    };
    auto nextRequest = std::chrono::steady_clock::now();
    bool gone = false;
    const bool stopped = WaitUntil(
        [&] {
            if (!IsWindow(window)) {
                gone = true;
                return true;
            }
            if (inFront()) {
                return true;
            }
            if (const auto now = std::chrono::steady_clock::now(); now >= nextRequest) {
                SetForegroundWindow(window);
                nextRequest = now + std::chrono::milliseconds(500);
            }
            return inFront();
        },
        timeout);
    return stopped && !gone;
}

} // namespace driving
