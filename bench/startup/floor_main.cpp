// The start-up floor that Vantrel.exe is measured against: a bare Win32
// program that does only what the platform must do to show Vantrel's dialog.
// It carries the same dialog template and manifest, registers the common
// controls and runs the dialog with a procedure that handles nothing but
// ending on IDCANCEL (DONE, Escape or the close box). No icon, no version
// block, no conversion, no C++ library use.
#include "resource.h"

#include <windows.h>

#include <commctrl.h>

namespace {

INT_PTR CALLBACK FloorDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    if (message == WM_COMMAND && LOWORD(wParam) == IDCANCEL) {
        EndDialog(dialog, 0);
        return TRUE;
    }
    return FALSE;
}

} // namespace

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    INITCOMMONCONTROLSEX controls{sizeof(controls), ICC_WIN95_CLASSES};
    InitCommonControlsEx(&controls);
    const INT_PTR ended =
        DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_MAIN_DIALOG), nullptr, FloorDialogProc, 0);
    return ended == 0 ? 0 : 1;
}
