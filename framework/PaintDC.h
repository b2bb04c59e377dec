// Device contexts: CDC wraps a device context handle; CPaintDC opens the
// paint context of a window for the life of the object (BeginPaint in the
// constructor, EndPaint in the destructor).
#pragma once

#include "Wnd.h"

class CDC {
  public:
    HDC GetSafeHdc() const { return m_hDC; }
    BOOL DrawIcon(int x, int y, HICON hIcon) const { return ::DrawIcon(m_hDC, x, y, hIcon); }

  protected:
    HDC m_hDC = nullptr;
};

class CPaintDC : public CDC {
  public:
    explicit CPaintDC(CWnd* pWnd) : m_hWnd(pWnd->m_hWnd) { m_hDC = ::BeginPaint(m_hWnd, &m_ps); }
    ~CPaintDC() { ::EndPaint(m_hWnd, &m_ps); }
    CPaintDC(const CPaintDC&) = delete;
    CPaintDC& operator=(const CPaintDC&) = delete;

  private:
    HWND m_hWnd;
    PAINTSTRUCT m_ps{};
};
