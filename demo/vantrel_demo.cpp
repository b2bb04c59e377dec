// The conversion demonstration that scripts/run.sh shows on a machine with no
// display of its own. It starts Vantrel.exe, waits for its dialog, types a
// command into the command box with real key strokes and presses Enter, reads
// both boxes back and prints them, checks the result box against the
// conversion library, and prints where the dialog is on the screen. Then it
// waits for a line on standard input (the script takes its screenshot
// meanwhile), closes the dialog with Escape and reports how Vantrel ended.
//
//   vantrel_demo <path of Vantrel.exe> [command]      (default: set Mode 1)
//
// Exit status 0 only if every step worked and Vantrel ended with status 0.
#include "ConsoleText.h"
#include "ConvertCommand.h"
#include "Foreground.h"
#include "Keyboard.h"
#include "ProcessDialogs.h"
#include "ThreadFocus.h"
#include "TimedMessage.h"
#include "Waiting.h"
#include "WindowText.h"
#include "resource.h"

#include <windows.h>

#include <array>
#include <chrono>
#include <cwchar>
#include <string>

namespace {

constexpr wchar_t kDefaultCommand[] = L"set Mode 1";
// The first program started in a fresh Wine prefix can take many seconds.
constexpr DWORD kStartMs = 60000;
constexpr DWORD kStepMs = 20000;
constexpr std::chrono::milliseconds kStep{kStepMs};
constexpr DWORD kScreenshotMs = 120000;

bool Fail(const std::wstring& message) {
    PrintLine(L"demo: " + message);
    return false;
}

// Vantrel.exe as a child process; ended by force if it is still running when
// the demonstration gives up, so nothing is left behind.
class Program {
  public:
    Program() = default;
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;
    ~Program() {
        if (info_.hProcess == nullptr) {
            return;
        }
        if (WaitForSingleObject(info_.hProcess, 0) == WAIT_TIMEOUT) {
            TerminateProcess(info_.hProcess, 1);
        }
        CloseHandle(info_.hThread);
        CloseHandle(info_.hProcess);
    }

    bool Start(const std::wstring& path) {
        STARTUPINFOW startup{};
        startup.cb = sizeof(startup);
        std::wstring commandLine = L"\"" + path + L"\"";
        return CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              nullptr, &startup, &info_) != 0;
    }

    HANDLE Handle() const { return info_.hProcess; }
    DWORD Id() const { return info_.dwProcessId; }
    bool HasEnded() const { return WaitForSingleObject(info_.hProcess, 0) == WAIT_OBJECT_0; }

  private:
    PROCESS_INFORMATION info_{};
};

// Waits until `done()` holds; false if `timeoutMs` passes or the program
// ends first.
template <typename Condition>
bool WaitUntil(const Program& program, DWORD timeoutMs, Condition done) {
    bool ended = false;
    const bool stopped = driving::WaitUntil(
        [&] {
            if (done()) {
                return true;
            }
            ended = program.HasEnded();
            return ended;
        },
        std::chrono::milliseconds(timeoutMs));
    return stopped && !ended;
}

std::wstring TextOf(HWND control) {
    return driving::ReadText(control, kStep).value_or(L"");
}

// Hands the foreground to the desktop and back, as a user switching to the
// program would. Wine (on a display with no window manager) paints the
// caption of a dialog that set its icon while starting as inactive until it
// is activated again, and the screenshot should show it as it is: active.
// The dialog's thread must have taken in the deactivation before the
// activation, or Wine sees nothing to do.
bool ActivateAfresh(const Program& program, HWND dialog) {
    const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
    SetForegroundWindow(GetDesktopWindow());
    WaitUntil(program, kStepMs, [&] {
        return GetForegroundWindow() != dialog && driving::ActiveWindowOf(thread) != dialog;
    });
    return driving::BringToFront(dialog, kStep);
}

// Moves the keyboard focus the way the Tab key would: the dialog itself does
// it on its own thread, and selects the edit box's text so typing replaces it.
bool FocusControl(const Program& program, HWND dialog, HWND control) {
    driving::SendWithin(dialog, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(control), TRUE, kStep);
    const DWORD thread = GetWindowThreadProcessId(dialog, nullptr);
    return WaitUntil(program, kStepMs, [&] { return driving::FocusOf(thread) == control; });
}

bool AgreesWithLibrary(const std::wstring& command, const std::wstring& result) {
    std::u16string typed(command.begin(), command.end());
    const std::u16string converted = ConvertCommand(typed);
    const std::wstring expected(converted.begin(), converted.end());
    if (result != expected) {
        return Fail(L"the result box differs from the conversion library, which gives: " +
                    expected);
    }
    PrintLine(L"demo: the result box agrees with the conversion library");
    return true;
}

