// The run demonstration's standard input and output: lines of UTF-8 text,
// so the calling script can read what the dialog's boxes show whatever
// characters they hold.
#pragma once

#include <windows.h>

#include <string_view>

// Writes `text` and a line feed to standard output as UTF-8, at once.
void PrintLine(std::wstring_view text);

// Waits until a line (or the end) arrives on standard input, or until
// `timeoutMs` milliseconds have passed. True if a line or the end arrived.
bool WaitForInputLine(DWORD timeoutMs);
