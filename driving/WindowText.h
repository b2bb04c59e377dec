// Reading and setting the text of a window that may belong to another thread
// or process. Only messages do that: GetWindowText answers from the caller's
// own copy of a window title and gives nothing for another process's edit
// box. Both go through SendWithin, so a hung window costs the timeout, not
// the caller.
#pragma once

#include "Waiting.h"

#include <windows.h>

#include <chrono>
#include <optional>
#include <string>

namespace driving {

// The window's text as WM_GETTEXT gives it, or nothing if the window did not
// answer within `timeout`.
std::optional<std::wstring> ReadText(HWND window, std::chrono::milliseconds timeout = kDeadline);

// Sets the window's text with WM_SETTEXT. True if the window answered within
// `timeout` and took the text.
bool WriteText(HWND window, const std::wstring& text,
               std::chrono::milliseconds timeout = kDeadline);

} // namespace driving
