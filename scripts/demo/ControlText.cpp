// Reading the text of a control that belongs to another process.
#include "ControlText.h"

std::optional<std::wstring> ReadControlText(HWND control, DWORD timeoutMs) {
    DWORD_PTR length = 0;
    if (SendMessageTimeoutW(control, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, timeoutMs,
                            &length) == 0) {
        return std::nullopt;
    }
    // WM_GETTEXTLENGTH may overstate the length, never understate it; the
    // copy's own answer gives the real one.
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (SendMessageTimeoutW(control, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()),
                            SMTO_ABORTIFHUNG, timeoutMs, &copied) == 0) {
        return std::nullopt;
    }
    text.resize(copied);
    return text;
}
