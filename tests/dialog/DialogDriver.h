// Helpers for driving a live dialog from a second thread while the test's
// main thread runs it modally: waiting on conditions with a deadline,
// reading window text, finding the focus, and posting key strokes the way
// the keyboard would deliver them.
#pragma once

#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <thread>

namespace driver {

using namespace std::chrono_literals;

// Polls `condition` until it holds or `timeout` passes; returns its last
// answer. A deadline rather than a fixed sleep, so a slow machine only makes
// the wait longer, never the test wrong.
inline bool WaitUntil(const std::function<bool()>& condition,
                      std::chrono::milliseconds timeout = 15s) {
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    while (!condition()) {
        if (std::chrono::steady_clock::now() >= deadline) {
            return condition();
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// The window's text, read with WM_GETTEXT (so it works across threads).
inline std::u16string Text(HWND window) {
    const auto length = static_cast<std::size_t>(SendMessageW(window, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(length + 1, L'\0');
    const auto copied = static_cast<std::size_t>(
        SendMessageW(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data())));
    text.resize(copied);
    return {text.begin(), text.end()};
}

inline void SetText(HWND window, const std::u16string& text) {
    const std::wstring wide(text.begin(), text.end());
    SendMessageW(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(wide.c_str()));
}

// The control that has the keyboard focus in `window`'s thread.
inline HWND Focus(HWND window) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    GetGUIThreadInfo(GetWindowThreadProcessId(window, nullptr), &info);
    return info.hwndFocus;
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
    SetForegroundWindow(window);
    if (!WaitUntil([&] { return GetForegroundWindow() == window; })) {
        return false;
    }
    INPUT inputs[2] = {};
    inputs[0].type = INPUT_KEYBOARD;
    inputs[0].ki.wVk = key;
    inputs[1] = inputs[0];
    inputs[1].ki.dwFlags = KEYEVENTF_KEYUP;
    return SendInput(2, inputs, sizeof(INPUT)) == 2;
}

// Typed characters, one WM_CHAR each.
inline void Type(HWND target, const std::u16string& text) {
    for (char16_t c : text) {
        PostMessageW(target, WM_CHAR, c, 1);
    }
}

// A top-level window of this process, other than `except`, with class
// "#32770" (dialogs and message boxes) that is visible.
struct DialogSearch {
    HWND except;
    HWND found;
};

inline BOOL CALLBACK CollectOtherDialog(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<DialogSearch*>(lParam);
    wchar_t name[16] = {};
    GetClassNameW(window, name, 16);
    if (window != search->except && IsWindowVisible(window) && std::wstring(name) == L"#32770") {
        search->found = window;
        return FALSE;
    }
    return TRUE;
}

inline HWND FindOtherDialog(HWND except) {
    DialogSearch search{except, nullptr};
    EnumThreadWindows(GetWindowThreadProcessId(except, nullptr), &CollectOtherDialog,
                      reinterpret_cast<LPARAM>(&search));
    return search.found;
}

} // namespace driver
