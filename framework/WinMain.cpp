// The framework's entry point, linked only into the program itself (test
// programs bring their own main). Static initialisation has constructed the
// application object before this runs.
#include "WinApp.h"

int WINAPI wWinMain(HINSTANCE hInstance, HINSTANCE, LPWSTR, int) {
    return AfxWinMain(hInstance);
}
