// The program under test, Vantrel.exe, started as its own process the way a
// person starts it: no arguments, in a given working folder.
#pragma once

#include <windows.h>

#include <gtest/gtest.h>

#include <string>

namespace blackbox {

// The path of Vantrel.exe for CreateProcessW. The build names the file in
// VANTREL_PROGRAM_PATH; a Unix path there (the cross build's) is turned into
// the Wine path of the same file (Wine shows the Unix root as drive Z:). The
// environment variable VANTREL_PROGRAM, if set, names another file instead.
std::wstring ProgramPath();

class ProgramUnderTest {
  public:
    ProgramUnderTest() = default;
    ProgramUnderTest(const ProgramUnderTest&) = delete;
    ProgramUnderTest& operator=(const ProgramUnderTest&) = delete;
    // Ends the program if it is still running, so one failed test does not
    // leave a window in front of the next.
    ~ProgramUnderTest();

    // Starts the program and waits for its dialog: the first visible
    // top-level window of class "#32770" that the process shows.
    ::testing::AssertionResult Start(const std::wstring& path, const std::wstring& workingFolder);

    HWND Dialog() const { return dialog_; }
    DWORD ProcessId() const { return info_.dwProcessId; }
    // The thread that runs the dialog, whose focus the tests follow.
    DWORD DialogThreadId() const { return dialogThread_; }

    bool IsRunning() const;

    // Waits for the program to end by itself and checks its exit status.
    ::testing::AssertionResult EndsWithStatus(DWORD expected) const;

    // Ends the program if it still runs (TerminateProcess) and waits for it.
    void Terminate();

  private:
    PROCESS_INFORMATION info_{};
    HWND dialog_ = nullptr;
    DWORD dialogThread_ = 0;
};

} // namespace blackbox
