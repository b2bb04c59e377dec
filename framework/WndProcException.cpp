// Reporting an exception caught at a window procedure.
#include "WndProcException.h"

#include "AfxRes.h"
#include "WinApp.h"

#include <cstring>
#include <exception>
#include <new>

namespace {

// Longest text shown; a longer what() text is cut. Fixed buffers, so that an
// out-of-memory report needs no memory.
constexpr int kTextSize = 1024;

void Show(HWND owner, const wchar_t* text) {
    const CWinApp* app = AfxGetApp();
    ::MessageBoxW(owner, text, app != nullptr ? app->m_pszAppName : nullptr, MB_OK | MB_ICONERROR);
}

} // namespace

void AfxReportWndProcException(HWND owner) noexcept {
    wchar_t text[kTextSize] = {};
    try {
        throw;
    } catch (const std::bad_alloc&) {
        if (::LoadStringW(AfxGetInstanceHandle(), AFX_IDP_FAILED_MEMORY_ALLOC, text, kTextSize) <=
            0) {
            ::lstrcpynW(text, L"Out of memory.", kTextSize);
        }
    } catch (const std::exception& exception) {
        // UTF-8 never takes fewer bytes than UTF-16 units, so this many bytes
        // fit with the terminator that the zeroed buffer already holds.
        const char* what = exception.what();
        const auto bytes = static_cast<int>(::strnlen(what, kTextSize - 1));
        ::MultiByteToWideChar(CP_UTF8, 0, what, bytes, text, kTextSize - 1);
    } catch (...) {
        ::lstrcpynW(text, L"An unknown error occurred.", kTextSize);
    }
    Show(owner, text);
}
