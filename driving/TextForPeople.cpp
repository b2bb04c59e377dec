// UTF-16 text made fit for people to read.
#include "TextForPeople.h"

#include <windows.h>

#include <cstdio>

namespace driving {

std::string Printable(std::u16string_view text) {
    std::string out;
    for (char16_t c : text) {
        if (c == u'\\') {
            out += "\\\\";
        } else if (c >= 0x20 && c < 0x7F) {
            out += static_cast<char>(c);
        } else if (c == u'\r') {
            out += "\\r";
        } else if (c == u'\n') {
            out += "\\n";
        } else {
            char buffer[16];
            std::snprintf(buffer, sizeof buffer, "\\x{%x}", static_cast<unsigned>(c));
            out += buffer;
        }
    }
    return out;
}

std::string Printable(std::wstring_view text) {
    const std::u16string units(text.begin(), text.end());
    return Printable(std::u16string_view(units));
}

} // namespace driving
