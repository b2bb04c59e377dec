// CEdit: an edit control object, bound to a control of a dialog by
// DDX_Control. The program only binds it; it adds nothing to CWnd.
#pragma once

#include "Wnd.h"

class CEdit : public CWnd {};
