// CWnd: a window object that wraps a window handle and routes the window's
// messages through the message maps of its class.
#pragma once

#include "CmdTarget.h"

#include <vector>

class CDataExchange;

class CWnd : public CCmdTarget {
  public:
    CWnd() = default;
    ~CWnd() override = default;

    static const afx::MessageMap messageMap;
    const afx::MessageMap* GetMessageMap() const override { return &messageMap; }

    HWND m_hWnd = nullptr;

    HWND GetSafeHwnd() const { return m_hWnd; }

    // Binds this object to an existing window, or lets go of it.
    void Attach(HWND hWnd) { m_hWnd = hWnd; }
    HWND Detach();

    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const {
        return ::SendMessageW(m_hWnd, message, wParam, lParam);
    }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
    HWND GetDlgItem(int id) const { return ::GetDlgItem(m_hWnd, id); }

    // Copies data between the window's controls and the object's fields:
    // from the controls into the fields when `bSaveAndValidate` is TRUE,
    // from the fields into the controls when FALSE. Always returns TRUE:
    // no exchange here validates.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    // Offers a message of this window to its message maps; commands go on
    // to the application object when the window does not take them. A
    // WM_COMMAND without a control handle comes from a menu (notification 0)
    // or an accelerator (notification 1); as in the class library, both go
    // on with notification 0, so they meet the same entries as a click.
    afx::Handled WindowProc(UINT message, WPARAM wParam, LPARAM lParam);

    afx::Handled OnCmdMsg(UINT id, UINT code, LPARAM lParam) override;

    // Control objects bound by DDX_Control; they let go of their windows
    // when this window is destroyed.
    void AddBoundControl(CWnd& control) { m_boundControls.push_back(&control); }

  protected:
    // The field exchanges of this window, run by UpdateData.
    virtual void DoDataExchange(CDataExchange* pDX);

    // Default painting: leaves WM_PAINT to the platform.
    void OnPaint() { Default(); }

    // Called when the window is gone: lets go of it and of bound controls.
    void DetachAll();

  private:
    std::vector<CWnd*> m_boundControls;
};
