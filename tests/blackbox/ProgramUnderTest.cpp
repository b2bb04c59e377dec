// Starting and ending the program under test; see ProgramUnderTest.h.
#include "ProgramUnderTest.h"

#include "ProcessDialogs.h"
#include "TextForPeople.h"
#include "Waiting.h"
#include "WindowReading.h"

#include <vector>

#ifndef VANTREL_PROGRAM_PATH
#error "The build names the program under test in VANTREL_PROGRAM_PATH"
#endif

namespace blackbox {

using driving::kDeadline;
using driving::Printable;
using driving::WaitUntil;

namespace {

// The exit status that Terminate gives, to tell it apart in messages.
constexpr UINT kTerminated = 0xDEAD;

} // namespace

std::wstring ProgramPath() {
    wchar_t fromEnvironment[MAX_PATH * 2] = {};
    if (GetEnvironmentVariableW(L"VANTREL_PROGRAM", fromEnvironment, MAX_PATH * 2) > 0) {
        return fromEnvironment;
    }
    const char* built = VANTREL_PROGRAM_PATH;
    std::wstring path;
    if (built[0] == '/') {
        path = L"Z:";
    }
    for (const char* c = built; *c != '\0'; ++c) {
        path += *c == '/' ? L'\\' : static_cast<wchar_t>(static_cast<unsigned char>(*c));
    }
    return path;
}

ProgramUnderTest::~ProgramUnderTest() {
    Terminate();
    if (info_.hProcess != nullptr) {
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }
}

::testing::AssertionResult ProgramUnderTest::Start(const std::wstring& path,
                                                   const std::wstring& workingFolder) {
    if (GetFileAttributesW(path.c_str()) == INVALID_FILE_ATTRIBUTES) {
        return ::testing::AssertionFailure()
               << "the program " << Printable(path) << " does not exist; build the Vantrel target";
    }
    // The command line is the program's name alone: it takes no arguments.
    std::wstring commandLine = L"\"" + path + L"\"";
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    if (!CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                        workingFolder.c_str(), &startup, &info_)) {
        return ::testing::AssertionFailure()
               << "CreateProcessW(" << Printable(path) << ") failed with error " << GetLastError();
    }
    bool exited = false;
    const bool shown = WaitUntil([&] {
        if (!IsRunning()) {
            exited = true;
            return true;
        }
        for (HWND window : driving::DialogsOfProcess(info_.dwProcessId)) {
            if (GetWindow(window, GW_OWNER) == nullptr) {
                dialog_ = window;
                return true;
            }
        }
        return false;
    });
    if (exited) {
        DWORD status = 0;
        GetExitCodeProcess(info_.hProcess, &status);
        return ::testing::AssertionFailure()
               << "the program ended with status " << status << " before showing a dialog";
    }
    if (!shown) {
        // Under Wine a window needs an X display; without one none appears.
        const bool hasDisplay = GetEnvironmentVariableW(L"DISPLAY", nullptr, 0) > 0;
        return ::testing::AssertionFailure()
               << "the program showed no dialog (a visible window of class #32770) within "
               << kDeadline.count() << " ms"
               << (hasDisplay ? "" : "; DISPLAY is not set (under Wine, start Xvfb first)");
    }
    dialogThread_ = GetWindowThreadProcessId(dialog_, nullptr);
    return ::testing::AssertionSuccess();
}

bool ProgramUnderTest::IsRunning() const {
    return info_.hProcess != nullptr && WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT;
}

::testing::AssertionResult ProgramUnderTest::EndsWithStatus(DWORD expected) const {
    if (!WaitUntil([&] { return !IsRunning(); })) {
        return ::testing::AssertionFailure()
               << "the program is still running " << kDeadline.count() << " ms later";
    }
    DWORD status = 0;
    GetExitCodeProcess(info_.hProcess, &status);
    if (status != expected) {
        return ::testing::AssertionFailure()
               << "the program ended with status " << status << "; expected " << expected
               << (status == kTerminated ? " (it was ended by the test)" : "");
    }
    return ::testing::AssertionSuccess();
}

void ProgramUnderTest::Terminate() {
    if (IsRunning()) {
        TerminateProcess(info_.hProcess, kTerminated);
        WaitForSingleObject(info_.hProcess, static_cast<DWORD>(kDeadline.count()));
    }
}

} // namespace blackbox
