// Framework-wide services.
#include "AfxFunctions.h"

HINSTANCE AfxGetInstanceHandle() {
    return ::GetModuleHandleW(nullptr);
}

HINSTANCE AfxFindResourceHandle(LPCWSTR, LPCWSTR) {
    return AfxGetInstanceHandle();
}

void AfxEnableControlContainer() {}
