// The keyboard focus and the active window of a thread, as the system keeps
// them for that thread (GetGUIThreadInfo). They work across processes and
// change only once the thread has handled the change, so a driver that
// waits on them knows the program has taken it in.
#pragma once

#include <windows.h>

namespace driving {

// The window that has the keyboard focus in thread `threadId`, or null. As
// with GetGUIThreadInfo, thread 0 means the foreground thread.
HWND FocusOf(DWORD threadId);

// The active window of thread `threadId`, or null; thread 0 means the
// foreground thread.
HWND ActiveWindowOf(DWORD threadId);

} // namespace driving
