// Reading the text of a control that belongs to another process. Only
// WM_GETTEXT does that: GetWindowText answers from the caller's own copy of
// the window title and returns nothing for another process's edit box.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

// The text of `control`, or nothing if its thread did not answer within
// `timeoutMs` milliseconds.
std::optional<std::wstring> ReadControlText(HWND control, DWORD timeoutMs);
