// Real keyboard and mouse input through SendInput; see UserInput.h.
#include "UserInput.h"

#include "Waiting.h"
#include "WindowReading.h"

#include <cstdlib>
#include <vector>

namespace blackbox {

namespace {

bool IsExtendedKey(WORD virtualKey) {
    switch (virtualKey) {
    case VK_HOME:
    case VK_END:
    case VK_LEFT:
    case VK_RIGHT:
    case VK_UP:
    case VK_DOWN:
    case VK_PRIOR:
    case VK_NEXT:
    case VK_INSERT:
    case VK_DELETE:
        return true;
    default:
        return false;
    }
}

INPUT Key(WORD virtualKey, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    input.ki.dwFlags =
        (up ? KEYEVENTF_KEYUP : 0u) | (IsExtendedKey(virtualKey) ? KEYEVENTF_EXTENDEDKEY : 0u);
    return input;
}

INPUT UnicodeUnit(wchar_t unit, bool up) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wScan = unit;
    input.ki.dwFlags = KEYEVENTF_UNICODE | (up ? KEYEVENTF_KEYUP : 0u);
    return input;
}

constexpr WORD kModifierKeys[] = {VK_SHIFT, VK_CONTROL, VK_MENU};
constexpr UINT kModifierFlags[] = {MOD_SHIFT, MOD_CONTROL, MOD_ALT};

void AppendModifiers(std::vector<INPUT>& inputs, UINT modifiers, bool up) {
    for (int i = 0; i < 3; ++i) {
        const int k = up ? 2 - i : i;
        if ((modifiers & kModifierFlags[k]) != 0) {
            inputs.push_back(Key(kModifierKeys[k], up));
        }
    }
}

// A key stroke with modifiers held around it.
void AppendStroke(std::vector<INPUT>& inputs, WORD virtualKey, UINT modifiers) {
    AppendModifiers(inputs, modifiers, false);
    inputs.push_back(Key(virtualKey, false));
    inputs.push_back(Key(virtualKey, true));
    AppendModifiers(inputs, modifiers, true);
}

// Absolute mouse coordinates run from 0 to 65535 across the primary
// screen; a pixel x is reached by the smallest value that maps onto it.
LONG Normalised(LONG pixel, int screenSize) {
    return static_cast<LONG>((static_cast<long long>(pixel) * 65536 + screenSize - 1) / screenSize);
}

INPUT Mouse(POINT screen, DWORD flags) {
    INPUT input{};
    input.type = INPUT_MOUSE;
    input.mi.dx = Normalised(screen.x, GetSystemMetrics(SM_CXSCREEN));
    input.mi.dy = Normalised(screen.y, GetSystemMetrics(SM_CYSCREEN));
    input.mi.dwFlags = flags | MOUSEEVENTF_ABSOLUTE;
    return input;
}

} // namespace

