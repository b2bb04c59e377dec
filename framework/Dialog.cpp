// Modal dialogs and the dialog procedure that feeds the message maps.
#include "Dialog.h"

#include "AfxFunctions.h"
#include "AfxRes.h"
#include "WndProcException.h"

namespace {

// Messages whose dialog-procedure return value is their result.
bool ReturnsResultDirectly(UINT message) {
    switch (message) {
    case WM_INITDIALOG:
    case WM_QUERYDRAGICON:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
        return true;
    default:
        return false;
    }
}

} // namespace

constinit const afx::MessageMapEntry CDialog::messageEntries[] = {
    afx::OnWmInitDialog<&CDialog::OnInitDialog>(),
    afx::OnCommand<IDOK, &CDialog::OnOK>(),
    afx::OnCommand<IDCANCEL, &CDialog::OnCancel>(),
    afx::OnWmHelpInfo<&CDialog::OnHelpInfo>(),
    afx::OnMessage<WM_NCDESTROY, &CDialog::OnNcDestroy>(),
};
constinit const afx::MessageMap CDialog::messageMap{&CWnd::messageMap, CDialog::messageEntries};

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd)
    : m_nIDTemplate(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal() {
    LPCWSTR name = MAKEINTRESOURCEW(m_nIDTemplate);
    HINSTANCE module = AfxFindResourceHandle(name, RT_DIALOG);
    HWND parent = m_pParentWnd != nullptr ? m_pParentWnd->GetSafeHwnd() : nullptr;
    return ::DialogBoxParamW(module, name, parent, &CDialog::DialogProc,
                             reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::OnInitDialog() {
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::OnOK() {
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel() {
    EndDialog(IDCANCEL);
}

BOOL CDialog::OnHelpInfo(HELPINFO*) {
    SendMessage(WM_COMMAND, ID_HELP);
    return TRUE;
}

LRESULT CDialog::OnNcDestroy(WPARAM, LPARAM) {
    DetachAll();
    Default(); // the platform still has its own clean-up to do
    return 0;
}

INT_PTR CALLBACK CDialog::DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam) {
    CDialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<CDialog*>(lParam);
        self->m_hWnd = hWnd;
        ::SetWindowLongPtrW(hWnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<CDialog*>(::GetWindowLongPtrW(hWnd, DWLP_USER));
    }
    // Messages that come before WM_INITDIALOG (WM_SETFONT among them) and
    // after the object let go of the window get default processing.
    if (self == nullptr || self->m_hWnd != hWnd) {
        return FALSE;
    }

    // No exception may unwind into the platform's code, which this build
    // cannot unwind through: it would end the process. A handler's exception
    // ends here, is reported, and the message gets default processing.
    afx::Handled result;
    try {
        result = self->WindowProc(message, wParam, lParam);
    } catch (...) {
        AfxReportWndProcException(hWnd);
        return FALSE;
    }
    if (!result) {
        return FALSE;
    }
    if (ReturnsResultDirectly(message)) {
        return static_cast<INT_PTR>(*result);
    }
    ::SetWindowLongPtrW(hWnd, DWLP_MSGRESULT, *result);
    return TRUE;
}
