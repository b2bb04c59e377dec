// Finding another process's dialogs; see ProcessDialogs.h.
#include "ProcessDialogs.h"

#include "TimedMessage.h"

#include <array>
#include <chrono>

namespace driving {

namespace {

struct DialogSearch {
    DWORD processId;
    std::vector<HWND> found;
};

bool IsDialogClass(HWND window) {
    std::array<wchar_t, 16> className{};
    return GetClassNameW(window, className.data(), static_cast<int>(className.size())) != 0 &&
           lstrcmpW(className.data(), L"#32770") == 0;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM data) {
    auto& search = *reinterpret_cast<DialogSearch*>(data);
    DWORD owner = 0;
    GetWindowThreadProcessId(window, &owner);
    if (owner == search.processId && IsWindowVisible(window) && IsDialogClass(window)) {
        search.found.push_back(window);
    }
    return TRUE;
}

// Milliseconds left until `deadline` (a GetTickCount64 value), 0 once it has
// passed.
DWORD MillisecondsLeft(ULONGLONG deadline) {
    const ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

bool ProcessEnded(HANDLE process, DWORD waitMs) {
    return WaitForSingleObject(process, waitMs) == WAIT_OBJECT_0;
}

} // namespace

std::vector<HWND> DialogsOfProcess(DWORD processId) {
    DialogSearch search{processId, {}};
    EnumWindows(CollectDialog, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForProcessDialog(HANDLE process, DWORD processId, ULONGLONG deadline) {
    // WAIT_FAILED (for a process with no message queue yet) is not an
    // answer either way; the window checks below decide.
    WaitForInputIdle(process, MillisecondsLeft(deadline));
    for (;;) {
        const std::vector<HWND> dialogs = DialogsOfProcess(processId);
        if (!dialogs.empty() && SendWithin(dialogs.front(), WM_NULL, 0, 0,
                                           std::chrono::milliseconds(MillisecondsLeft(deadline)))) {
            return dialogs.front();
        }
        // One millisecond between looks, cut short if the process ends.
        if (MillisecondsLeft(deadline) == 0 || ProcessEnded(process, 1)) {
            return nullptr;
        }
    }
}

} // namespace driving
