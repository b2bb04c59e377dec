// CWinApp: the application object. A program defines exactly one, as a
// global, and overrides InitInstance. The framework's entry point (wWinMain,
// in the framework's entry library) finds it, calls InitInstance, and then
// either ends the process at once (InitInstance returned FALSE) or runs a
// message loop until the program quits.
#pragma once

#include "AfxFunctions.h"
#include "CmdTarget.h"

#include <string>

class CWnd;

class CWinApp : public CCmdTarget {
  public:
    // The application's name is the executable's file name without its
    // extension.
    CWinApp();
    ~CWinApp() override;

    static const afx::MessageMap messageMap;
    const afx::MessageMap* GetMessageMap() const override { return &messageMap; }

    virtual BOOL InitInstance();
    // The message loop; returns ExitInstance's value when WM_QUIT arrives.
    virtual int Run();
    // The process's exit status.
    virtual int ExitInstance();

    // Names the key under which the program's settings would be kept.
    // Nothing here reads or writes settings, so the name is not kept either.
    void SetRegistryKey(LPCWSTR lpszRegistryKey);

    // The standard help handler. The program ships no help file: it shows
    // the text of string resource ID_HELP in a message box captioned with the
    // application's name, owned by the main window. At most one such box is
    // open at a time: the box passes F1 on to its owner as another help
    // request, which is ignored while the box is up.
    void OnHelp();

    HINSTANCE m_hInstance = AfxGetInstanceHandle();
    CWnd* m_pMainWnd = nullptr;

  private:
    std::wstring m_strAppName;
    bool m_helpShown = false;

  public:
    LPCWSTR m_pszAppName;
};

// Runs the application object: what wWinMain does.
int AfxWinMain(HINSTANCE hInstance);
