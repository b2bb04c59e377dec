// Real key presses for the run demonstration, sent with SendInput to
// whichever window has the keyboard focus of the foreground window.
#pragma once

#include <windows.h>

#include <string_view>

// Types `text` as Unicode key strokes (down and up for every code unit).
// True if the system took every stroke.
bool TypeText(std::wstring_view text);

// Presses and releases the key `virtualKey`. True if the system took both.
bool PressKey(WORD virtualKey);
