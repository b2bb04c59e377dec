// CVantrelDlg: the main dialog. The user types a command into the command
// box and presses CONVERT (or Enter anywhere but on DONE); the dialog reads
// both boxes into its fields, converts the command, and writes the trimmed
// command and the result text back. DONE, Escape and the close box end it.
#pragma once

#include "Afx.h"
#include "resource.h"

#include <string>

class CVantrelDlg : public CDialog {
  public:
    explicit CVantrelDlg(CWnd* pParent = nullptr);
    ~CVantrelDlg() override;

    enum { IDD = IDD_MAIN_DIALOG };

    static const afx::MessageMap messageMap;
    const afx::MessageMap* GetMessageMap() const override { return &messageMap; }

  protected:
    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;

    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnBnClickedConvert();

    HICON m_hIcon;               // shared icon: not destroyed by the dialog
    std::u16string m_strCommand; // the text of the command box
    std::u16string m_strResult;  // the text of the result box
    CEdit m_editResult;          // bound to the result box

  private:
    static const afx::MessageMapEntry messageEntries[];
};
