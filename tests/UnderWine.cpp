// Linked into the Windows test executables: reports at start whether the
// tests are running under Wine, and which version, so a test log shows where
// the Windows build was proven.
#include <windows.h>

#include <cstdio>

namespace {

struct ReportPlatform {
    ReportPlatform() {
        using GetVersionFn = const char*(__cdecl*)();
        const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
        const auto wineVersion = reinterpret_cast<GetVersionFn>(
            reinterpret_cast<void*>(GetProcAddress(ntdll, "wine_get_version")));
        if (wineVersion != nullptr) {
            std::printf("Running under Wine %s\n", wineVersion());
        } else {
            std::printf("Running on Windows (not Wine)\n");
        }
    }
} reportPlatform;

} // namespace
