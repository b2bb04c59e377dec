// Finding the dialogs of another process: its visible top-level windows of
// class "#32770" (dialogs and message boxes), and waiting until its dialog
// is up and idle. The run demonstration and the start-up benchmark both wait
// with WaitForProcessDialog, so both mean the same thing by "the dialog is
// up".
#pragma once

#include <windows.h>

#include <vector>

namespace driving {

// The visible top-level windows of class "#32770" that belong to process
// `processId`, in z-order (the topmost first).
std::vector<HWND> DialogsOfProcess(DWORD processId);

// Waits, until `deadline` (a GetTickCount64 value), for process `process`
// (id `processId`) to be up and idle: WaitForInputIdle has returned, the
// process has a visible dialog, and that dialog's thread has answered a
// WM_NULL sent to it. Returns the dialog, or nullptr if the deadline passed
// or the process ended first.
HWND WaitForProcessDialog(HANDLE process, DWORD processId, ULONGLONG deadline);

} // namespace driving
