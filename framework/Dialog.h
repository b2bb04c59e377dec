// CDialog: a dialog made from a dialog template resource and run modally.
//
// The dialog procedure hands every message to the object's message maps.
// What a handler returns goes back to the platform by its rule: the few
// messages that return their result directly (WM_INITDIALOG,
// WM_QUERYDRAGICON, WM_CTLCOLOR*, WM_COMPAREITEM, WM_VKEYTOITEM,
// WM_CHARTOITEM) return it; for all others the result goes into
// DWLP_MSGRESULT and the procedure returns TRUE. A message no handler takes
// returns FALSE, which leaves it to the platform's default dialog processing.
//
// An exception thrown by a handler ends at the dialog procedure: it is
// reported in a message box (see WndProcException.h) and the dialog goes on.
//
// Defaults, entries of CDialog's own table that a derived table can take
// over: WM_INITDIALOG runs the virtual OnInitDialog, which fills the controls
// from the fields; IDOK runs OnOK (read the controls, end with IDOK); IDCANCEL,
// sent by a cancel button, Escape and the close box, runs OnCancel (end with
// IDCANCEL); F1 (WM_HELP) raises the help command ID_HELP, which the command
// route takes to the application object.
#pragma once

#include "Wnd.h"

class CDialog : public CWnd {
  public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);
    ~CDialog() override = default;

    static const afx::MessageMap messageMap;
    const afx::MessageMap* GetMessageMap() const override { return &messageMap; }

    // Runs the dialog until it ends; returns the value it ended with, or -1
    // when it could not be created.
    virtual INT_PTR DoModal();

    void EndDialog(int nResult) const { ::EndDialog(m_hWnd, nResult); }

  protected:
    // Called when the dialog and its controls exist, before it is shown.
    // Fills the controls from the fields. Returning TRUE lets the platform
    // give the focus to the first tab-stop control.
    virtual BOOL OnInitDialog();
    virtual void OnOK();
    virtual void OnCancel();
    BOOL OnHelpInfo(HELPINFO* pHelpInfo);
    LRESULT OnNcDestroy(WPARAM, LPARAM);

  private:
    static const afx::MessageMapEntry messageEntries[];
    static INT_PTR CALLBACK DialogProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

    UINT m_nIDTemplate;
    CWnd* m_pParentWnd;
};
