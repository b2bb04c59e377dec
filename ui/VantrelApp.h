// CVantrelApp: the application object of Vantrel. Its whole run is one
// modal dialog: InitInstance prepares the common controls, runs the main
// dialog to its end and returns FALSE, so the process ends when the dialog
// closes.
#pragma once

#include "Afx.h"

class CVantrelApp : public CWinApp {
  public:
    CVantrelApp() = default;
    ~CVantrelApp() override = default;

    static const afx::MessageMap messageMap;
    const afx::MessageMap* GetMessageMap() const override { return &messageMap; }

    BOOL InitInstance() override;

  private:
    static const afx::MessageMapEntry messageEntries[];
};

extern CVantrelApp theApp;
