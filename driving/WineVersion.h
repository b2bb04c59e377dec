// Whether a Windows program runs under Wine, and which Wine: Wine's ntdll
// exports wine_get_version, Windows' own does not. Test logs and benchmark
// reports name the platform they ran on with it.
#pragma once

#include <windows.h>

namespace driving {

// The version of Wine this process runs under, such as "8.0", or nullptr
// when it runs on Windows itself.
inline const char* WineVersion() {
    using GetVersionFn = const char*(__cdecl*)();
    const HMODULE ntdll = ::GetModuleHandleW(L"ntdll.dll");
    const auto wineVersion = reinterpret_cast<GetVersionFn>(
        reinterpret_cast<void*>(::GetProcAddress(ntdll, "wine_get_version")));
    return wineVersion != nullptr ? wineVersion() : nullptr;
}

} // namespace driving
