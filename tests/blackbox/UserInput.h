// A person at the keyboard and mouse: real input through SendInput, sent
// only while the window the person works in is the foreground window, so the
// keys reach the program under test and nothing else. The foreground and the
// key strokes come from the driving library (Foreground.h, Keyboard.h);
// this class turns their answers into test results and adds the mouse.
#pragma once

#include "InputEvents.h"

#include <windows.h>

#include <gtest/gtest.h>

#include <functional>
#include <string>

namespace blackbox {

class Person {
  public:
    // The person works in `window`, a top-level window: the dialog, or a
    // message box in front of it.
    explicit Person(HWND window) : window_(window) {}

    // Makes the window the foreground window and waits until it is.
    ::testing::AssertionResult BringToFront() const;

    // Presses and releases one key, with Shift, Control or Alt held
    // (MOD_SHIFT, MOD_CONTROL, MOD_ALT) if asked, all in one batch.
    ::testing::AssertionResult Press(WORD virtualKey, UINT modifiers = 0) const;

    // Presses and releases one key with modifiers held, and keeps the
    // modifiers held until `done` says the key has had its effect (or the
    // deadline passes), then releases them: a modifier released in the same
    // batch as its key was seen lost under Wine on a loaded machine (see
    // driving::PressKeyUntil).
    ::testing::AssertionResult PressUntil(WORD virtualKey, UINT modifiers,
                                          const std::function<bool()>& done) const;

    // Types text: characters that the keyboard layout types without a
    // modifier as their keys, every other UTF-16 unit (capitals, other
    // shifted characters, characters beyond the layout) as a Unicode key
    // event, because a long run of shifted keys in one batch lost a Shift
    // (see driving::TypeText).
    ::testing::AssertionResult Type(const std::wstring& text) const;

    // Moves the mouse to the centre of `control` and clicks the left
    // button. Fails if another window covers that point.
    ::testing::AssertionResult Click(HWND control) const;

    // Moves the mouse to a screen point and clicks the left button there.
    ::testing::AssertionResult ClickAt(POINT screen) const;

  private:
    // Brings the window to the front, then sends input with `send` and
    // reports what SendInput made of it.
    ::testing::AssertionResult Send(const std::function<driving::Sent()>& send) const;

    HWND window_;
};

} // namespace blackbox
