// Real key strokes through SendInput. They go to the keyboard focus of the
// foreground window, so bring the window to the foreground first
// (Foreground.h). Modifiers are given as the hot-key flags MOD_SHIFT,
// MOD_CONTROL and MOD_ALT.
#pragma once

#include "InputEvents.h"
#include "Waiting.h"

#include <windows.h>

#include <chrono>
#include <functional>
#include <string_view>

namespace driving {

// Presses and releases one key, with the modifiers held around it, all in
// one batch.
Sent PressKey(WORD virtualKey, UINT modifiers = 0);

// What PressKeyUntil did: what SendInput made of the key stroke, and
// whether the key had its effect within the timeout.
struct KeyEffect {
    Sent sent;
    bool happened = false;
};

// Presses and releases one key with the modifiers held, and keeps the
// modifiers held until `done` says the key has had its effect (or `timeout`
// passes), then releases them. Under Wine on a loaded machine a modifier
// released in the same batch as its key was seen lost: the program's view
// of the modifier keys can run ahead of the keys it has handled. Held until
// the effect shows, the modifier cannot be lost. The modifiers are released
// even when the window has lost the foreground meanwhile, so that none stays
// down for whatever comes next.
KeyEffect PressKeyUntil(WORD virtualKey, UINT modifiers, const std::function<bool()>& done,
                        std::chrono::milliseconds timeout = kDeadline);

// Types text in one batch: characters that the keyboard layout types without
// a modifier as their keys, every other UTF-16 unit (capitals, other shifted
// characters, characters beyond the layout) as a Unicode key event, so a
// character outside the Basic Multilingual Plane is two events. Shifted
// characters go as Unicode events for the reason given at PressKeyUntil: a
// long run of them in one batch lost a Shift.
Sent TypeText(std::wstring_view text);

} // namespace driving
