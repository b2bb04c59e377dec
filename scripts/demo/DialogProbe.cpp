// Finding another process's dialog and waiting until it is up and idle.
#include "DialogProbe.h"

#include <array>

namespace {

struct DialogSearch {
    DWORD processId;
    HWND found;
};

BOOL CALLBACK CheckWindow(HWND window, LPARAM lParam) {
    auto* search = reinterpret_cast<DialogSearch*>(lParam);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner != search->processId || !IsWindowVisible(window)) {
        return TRUE;
    }
    std::array<wchar_t, 16> className{};
    if (GetClassNameW(window, className.data(), static_cast<int>(className.size())) == 0 ||
        lstrcmpW(className.data(), L"#32770") != 0) {
        return TRUE;
    }
    search->found = window;
    return FALSE;
}

bool ProcessEnded(HANDLE process, DWORD waitMs) {
    return WaitForSingleObject(process, waitMs) == WAIT_OBJECT_0;
}

} // namespace

DWORD MillisecondsLeft(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

HWND FindProcessDialog(DWORD processId) {
    DialogSearch search{processId, nullptr};
    EnumWindows(CheckWindow, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForProcessDialog(HANDLE process, DWORD processId, ULONGLONG deadline) {
    // WAIT_FAILED (for a process with no message queue yet) is not an
    // answer either way; the window checks below decide.
    WaitForInputIdle(process, MillisecondsLeft(deadline));
    for (;;) {
        if (const HWND dialog = FindProcessDialog(processId); dialog != nullptr) {
            DWORD_PTR answer = 0;
            if (SendMessageTimeoutW(dialog, WM_NULL, 0, 0, SMTO_ABORTIFHUNG,
                                    MillisecondsLeft(deadline), &answer) != 0) {
                return dialog;
            }
        }
        // One millisecond between looks, cut short if the process ends.
        if (MillisecondsLeft(deadline) == 0 || ProcessEnded(process, 1)) {
            return nullptr;
        }
    }
}
