// Reading and setting a window's text; see WindowText.h.
#include "WindowText.h"

#include "TimedMessage.h"

namespace driving {

std::optional<std::wstring> ReadText(HWND window, std::chrono::milliseconds timeout) {
    const auto length = SendWithin(window, WM_GETTEXTLENGTH, 0, 0, timeout);
    if (!length) {
        return std::nullopt;
    }
    // WM_GETTEXTLENGTH may overstate the length, never understate it, and the
    // text may grow between the two questions; WM_GETTEXT then cuts it at the
    // buffer's size. The copy's own answer gives the length read.
    std::wstring text(*length + 1, L'\0');
    const auto copied =
        SendWithin(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), timeout);
    if (!copied) {
        return std::nullopt;
    }
    text.resize(*copied);
    return text;
}

bool WriteText(HWND window, const std::wstring& text, std::chrono::milliseconds timeout) {
    const auto taken =
        SendWithin(window, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text.c_str()), timeout);
    return taken && *taken != 0;
}

} // namespace driving
