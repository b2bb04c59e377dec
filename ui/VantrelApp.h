// CVantrelApp: the application object of Vantrel. Its whole run is one
// modal dialog: InitInstance prepares the common controls, runs the main
// dialog to its end and returns FALSE, so the process ends when the dialog
// closes: with status 0, or 1 when the dialog could not be shown.
#pragma once

#include "Afx.h"

class CVantrelApp : public CWinApp {
  public:
    CVantrelApp() = default;
    ~CVantrelApp() override = default;

    static const afx::MessageMap messageMap;
    const afx::MessageMap* GetMessageMap() const override { return &messageMap; }

    BOOL InitInstance() override;
    int ExitInstance() override;

  private:
    int m_exitStatus = 0;
    static const afx::MessageMapEntry messageEntries[];
};

extern CVantrelApp theApp;
