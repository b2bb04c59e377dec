// The application object and its run.
#include "WinApp.h"

#include "AfxRes.h"
#include "Wnd.h"

namespace {

CWinApp* theOneApp = nullptr;

std::wstring ExecutableBaseName() {
    std::wstring path(MAX_PATH, L'\0');
    for (;;) {
        const DWORD n = ::GetModuleFileNameW(nullptr, path.data(), static_cast<DWORD>(path.size()));
        if (n < path.size()) {
            path.resize(n);
            break;
        }
        path.resize(path.size() * 2);
    }
    const std::size_t slash = path.find_last_of(L"\\/");
    std::wstring name = slash == std::wstring::npos ? path : path.substr(slash + 1);
    const std::size_t dot = name.rfind(L'.');
    if (dot != std::wstring::npos && dot > 0) {
        name.resize(dot);
    }
    return name;
}

} // namespace

constinit const afx::MessageMap CWinApp::messageMap{&CCmdTarget::messageMap, {}};

CWinApp* AfxGetApp() {
    return theOneApp;
}

CWinApp::CWinApp() : m_strAppName(ExecutableBaseName()), m_pszAppName(m_strAppName.c_str()) {
    theOneApp = this;
}

CWinApp::~CWinApp() {
    if (theOneApp == this) {
        theOneApp = nullptr;
    }
}

BOOL CWinApp::InitInstance() {
    return TRUE;
}

int CWinApp::Run() {
    MSG msg;
    while (::GetMessageW(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageW(&msg);
    }
    return ExitInstance();
}

int CWinApp::ExitInstance() {
    return 0;
}

void CWinApp::SetRegistryKey(LPCWSTR) {}

void CWinApp::OnHelp() {
    if (m_helpShown) {
        return;
    }
    const wchar_t* text = nullptr;
    // With a length of 0, LoadStringW gives a pointer into the resource
    // itself, which is not NUL-terminated.
    const int length = ::LoadStringW(m_hInstance, ID_HELP, reinterpret_cast<LPWSTR>(&text), 0);
    const std::wstring message = length > 0 ? std::wstring(text, static_cast<std::size_t>(length))
                                            : L"No help is available.";
    HWND owner = m_pMainWnd != nullptr ? m_pMainWnd->GetSafeHwnd() : nullptr;
    m_helpShown = true;
    ::MessageBoxW(owner, message.c_str(), m_pszAppName, MB_OK | MB_ICONINFORMATION);
    m_helpShown = false;
}

int AfxWinMain(HINSTANCE hInstance) {
    CWinApp* app = AfxGetApp();
    if (app == nullptr) {
        return -1;
    }
    app->m_hInstance = hInstance;
    if (!app->InitInstance()) {
        return app->ExitInstance();
    }
    return app->Run();
}
