// CEdit: an edit control object, bound to a control of a dialog.
#pragma once

#include "Wnd.h"

class CEdit : public CWnd {
  public:
    // Selects units [start, end) of the text; end -1 selects to the end.
    void SetSel(int start, int end) const {
        SendMessage(EM_SETSEL, static_cast<WPARAM>(start), static_cast<LPARAM>(end));
    }
    // The current selection as [start, end).
    void GetSel(int& start, int& end) const {
        DWORD s = 0;
        DWORD e = 0;
        SendMessage(EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
        start = static_cast<int>(s);
        end = static_cast<int>(e);
    }
};
