// Bringing a top-level window to the foreground, as a person clicking on it
// would, and waiting until it is there, so that real input (SendInput) goes
// to that window and nothing else.
#pragma once

#include "Waiting.h"

#include <windows.h>

#include <chrono>

namespace driving {

// Makes `window` the foreground window and waits until it is, and until its
// own thread has taken it as its active window (which happens only once
// that thread has handled the activation). Asks again every half second: an
// activation can be lost while a program is still busy showing itself.
// False if `timeout` passes first or the window goes away.
bool BringToFront(HWND window, std::chrono::milliseconds timeout = kDeadline);

} // namespace driving
