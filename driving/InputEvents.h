// Real input: events handed to SendInput, which the system delivers to the
// foreground window as if they came from the keyboard or the mouse.
#pragma once

#include <windows.h>

#include <span>

namespace driving {

// What SendInput made of one batch of events: how many it took of how many,
// and the error code when it did not take them all.
struct Sent {
    UINT taken = 0;
    UINT total = 0;
    DWORD error = 0;

    explicit operator bool() const { return taken == total; }
};

// Sends `events` in one batch with SendInput.
Sent SendEvents(std::span<INPUT> events);

} // namespace driving
