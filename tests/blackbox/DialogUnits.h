// Turning dialog-template units into pixels for the program's dialog.
#pragma once

#include <windows.h>

#include <optional>

namespace blackbox {

// A rectangle of the dialog template: position and size in dialog units.
struct TemplateRect {
    int x;
    int y;
    int width;
    int height;
};

// Where a dialog whose template asks for 8-point "MS Shell Dlg" (the
// program's template header: style 0x90C800C8, DS_SETFONT | DS_FIXEDSYS)
// puts a control with the given template rectangle, in pixels of its client
// area. The dialog manager scales the position and the size each on their
// own (x, y, width and height are each converted), so the right edge is
// x' + width', which can differ by one pixel from converting x + width;
// converting the four numbers the same way gives the exact pixels.
//
// MapDialogRect is asked on the program's own dialog first. Wine answers
// that only inside the dialog's process, so when it refuses, the same
// question goes to a hidden dialog of the driver's with the same template
// header (style and font), whose dialog units are the same.
std::optional<RECT> TemplateToPixels(HWND programDialog, TemplateRect rect);

} // namespace blackbox
