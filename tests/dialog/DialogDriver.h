// Helpers for driving a live dialog from a second thread while the test's
// main thread runs it modally. Waiting, window text, the focus and real key
// strokes come from the shared driving library (driving/); here they
// take the UTF-16 strings of the tests. What only these tests need stays
// here: key strokes and characters posted the way the keyboard would deliver
// them, and finding the other dialog (a message box) the process shows.
#pragma once

#include "Foreground.h"
#include "Keyboard.h"
#include "ProcessDialogs.h"
#include "ThreadFocus.h"
#include "Waiting.h"
#include "WindowText.h"

#include <windows.h>

#include <string>

namespace driver {

// Polls a condition until it holds or a deadline passes (15 s unless told).
using driving::WaitUntil;

// The window's text, read with WM_GETTEXT (so it works across threads), or
// "<no answer>" if the window's thread did not answer within the deadline.
inline std::u16string Text(HWND window) {
    const std::wstring text = driving::ReadText(window).value_or(L"<no answer>");
    return {text.begin(), text.end()};
}

inline void SetText(HWND window, const std::u16string& text) {
    driving::WriteText(window, std::wstring(text.begin(), text.end()));
}

// The control that has the keyboard focus in `window`'s thread.
inline HWND Focus(HWND window) {
    return driving::FocusOf(GetWindowThreadProcessId(window, nullptr));
}

// A key press and release, posted to `target` as the keyboard would post
// them, so they pass through the dialog's own message loop.
inline void PressKey(HWND target, WORD key) {
    const UINT scan = MapVirtualKeyW(key, MAPVK_VK_TO_VSC);
    const UINT downBits = 1 | (scan << 16);
    const UINT upBits = downBits | (1u << 30) | (1u << 31);
    const auto down = static_cast<LPARAM>(downBits);
    const auto up = static_cast<LPARAM>(static_cast<LONG>(upBits));
    PostMessageW(target, WM_KEYDOWN, key, down);
    PostMessageW(target, WM_KEYUP, key, up);
}

// A key press and release from the keyboard itself (SendInput), after
// bringing `window` to the foreground; for keys the platform treats
// specially on their way from the keyboard, such as F1.
inline bool PressRealKey(HWND window, WORD key) {
    return driving::BringToFront(window) && driving::PressKey(key);
}

// Typed characters, one WM_CHAR each.
inline void Type(HWND target, const std::u16string& text) {
    for (char16_t c : text) {
        PostMessageW(target, WM_CHAR, c, 1);
    }
}

// A visible dialog or message box (class "#32770") of this process other
// than `except`, or null.
inline HWND FindOtherDialog(HWND except) {
    for (HWND dialog : driving::DialogsOfProcess(GetCurrentProcessId())) {
        if (dialog != except) {
            return dialog;
        }
    }
    return nullptr;
}

// Waits for a dialog or message box other than `except` to come up; null
// if none has by the deadline.
inline HWND WaitForOtherDialog(HWND except) {
    HWND other = nullptr;
    WaitUntil([&] { return (other = FindOtherDialog(except)) != nullptr; });
    return other;
}

} // namespace driver
