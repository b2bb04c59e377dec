// Real key strokes through SendInput; see Keyboard.h.
#include "Keyboard.h"

#include <vector>

namespace driving {

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

// Presses the modifiers in the order Shift, Control, Alt, or releases them
// in the reverse order.
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

} // namespace

Sent PressKey(WORD virtualKey, UINT modifiers) {
    std::vector<INPUT> inputs;
    AppendStroke(inputs, virtualKey, modifiers);
    return SendEvents(inputs);
}

KeyEffect PressKeyUntil(WORD virtualKey, UINT modifiers, const std::function<bool()>& done,
                        std::chrono::milliseconds timeout) {
    std::vector<INPUT> inputs;
    AppendModifiers(inputs, modifiers, false);
    inputs.push_back(Key(virtualKey, false));
    inputs.push_back(Key(virtualKey, true));
    KeyEffect effect;
    effect.sent = SendEvents(inputs);
    if (effect.sent) {
        effect.happened = WaitUntil(done, timeout);
    }
    inputs.clear();
    AppendModifiers(inputs, modifiers, true);
    if (!inputs.empty()) {
        SendEvents(inputs);
    }
    return effect;
}

Sent TypeText(std::wstring_view text) {
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
    return SendEvents(inputs);
}

} // namespace driving
