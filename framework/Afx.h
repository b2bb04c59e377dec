// The window framework in one include: application object, windows,
// dialogs, edit controls, data exchange, paint contexts and message maps.
#pragma once

#include "AfxFunctions.h"
#include "AfxRes.h"
#include "DataExchange.h"
#include "Dialog.h"
#include "Edit.h"
#include "PaintDC.h"
#include "WinApp.h"
#include "Wnd.h"
