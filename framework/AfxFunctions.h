// Framework-wide services.
#pragma once

#include <windows.h>

class CWinApp;

// The application object, or nullptr before it is constructed.
CWinApp* AfxGetApp();

// The module that holds the program's code.
HINSTANCE AfxGetInstanceHandle();

// The module that holds resource `name` of `type`. The program keeps all of
// its resources in its own executable, so that module is the answer whether
// or not the resource is found; a missing resource shows when it is loaded.
HINSTANCE AfxFindResourceHandle(LPCWSTR name, LPCWSTR type);

// Asks for hosting of embedded (ActiveX) controls in dialogs. This framework
// hosts none and does nothing here: the call stays so that the program
// states its needs as it would on the full class library; a dialog template
// that asked for an embedded control would fail to create.
void AfxEnableControlContainer();
