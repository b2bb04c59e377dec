// Sending a message with a time limit; see TimedMessage.h.
#include "TimedMessage.h"

namespace driving {

std::optional<DWORD_PTR> SendWithin(HWND window, UINT message, WPARAM wParam, LPARAM lParam,
                                    std::chrono::milliseconds timeout) {
    DWORD_PTR answer = 0;
    if (SendMessageTimeoutW(window, message, wParam, lParam, SMTO_ABORTIFHUNG | SMTO_BLOCK,
                            static_cast<UINT>(timeout.count()), &answer) == 0) {
        return std::nullopt;
    }
    return answer;
}

} // namespace driving
