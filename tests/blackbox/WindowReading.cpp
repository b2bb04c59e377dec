// Reading what another process's windows show; see WindowReading.h.
#include "WindowReading.h"

#include "Waiting.h"

#include <cstdio>

namespace blackbox {

namespace {

constexpr UINT kAnswerTimeoutMs = static_cast<UINT>(kDeadline.count());

bool Ask(HWND window, UINT message, WPARAM wParam, LPARAM lParam, DWORD_PTR& answer) {
    return SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                               kAnswerTimeoutMs, &answer) != 0;
}

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectDialog(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<DialogSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search.processId && IsWindowVisible(window) && ClassOf(window) == L"#32770") {
        search.found.push_back(window);
    }
    return TRUE;
}

} // namespace

std::wstring TextOf(HWND window) {
    DWORD_PTR length = 0;
    if (!Ask(window, WM_GETTEXTLENGTH, 0, 0, length)) {
        return L"<no answer>";
    }
    // The text may grow between the two questions; WM_GETTEXT then cuts it
    // at the buffer's size and the next read sees the rest.
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    if (!Ask(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), copied)) {
        return L"<no answer>";
    }
    text.resize(copied);
    return text;
}

std::wstring ClassOf(HWND window) {
    wchar_t name[256] = {};
    const int length = GetClassNameW(window, name, 256);
    return std::wstring(name, static_cast<std::size_t>(length > 0 ? length : 0));
}

std::wstring Describe(HWND window) {
    if (window == nullptr) {
        return L"(no window)";
    }
    if (!IsWindow(window)) {
        return L"(a window that no longer exists)";
    }
    return L"id " + std::to_wstring(static_cast<short>(GetDlgCtrlID(window))) + L" " +
           ClassOf(window) + L" \"" + TextOf(window) + L"\"";
}

HWND FocusOf(DWORD threadId) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(threadId, &info)) {
        return nullptr;
    }
    return info.hwndFocus;
}

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

std::vector<HWND> DialogsOfProcess(DWORD processId) {
    DialogSearch search{processId, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

Selection SelectionOf(HWND edit) {
    DWORD_PTR packed = 0;
    if (!Ask(edit, EM_GETSEL, 0, 0, packed)) {
        return {0xFFFFFFFF, 0xFFFFFFFF};
    }
    return {LOWORD(packed), HIWORD(packed)};
}

RECT RectInClientOf(HWND window, HWND dialog) {
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string Printable(const std::wstring& text) {
    std::string out;
    for (wchar_t c : text) {
        if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c == L'\r') {
            out += "\\r";
        } else if (c == L'\n') {
            out += "\\n";
        } else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "\\x{%x}", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out;
}

} // namespace blackbox
