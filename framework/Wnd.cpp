// Message routing of windows and the data-exchange driver.
#include "Wnd.h"

#include "DataExchange.h"
#include "WinApp.h"

constinit const afx::MessageMap CWnd::messageMap{&CCmdTarget::messageMap, {}};

HWND CWnd::Detach() {
    HWND hWnd = m_hWnd;
    m_hWnd = nullptr;
    return hWnd;
}

void CWnd::DetachAll() {
    for (CWnd* control : m_boundControls) {
        control->Detach();
    }
    m_boundControls.clear();
    Detach();
}

BOOL CWnd::UpdateData(BOOL bSaveAndValidate) {
    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

void CWnd::DoDataExchange(CDataExchange*) {}

afx::Handled CWnd::WindowProc(UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COMMAND) {
        return OnCmdMsg(LOWORD(wParam), lParam == 0 ? 0 : HIWORD(wParam), lParam);
    }
    return Dispatch({message, wParam, lParam});
}

afx::Handled CWnd::OnCmdMsg(UINT id, UINT code, LPARAM lParam) {
    if (afx::Handled handled = CCmdTarget::OnCmdMsg(id, code, lParam)) {
        return handled;
    }
    // Commands no window takes, such as help, belong to the application.
    if (CWinApp* app = AfxGetApp()) {
        return app->OnCmdMsg(id, code, lParam);
    }
    return std::nullopt;
}
