// Sending a message to a window of another thread or process with a time
// limit (SendMessageTimeout), so a hung window cannot hang the caller.
#pragma once

#include "Waiting.h"

#include <windows.h>

#include <chrono>
#include <optional>

namespace driving {

// Sends `message` to `window` and returns the window's answer, or nothing if
// the window's thread did not answer within `timeout`, seems hung, or the
// window is gone. Meanwhile the caller takes no messages sent to its own
// windows (SMTO_BLOCK), so none of its code runs in the middle of the call.
std::optional<DWORD_PTR> SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    std::chrono::milliseconds timeout = kDeadline);

} // namespace driving