void PrintScreenRect(HWND dialog) {
    RECT rect{};
    GetWindowRect(dialog, &rect);
    std::array<wchar_t, 96> line{};
    std::swprintf(line.data(), line.size(), L"dialog rect: %ldx%ld+%ld+%ld", rect.right - rect.left,
                  rect.bottom - rect.top, rect.left, rect.top);
    PrintLine(line.data());
}

// What the demonstration got to: whether Escape was pressed (so Vantrel
// should be ending) and whether every step before it worked.
struct Outcome {
    bool escapePressed = false;
    bool allWell = false;
};

bool Demonstrate(const Program& program, const std::wstring& command, Outcome& outcome) {
    const HWND dialog =
        driving::WaitForProcessDialog(program.Handle(), program.Id(), GetTickCount64() + kStartMs);
    if (dialog == nullptr) {
        DWORD status = 0;
        if (GetExitCodeProcess(program.Handle(), &status) != 0 && status != STILL_ACTIVE) {
            return Fail(L"Vantrel ended with status " + std::to_wstring(status) +
                        L" before its dialog was up");
        }
        return Fail(L"no dialog appeared within " + std::to_wstring(kStartMs / 1000) + L" s");
    }
    PrintLine(L"demo: the dialog \"" + TextOf(dialog) + L"\" is up");
    const HWND commandBox = GetDlgItem(dialog, IDC_COMMAND);
    const HWND resultBox = GetDlgItem(dialog, IDC_RESULT);
    if (commandBox == nullptr || resultBox == nullptr) {
        return Fail(L"the dialog has no command box or no result box");
    }
    if (!ActivateAfresh(program, dialog)) {
        return Fail(L"the dialog did not become the foreground window");
    }
    if (!FocusControl(program, dialog, commandBox)) {
        return Fail(L"the command box did not take the keyboard focus");
    }
    if (!driving::TypeText(command) ||
        !WaitUntil(program, kStepMs, [&] { return TextOf(commandBox) == command; })) {
        return Fail(L"the command box did not show the typed command");
    }
    const std::wstring resultBefore = TextOf(resultBox);
    if (!driving::PressKey(VK_RETURN) ||
        !WaitUntil(program, kStepMs, [&] { return TextOf(resultBox) != resultBefore; })) {
        return Fail(L"the result box did not change after Enter");
    }
    PrintLine(L"demo: typed \"" + command + L"\" and pressed Enter");
    const std::wstring result = TextOf(resultBox);
    PrintLine(L"command box: " + TextOf(commandBox));
    PrintLine(L"result box: " + result);
    const bool agrees = AgreesWithLibrary(command, result);
    PrintScreenRect(dialog);
    PrintLine(L"demo: ready for the screenshot; a line on standard input closes the dialog");
    if (!WaitForInputLine(kScreenshotMs)) {
        PrintLine(L"demo: no line on standard input; closing the dialog anyway");
    }
    if (!driving::BringToFront(dialog, kStep) || !driving::PressKey(VK_ESCAPE)) {
        return Fail(L"could not press Escape in the dialog");
    }
    PrintLine(L"demo: pressed Escape");
    outcome.escapePressed = true;
    return agrees;
}

} // namespace

int wmain(int argc, wchar_t* argv[]) {
    SetConsoleOutputCP(CP_UTF8);
    if (argc < 2 || argc > 3) {
        PrintLine(L"usage: vantrel_demo <path of Vantrel.exe> [command]");
        return 2;
    }
    const std::wstring command = argc == 3 ? argv[2] : kDefaultCommand;
    Program program;
    if (!program.Start(argv[1])) {
        Fail(L"could not start " + std::wstring(argv[1]));
        return 1;
    }
    PrintLine(L"demo: started " + std::wstring(argv[1]));
    Outcome outcome;
    outcome.allWell = Demonstrate(program, command, outcome);
    if (!outcome.escapePressed) {
        Fail(L"ending Vantrel by force");
        return 1;
    }
    if (WaitForSingleObject(program.Handle(), kStepMs) != WAIT_OBJECT_0) {
        Fail(L"Vantrel did not end");
        return 1;
    }
    DWORD status = 0;
    GetExitCodeProcess(program.Handle(), &status);
    PrintLine(L"demo: Vantrel ended with status " + std::to_wstring(status));
    return outcome.allWell && status == 0 ? 0 : 1;
}
