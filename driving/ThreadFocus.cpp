// A thread's focus and active window; see ThreadFocus.h.
#include "ThreadFocus.h"

namespace driving {

namespace {

GUITHREADINFO StateOf(DWORD threadId) {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(threadId, &info)) {
        return GUITHREADINFO{};
    }
    return info;
}

} // namespace

HWND FocusOf(DWORD threadId) {
    return StateOf(threadId).hwndFocus;
}

HWND ActiveWindowOf(DWORD threadId) {
    return StateOf(threadId).hwndActive;
}

} // namespace driving
