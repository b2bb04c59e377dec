// Reading what another process's windows show, for the tests and their
// failure messages. Texts and selections are asked of the window with a time
// limit (the driving library's WindowText.h and TimedMessage.h); everything
// else uses calls that work across processes: the window's class, id,
// styles and position.
#pragma once

#include <windows.h>

#include <string>
#include <vector>

namespace blackbox {

// The window's text as WM_GETTEXT gives it, or "<no answer>" when the window
// does not answer within the deadline.
std::wstring TextOf(HWND window);

std::wstring ClassOf(HWND window);

// A short description for failure messages: id, class and text.
std::wstring Describe(HWND window);

// The child windows of `parent` in their z-order, which for a dialog is the
// order of the template and so the tab order.
std::vector<HWND> ChildrenOf(HWND parent);

// The start and end of an edit control's selection (EM_GETSEL).
struct Selection {
    DWORD start = 0;
    DWORD end = 0;
    bool operator==(const Selection&) const = default;
};
Selection SelectionOf(HWND edit);

// The window's rectangle in the client coordinates of `dialog`.
RECT RectInClientOf(HWND window, HWND dialog);

} // namespace blackbox
