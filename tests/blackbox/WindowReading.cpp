// Reading what another process's windows show; see WindowReading.h.
#include "WindowReading.h"

#include "TimedMessage.h"
#include "WindowText.h"

namespace blackbox {

std::wstring TextOf(HWND window) {
    return driving::ReadText(window).value_or(L"<no answer>");
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

std::vector<HWND> ChildrenOf(HWND parent) {
    std::vector<HWND> children;
    for (HWND child = GetWindow(parent, GW_CHILD); child != nullptr;
         child = GetWindow(child, GW_HWNDNEXT)) {
        children.push_back(child);
    }
    return children;
}

Selection SelectionOf(HWND edit) {
    const auto packed = driving::SendWithin(edit, EM_GETSEL, 0, 0);
    if (!packed) {
        return {0xFFFFFFFF, 0xFFFFFFFF};
    }
    return {LOWORD(*packed), HIWORD(*packed)};
}

RECT RectInClientOf(HWND window, HWND dialog) {
    RECT rect{};
    GetWindowRect(window, &rect);
    MapWindowPoints(HWND_DESKTOP, dialog, reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

} // namespace blackbox
