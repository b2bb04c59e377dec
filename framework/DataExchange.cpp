// Dialog data exchange.
#include "DataExchange.h"

#include <new>

namespace {

// The control's whole text. wchar_t is a UTF-16 code unit on Windows; the
// copy converts the element type only.
std::u16string ControlText(HWND control) {
    const auto length = static_cast<std::size_t>(::GetWindowTextLengthW(control));
    std::wstring text(length + 1, L'\0');
    const int copied = ::GetWindowTextW(control, text.data(), static_cast<int>(text.size()));
    text.resize(static_cast<std::size_t>(copied > 0 ? copied : 0));
    return {text.begin(), text.end()};
}

} // namespace

HWND CDataExchange::PrepareCtrl(int nIDC) const {
    return m_pDlgWnd->GetDlgItem(nIDC);
}

void DDX_Text(CDataExchange* pDX, int nIDC, std::u16string& value) {
    HWND control = pDX->PrepareCtrl(nIDC);
    if (pDX->m_bSaveAndValidate) {
        value = ControlText(control);
        return;
    }
    // The length is cheap to ask; the text is read only when it could be
    // equal.
    if (static_cast<std::size_t>(::GetWindowTextLengthW(control)) == value.size() &&
        ControlText(control) == value) {
        return;
    }
    const std::wstring text(value.begin(), value.end());
    // An edit control refuses a text it has no room for.
    if (!::SetWindowTextW(control, text.c_str())) {
        throw std::bad_alloc();
    }
}

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& control) {
    if (control.m_hWnd == nullptr) {
        control.Attach(pDX->PrepareCtrl(nIDC));
        pDX->m_pDlgWnd->AddBoundControl(control);
    }
}
