// One measured start of a dialog program: from just before CreateProcessW
// until its dialog is up and idle, then its peak working set, then a clean
// close through IDCANCEL.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

struct StartupSample {
    double startupMs = 0;      // CreateProcessW to dialog up and idle
    SIZE_T peakWorkingSet = 0; // bytes, read just before closing the dialog
    SIZE_T pagefileUsage = 0;  // bytes, from the same query (under Wine: the
                               // resident anonymous memory, RssAnon)
};

// Starts the program at `path`, waits for its dialog to be up and idle as
// driving::WaitForProcessDialog defines it, reads its memory counters, closes the dialog with
// WM_COMMAND IDCANCEL and waits for the program to end with status 0. On any failure returns
// nothing and says why in `error`.
std::optional<StartupSample> MeasureStartup(const std::wstring& path, std::wstring& error);
