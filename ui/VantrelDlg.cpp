// The main dialog.
#include "VantrelDlg.h"

#include "ConvertCommand.h"

constinit const afx::MessageMapEntry CVantrelDlg::messageEntries[] = {
    afx::OnWmPaint<&CVantrelDlg::OnPaint>(),
    afx::OnWmQueryDragIcon<&CVantrelDlg::OnQueryDragIcon>(),
    afx::OnBnClicked<IDC_CONVERT, &CVantrelDlg::OnBnClickedConvert>(),
};
constinit const afx::MessageMap CVantrelDlg::messageMap{&CDialog::messageMap,
                                                        CVantrelDlg::messageEntries};

CVantrelDlg::CVantrelDlg(CWnd* pParent) : CDialog(IDD, pParent) {
    LPCWSTR icon = MAKEINTRESOURCEW(IDR_MAINFRAME);
    m_hIcon = ::LoadIconW(AfxFindResourceHandle(icon, RT_GROUP_ICON), icon);
}

CVantrelDlg::~CVantrelDlg() = default;

void CVantrelDlg::DoDataExchange(CDataExchange* pDX) {
    CDialog::DoDataExchange(pDX);
    DDX_Text(pDX, IDC_COMMAND, m_strCommand);
    DDX_Text(pDX, IDC_RESULT, m_strResult);
    DDX_Control(pDX, IDC_RESULT, m_editResult);
}

BOOL CVantrelDlg::OnInitDialog() {
    CDialog::OnInitDialog();

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    // TRUE: the platform gives the first focus to CONVERT, the first
    // tab-stop control.
    return TRUE;
}

// Painting matters only while the dialog is minimised (which its frame does
// not offer, but the platform can do): the icon is drawn centred in the
// client area.
void CVantrelDlg::OnPaint() {
    if (IsIconic()) {
        CPaintDC dc(this);

        SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc.GetSafeHdc()), 0);

        const int cxIcon = ::GetSystemMetrics(SM_CXICON);
        const int cyIcon = ::GetSystemMetrics(SM_CYICON);
        RECT rect;
        GetClientRect(&rect);
        const int x = (rect.right - rect.left - cxIcon + 1) / 2;
        const int y = (rect.bottom - rect.top - cyIcon + 1) / 2;

        dc.DrawIcon(x, y, m_hIcon);
    } else {
        CDialog::OnPaint();
    }
}

// The cursor shown while the minimised window is dragged.
HCURSOR CVantrelDlg::OnQueryDragIcon() {
    return static_cast<HCURSOR>(m_hIcon);
}

void CVantrelDlg::OnBnClickedConvert() {
    UpdateData(TRUE);
    m_strResult = ConvertCommand(m_strCommand);
    UpdateData(FALSE);
}
