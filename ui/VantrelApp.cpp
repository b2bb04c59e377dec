// The application object and its start-up.
#include "VantrelApp.h"

#include "VantrelDlg.h"

#include <commctrl.h>

// Help (F1) goes to the framework's standard handler.
constinit const afx::MessageMapEntry CVantrelApp::messageEntries[] = {
    afx::OnCommand<ID_HELP, &CWinApp::OnHelp>(),
};
constinit const afx::MessageMap CVantrelApp::messageMap{&CWinApp::messageMap,
                                                        CVantrelApp::messageEntries};

CVantrelApp theApp;

BOOL CVantrelApp::InitInstance() {
    // Register the common control classes; version 6 comes from the manifest.
    INITCOMMONCONTROLSEX controls;
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES;
    InitCommonControlsEx(&controls);

    CWinApp::InitInstance();

    AfxEnableControlContainer();

    // Names the settings key only; Vantrel reads and writes no settings.
    SetRegistryKey(L"Local AppWizard-Generated Applications");

    CVantrelDlg dlg;
    m_pMainWnd = &dlg;
    // Every way of ending the dialog leads on the same way, with status 0.
    // A dialog that cannot be shown at all (no display to show it on, say)
    // makes DoModal return -1, and the process ends with status 1.
    if (dlg.DoModal() == -1) {
        m_exitStatus = 1;
    }

    // The dialog object is gone after this; FALSE ends the process without
    // a message loop.
    m_pMainWnd = nullptr;
    return FALSE;
}

int CVantrelApp::ExitInstance() {
    return m_exitStatus;
}
