// Real keyboard and mouse input through SendInput; see UserInput.h.
#include "UserInput.h"

#include "Foreground.h"
#include "Keyboard.h"
#include "TextForPeople.h"
#include "Waiting.h"
#include "WindowReading.h"

#include <cstdlib>

namespace blackbox {

using driving::Printable;
using driving::WaitUntil;

namespace {

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

// A test result from what SendInput made of a batch of events.
::testing::AssertionResult Reported(const driving::Sent& sent) {
    if (!sent) {
        return ::testing::AssertionFailure() << "SendInput sent " << sent.taken << " of "
                                             << sent.total << " events, error " << sent.error;
    }
    return ::testing::AssertionSuccess();
}

} // namespace

::testing::AssertionResult Person::BringToFront() const {
    if (!IsWindow(window_)) {
        return ::testing::AssertionFailure() << "the window to work in no longer exists";
    }
    if (!driving::BringToFront(window_)) {
        return ::testing::AssertionFailure() << "could not bring " << Printable(Describe(window_))
                                             << " to the front; the foreground window is "
                                             << Printable(Describe(GetForegroundWindow()));
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Person::Send(const std::function<driving::Sent()>& send) const {
    if (auto front = BringToFront(); !front) {
        return front;
    }
    return Reported(send());
}

::testing::AssertionResult Person::Press(WORD virtualKey, UINT modifiers) const {
    return Send([&] { return driving::PressKey(virtualKey, modifiers); });
}

::testing::AssertionResult Person::PressUntil(WORD virtualKey, UINT modifiers,
                                              const std::function<bool()>& done) const {
    if (auto front = BringToFront(); !front) {
        return front;
    }
    const driving::KeyEffect effect = driving::PressKeyUntil(virtualKey, modifiers, done);
    if (!effect.sent) {
        return Reported(effect.sent);
    }
    if (!effect.happened) {
        return ::testing::AssertionFailure() << "the key had no effect within the deadline";
    }
    return ::testing::AssertionSuccess();
}

::testing::AssertionResult Person::Type(const std::wstring& text) const {
    return Send([&] { return driving::TypeText(text); });
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
    if (auto sent = Send([&] { return driving::SendEvents({&move, 1}); }); !sent) {
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
    auto sent = Send([&] { return driving::SendEvents(click); });
    lastClickTime = GetTickCount();
    lastClickPoint = screen;
    return sent;
}

} // namespace blackbox
