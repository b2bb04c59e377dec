// Real key presses for the run demonstration, sent with SendInput.
#include "Keyboard.h"

#include <vector>

namespace {

INPUT KeyStroke(WORD virtualKey, WORD scanCode, DWORD flags) {
    INPUT input{};
    input.type = INPUT_KEYBOARD;
    input.ki.wVk = virtualKey;
    input.ki.wScan = scanCode;
    input.ki.dwFlags = flags;
    return input;
}

bool Send(std::vector<INPUT>& inputs) {
    const auto count = static_cast<UINT>(inputs.size());
    return SendInput(count, inputs.data(), sizeof(INPUT)) == count;
}

} // namespace

bool TypeText(std::wstring_view text) {
    std::vector<INPUT> inputs;
    inputs.reserve(text.size() * 2);
    for (const wchar_t unit : text) {
        inputs.push_back(KeyStroke(0, unit, KEYEVENTF_UNICODE));
        inputs.push_back(KeyStroke(0, unit, KEYEVENTF_UNICODE | KEYEVENTF_KEYUP));
    }
    return Send(inputs);
}

bool PressKey(WORD virtualKey) {
    const auto scanCode = static_cast<WORD>(MapVirtualKeyW(virtualKey, MAPVK_VK_TO_VSC));
    std::vector<INPUT> inputs{KeyStroke(virtualKey, scanCode, 0),
                              KeyStroke(virtualKey, scanCode, KEYEVENTF_KEYUP)};
    return Send(inputs);
}
