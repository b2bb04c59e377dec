// Reporting an exception that a message handler threw, at the window
// procedure that caught it. Nothing may unwind out of a window procedure: the
// platform's own frames lie beyond it.
#pragma once

#include <windows.h>

// Call only from inside a catch block: shows the exception being handled in
// a message box owned by `owner` and captioned with the application's name,
// and returns when the user has closed it.
//   - std::bad_alloc: the text of string resource AFX_IDP_FAILED_MEMORY_ALLOC
//     (or "Out of memory." when the program has none). Showing it allocates
//     nothing from the heap.
//   - any other std::exception: its what() text, read as UTF-8.
//   - anything else: "An unknown error occurred."
// Never throws: when not even the box can be shown, the exception goes
// unreported.
void AfxReportWndProcException(HWND owner) noexcept;