::testing::AssertionResult Person::BringToFront() const {
    if (!IsWindow(window_)) {
        return ::testing::AssertionFailure() << "the window to work in no longer exists";
    }
    if (GetForegroundWindow() == window_) {
        return ::testing::AssertionSuccess();
    }
    // Asked again every half second: an activation can be lost while the
    // program is still busy showing itself.
    int tries = 0;
    const bool inFront = WaitUntil([&] {
        if (tries++ % 25 == 0) {
            SetForegroundWindow(window_);
        }
        return GetForegroundWindow() == window_;
    });
    if (!inFront) {
        return ::testing::AssertionFailure() << "could not bring " << Printable(Describe(window_))
                                             << " to the front; the foreground window is "
                                             << Printable(Describe(GetForegroundWindow()));
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Person::Send(INPUT* inputs, UINT count) const {
    if (auto front = BringToFront(); !front) {
        return front;
    }
    const UINT sent = SendInput(count, inputs, sizeof(INPUT));
    if (sent != count) {
        return ::testing::AssertionFailure() << "SendInput sent " << sent << " of " << count
                                             << " events, error " << GetLastError();
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Person::Press(WORD virtualKey, UINT modifiers) const {
    std::vector<INPUT> inputs;
    AppendStroke(inputs, virtualKey, modifiers);
    return Send(inputs.data(), static_cast<UINT>(inputs.size()));
}

::testing::AssertionResult Person::PressUntil(WORD virtualKey, UINT modifiers,
                                              const std::function<bool()>& done) const {
    std::vector<INPUT> inputs;
    AppendModifiers(inputs, modifiers, false);
    inputs.push_back(Key(virtualKey, false));
    inputs.push_back(Key(virtualKey, true));
    if (auto sent = Send(inputs.data(), static_cast<UINT>(inputs.size())); !sent) {
        return sent;
    }
    const bool happened = WaitUntil(done);
    inputs.clear();
    AppendModifiers(inputs, modifiers, true);
    // Released even when the window has lost the foreground meanwhile, so
    // that no modifier stays down for the tests after this one.
    SendInput(static_cast<UINT>(inputs.size()), inputs.data(), sizeof(INPUT));
    if (!happened) {
        return ::testing::AssertionFailure() << "the key had no effect within the deadline";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Person::Type(const std::wstring& text) const {
    std::vector<INPUT> inputs;
    for (wchar_t unit : text) {
        const SHORT scan = unit < 0x80 ? VkKeyScanW(unit) : SHORT{-1};
        if (unit >= 0x20 && scan != -1 && (scan & 0xFF00) == 0) {
            AppendStroke(inputs, static_cast<WORD>(scan & 0xFF), 0);
        } else {
            inputs.push_back(UnicodeUnit(unit, false));
            inputs.push_back(UnicodeUnit(unit, true));
        }
    }
    return Send(inputs.data(), static_cast<UINT>(inputs.size()));
}

::testing::AssertionResult Person::Click(HWND control) const {
    RECT rect{};
    if (!GetWindowRect(control, &rect)) {
        return ::testing::AssertionFailure() << "no window to click on";
    }
    const POINT centre{(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
    const HWND hit = WindowFromPoint(centre);
    if (hit != control) {
        return ::testing::AssertionFailure() << "the centre of " << Printable(Describe(control))
                                             << " shows " << Printable(Describe(hit));
    }
    return ClickAt(centre);
}

::testing::AssertionResult Person::ClickAt(POINT screen) const {
    INPUT move = Mouse(screen, MOUSEEVENTF_MOVE);
    if (auto sent = Send(&move, 1); !sent) {
        return sent;
    }
    POINT at{};
    const bool arrived = WaitUntil([&] {
        GetCursorPos(&at);
        return at.x == screen.x && at.y == screen.y;
    });
    if (!arrived) {
        return ::testing::AssertionFailure()
               << "the mouse went to (" << at.x << ", " << at.y << ") instead of (" << screen.x
               << ", " << screen.y << ")";
    }
    // A second click near the last one within the double-click time would
    // be a double click (which, in an edit box, selects a word instead of
    // taking the focus); a person clicking twice waits longer than that.
    static DWORD lastClickTime = 0;
    static POINT lastClickPoint{-1000, -1000};
    const DWORD doubleClickTime = GetDoubleClickTime();
    if (std::abs(screen.x - lastClickPoint.x) <= GetSystemMetrics(SM_CXDOUBLECLK) &&
        std::abs(screen.y - lastClickPoint.y) <= GetSystemMetrics(SM_CYDOUBLECLK)) {
        WaitUntil([&] { return GetTickCount() - lastClickTime > doubleClickTime + 50; });
    }
    INPUT click[] = {Mouse(screen, MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTDOWN),
                     Mouse(screen, MOUSEEVENTF_MOVE | MOUSEEVENTF_LEFTUP)};
    auto sent = Send(click, 2);
    lastClickTime = GetTickCount();
    lastClickPoint = screen;
    return sent;
}

} // namespace blackbox
