// Dialog data exchange: copying between a window's controls and the fields
// of its object, in the direction the exchange object gives.
#pragma once

#include "Wnd.h"

#include <string>

class CDataExchange {
  public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate)
        : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    // TRUE: controls to fields. FALSE: fields to controls.
    BOOL m_bSaveAndValidate;
    CWnd* m_pDlgWnd;

    // The control `nIDC` of the window being exchanged with.
    HWND PrepareCtrl(int nIDC) const;
};

// The text of control `nIDC` and `value`, as UTF-16 code units. Reading
// takes the control's whole text, however long. Writing replaces it, but,
// as the class library's own text setter does, leaves a control that
// already holds exactly `value` alone: setting a text makes a word-wrapping
// edit control lay the whole text out again, which takes long for a long
// text, and resets the selection. Throws std::bad_alloc when the control
// has no room for the text.
void DDX_Text(CDataExchange* pDX, int nIDC, std::u16string& value);

// Binds `control` to control `nIDC` on the first exchange, in either
// direction; later exchanges leave the binding as it is.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& control);
