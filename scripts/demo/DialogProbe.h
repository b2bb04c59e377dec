// Finding another process's dialog and waiting until it is up and idle.
// Shared by the run demonstration (vantrel_demo) and the start-up benchmark,
// so both mean the same thing by "the dialog is up".
#pragma once

#include <windows.h>

// The first visible top-level dialog window (window class "#32770") that
// belongs to process `processId`, or nullptr if it has none.
HWND FindProcessDialog(DWORD processId);

// Waits, until `deadline` (a GetTickCount64 value), for process `process`
// (id `processId`) to be up and idle: WaitForInputIdle has returned, the
// process has a visible dialog, and that dialog's thread has answered a
// WM_NULL sent to it. Returns the dialog, or nullptr if the deadline passed
// or the process ended first.
HWND WaitForProcessDialog(HANDLE process, DWORD processId, ULONGLONG deadline);

// Milliseconds left until `deadline` (a GetTickCount64 value), 0 once it
// has passed.
DWORD MillisecondsLeft(ULONGLONG deadline);
