// A person at the keyboard and mouse: real input through SendInput, sent
// only while the window the person works in is the foreground window, so the
// keys reach the program under test and nothing else.
#pragma once

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
    // deadline passes), then releases them. Under Wine on a loaded machine
    // a modifier released in the same batch as its key was seen lost: the
    // program's view of the modifier keys can run ahead of the keys it has
    // handled. Held until the effect shows, the modifier cannot be lost.
    ::testing::AssertionResult PressUntil(WORD virtualKey, UINT modifiers,
                                          const std::function<bool()>& done) const;

    // Types text: characters that the keyboard layout types without a
    // modifier as their keys, every other UTF-16 unit (capitals, other
    // shifted characters, characters beyond the layout) as a Unicode key
    // event, so a character outside the Basic Multilingual Plane is two
    // events. Shifted characters go as Unicode events for the reason given
    // at PressUntil: a long run of them in one batch lost a Shift.
    ::testing::AssertionResult Type(const std::wstring& text) const;

    // Moves the mouse to the centre of `control` and clicks the left
    // button. Fails if another window covers that point.
    ::testing::AssertionResult Click(HWND control) const;

    // Moves the mouse to a screen point and clicks the left button there.
    ::testing::AssertionResult ClickAt(POINT screen) const;

  private:
    ::testing::AssertionResult Send(INPUT* inputs, UINT count) const;

    HWND window_;
};

} // namespace blackbox
