// The driver's side of the clipboard; see Clipboard.h.
#include "Clipboard.h"

#include "Waiting.h"

#include <windows.h>

#include <chrono>
#include <cstring>

namespace blackbox {

using driving::kDeadline;
using driving::WaitUntil;

namespace {

// The clipboard needs an owner window for SetClipboardData to be allowed; a
// message-only window of the driver's own serves.
HWND ClipboardOwner() {
    static const HWND owner = CreateWindowExW(0, L"STATIC", L"blackbox clipboard owner", 0, 0, 0, 0,
                                              0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    return owner;
}

// Opens the clipboard, waiting while another process has it open.
bool OpenWithin(std::chrono::milliseconds timeout) {
    return WaitUntil([] { return OpenClipboard(ClipboardOwner()) != 0; }, timeout);
}

} // namespace

bool SetClipboardText(const std::wstring& text) {
    if (!OpenWithin(kDeadline)) {
        return false;
    }
    bool done = false;
    if (EmptyClipboard()) {
        const std::size_t bytes = (text.size() + 1) * sizeof(wchar_t);
        HGLOBAL memory = GlobalAlloc(GMEM_MOVEABLE, bytes);
        if (memory != nullptr) {
            std::memcpy(GlobalLock(memory), text.c_str(), bytes);
            GlobalUnlock(memory);
            done = SetClipboardData(CF_UNICODETEXT, memory) != nullptr;
            if (!done) {
                GlobalFree(memory);
            }
        }
    }
    CloseClipboard();
    return done;
}

std::optional<std::wstring> ClipboardText() {
    if (!OpenWithin(kDeadline)) {
        return std::nullopt;
    }
    std::optional<std::wstring> text;
    if (HANDLE data = GetClipboardData(CF_UNICODETEXT); data != nullptr) {
        if (const auto* units = static_cast<const wchar_t*>(GlobalLock(data)); units != nullptr) {
            text = std::wstring(units);
            GlobalUnlock(data);
        }
    }
    CloseClipboard();
    return text;
}

} // namespace blackbox
