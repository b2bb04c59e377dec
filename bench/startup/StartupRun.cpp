// One measured start of a dialog program.
#include "StartupRun.h"

#include "ProcessDialogs.h"

#include <psapi.h>

namespace {

constexpr DWORD kStartMs = 60000;
constexpr DWORD kEndMs = 20000;

double MillisecondsBetween(const LARGE_INTEGER& start, const LARGE_INTEGER& end) {
    LARGE_INTEGER frequency{};
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(end.QuadPart - start.QuadPart) * 1000.0 /
           static_cast<double>(frequency.QuadPart);
}

// The counters as another process sees them, through a handle with only the
// rights GetProcessMemoryInfo asks for.
bool ReadMemory(DWORD processId, StartupSample& sample) {
    const HANDLE query = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (query == nullptr) {
        return false;
    }
    PROCESS_MEMORY_COUNTERS counters{};
    counters.cb = sizeof(counters);
    const bool read = GetProcessMemoryInfo(query, &counters, sizeof(counters)) != 0;
    CloseHandle(query);
    sample.peakWorkingSet = counters.PeakWorkingSetSize;
    sample.pagefileUsage = counters.PagefileUsage;
    return read;
}

std::optional<StartupSample> Measure(const PROCESS_INFORMATION& process, const LARGE_INTEGER& start,
                                     std::wstring& error) {
    const HWND dialog = driving::WaitForProcessDialog(process.hProcess, process.dwProcessId,
                                                      GetTickCount64() + kStartMs);
    LARGE_INTEGER up{};
    QueryPerformanceCounter(&up);
    if (dialog == nullptr) {
        error = L"no dialog came up";
        return std::nullopt;
    }
    StartupSample sample;
    sample.startupMs = MillisecondsBetween(start, up);
    if (!ReadMemory(process.dwProcessId, sample)) {
        error = L"GetProcessMemoryInfo failed";
        return std::nullopt;
    }
    PostMessageW(dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    if (WaitForSingleObject(process.hProcess, kEndMs) != WAIT_OBJECT_0) {
        error = L"the program did not end after IDCANCEL";
        return std::nullopt;
    }
    DWORD status = 1;
    GetExitCodeProcess(process.hProcess, &status);
    if (status != 0) {
        error = L"the program ended with status " + std::to_wstring(status);
        return std::nullopt;
    }
    return sample;
}

} // namespace

std::optional<StartupSample> MeasureStartup(const std::wstring& path, std::wstring& error) {
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    std::wstring commandLine = L"\"" + path + L"\"";
    PROCESS_INFORMATION process{};
    LARGE_INTEGER start{};
    QueryPerformanceCounter(&start);
    if (CreateProcessW(path.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                       nullptr, &startup, &process) == 0) {
        error = L"CreateProcessW failed with error " + std::to_wstring(GetLastError());
        return std::nullopt;
    }
    std::optional<StartupSample> sample = Measure(process, start, error);
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_TIMEOUT) {
        TerminateProcess(process.hProcess, 1);
    }
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return sample;
}
