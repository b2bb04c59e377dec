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
    // `lpszAppName` nullptr: the name is the executable's file name without
    // its extension.
    explicit CWinApp(LPCWSTR lpszAppName = nullptr);
    ~CWinApp() override;

    static const afx::MessageMap messageMap;
    const afx::MessageMap* GetMessageMap() const override { return &messageMap; }

    virtual BOOL InitInstance();
    // The message loop; returns ExitInstance's value when WM_QUIT arrives.
    virtual int Run();
    // The process's exit status.
    virtual int ExitInstance();

    // Names the key under which the program's settings would be kept. The
    // name is recorded only: nothing is read from or written to the
    // registry.
    void SetRegistryKey(LPCWSTR lpszRegistryKey);

    // The standard help handler. The program ships no help file: it shows
    // the text of string resource ID_HELP in a message box captioned with the
    // application's name, owned by the main window.
    void OnHelp();

    HINSTANCE m_hInstance = AfxGetInstanceHandle();
    CWnd* m_pMainWnd = nullptr;

  private:
    std::wstring m_strAppName;
    std::wstring m_strRegistryKey;

  public:
    LPCWSTR m_pszAppName;
    LPCWSTR m_pszRegistryKey = nullptr;
};

// Runs the application object: what wWinMain does.
int AfxWinMain(HINSTANCE hInstance);
