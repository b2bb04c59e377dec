// Dialog units to pixels; see DialogUnits.h.
#include "DialogUnits.h"

#include <cstdio>
#include <vector>

namespace blackbox {

namespace {

// Appends a string, NUL included, as WORDs.
void AppendText(std::vector<WORD>& words, const wchar_t* text) {
    do {
        words.push_back(static_cast<WORD>(*text));
    } while (*text++ != L'\0');
}

void AppendDword(std::vector<WORD>& words, DWORD value) {
    words.push_back(LOWORD(value));
    words.push_back(HIWORD(value));
}

INT_PTR CALLBACK IgnoreEverything(HWND, UINT, WPARAM, LPARAM) {
    return FALSE;
}

// A hidden dialog with the header of the program's template and no
// controls: DIALOGEX, the frame style without WS_VISIBLE, 320 x 190, and
// FONT 8, "MS Shell Dlg", 0, 0, 0x1.
HWND ReferenceDialog() {
    static const HWND dialog = [] {
        std::vector<WORD> words;
        words.push_back(1);      // dlgVer
        words.push_back(0xFFFF); // signature: extended template
        AppendDword(words, 0);   // helpID
        AppendDword(words, 0x00040000);
        AppendDword(words, 0x90C800C8 & ~static_cast<DWORD>(WS_VISIBLE));
        words.push_back(0); // no controls
        words.push_back(0); // x
        words.push_back(0); // y
        words.push_back(320);
        words.push_back(190);
        words.push_back(0); // no menu
        words.push_back(0); // standard dialog class
        AppendText(words, L"reference");
        words.push_back(8);      // point size
        words.push_back(0);      // weight
        words.push_back(0x0100); // italic 0, character set 1 (low byte first)
        AppendText(words, L"MS Shell Dlg");
        // The template must be DWORD aligned; vector storage is.
        return CreateDialogIndirectParamW(GetModuleHandleW(nullptr),
                                          reinterpret_cast<LPCDLGTEMPLATEW>(words.data()), nullptr,
                                          IgnoreEverything, 0);
    }();
    return dialog;
}

} // namespace

std::optional<RECT> TemplateToPixels(HWND programDialog, TemplateRect rect) {
    // The four numbers in the four fields: MapDialogRect converts left and
    // right horizontally, top and bottom vertically, each on its own.
    RECT mapped{rect.x, rect.y, rect.width, rect.height};
    const bool byProgram = MapDialogRect(programDialog, &mapped) != 0;
    if (!byProgram) {
        mapped = RECT{rect.x, rect.y, rect.width, rect.height};
        const HWND reference = ReferenceDialog();
        if (reference == nullptr || !MapDialogRect(reference, &mapped)) {
            return std::nullopt;
        }
    }
    static bool told = false;
    if (!told) {
        told = true;
        std::printf("Dialog units converted by MapDialogRect on %s.\n",
                    byProgram ? "the program's dialog" : "the driver's reference dialog");
    }
    return RECT{mapped.left, mapped.top, mapped.left + mapped.right, mapped.top + mapped.bottom};
}

} // namespace blackbox
