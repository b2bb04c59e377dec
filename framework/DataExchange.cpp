// Dialog data exchange.
#include "DataExchange.h"

HWND CDataExchange::PrepareCtrl(int nIDC) const {
    return m_pDlgWnd->GetDlgItem(nIDC);
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::u16string& value) {
    HWND control = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate) {
        // wchar_t is a UTF-16 code unit on Windows; the copy converts the
        // element type only.
        const auto length = static_cast<std::size_t>(::GetWindowTextLengthW(control));
        std::wstring text(length + 1, L'\0');
        const int copied = ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
        text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
        value.assign(text.begin(), text.end());
    } else {
        const std::wstring text(value.begin(), value.end());
        ::SetWindowTextW(control, text.c_str());
    }
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& control) {
    if (control.m_hWnd == nullptr) {
        control.Attach(pDX->PrepareCtrl(nIDC));
        pDX->m_pDlgWnd->AddBoundControl(control);
    }
}
