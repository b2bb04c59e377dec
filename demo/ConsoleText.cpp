// The run demonstration's standard input and output.
#include "ConsoleText.h"

#include "Utf8.h"

#include <string>

void PrintLine(std::wstring_view text) {
    const std::string bytes = ToUtf8(text) + '\n';
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

namespace {

// Reads standard input until a line feed or the end. Runs on its own thread
// because a pipe read cannot be given a deadline.
DWORD WINAPI ReadOneLine(void*) {
    const HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    char byte = 0;
    DWORD read = 0;
    while (ReadFile(input, &byte, 1, &read, nullptr) != 0 && read == 1 && byte != '\n') {
    }
    return 0;
}

} // namespace

bool WaitForInputLine(DWORD timeoutMs) {
    const HANDLE reader = CreateThread(nullptr, 0, ReadOneLine, nullptr, 0, nullptr);
    if (reader == nullptr) {
        return false;
    }
    const bool arrived = WaitForSingleObject(reader, timeoutMs) == WAIT_OBJECT_0;
    // A reader still blocked is left behind; it ends with the process.
    CloseHandle(reader);
    return arrived;
}
