// Framework-wide services.
#include "AfxFunctions.h"

namespace {
bool controlContainerEnabled = false;
} // namespace

HINSTANCE AfxGetInstanceHandle() {
    return ::GetModuleHandleW(nullptr);
}

HINSTANCE AfxFindResourceHandle(LPCWSTR, LPCWSTR) {
    return AfxGetInstanceHandle();
}

void AfxEnableControlContainer() {
    controlContainerEnabled = true;
}

bool AfxControlContainerEnabled() {
    return controlContainerEnabled;
}
