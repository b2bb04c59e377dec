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

// Turns on hosting of embedded (ActiveX) controls in dialogs. This framework
// hosts none: it records the request, so the program states its needs as it
// would on the full class library, and a dialog template that asked for an
// embedded control would still fail to create.
void AfxEnableControlContainer();
bool AfxControlContainerEnabled();
