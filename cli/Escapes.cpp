// Escaping line breaks and control characters; see Escapes.h.
#include "Escapes.h"

#include "HexText.h"

#include <algorithm>

namespace cli {

namespace {

const char* ShortEscape(char c) {
    switch (c) {
    case '\t':
        return "\\t";
    case '\r':
        return "\\r";
    case '\n':
        return "\\n";
    default:
        return nullptr;
    }
}

} // namespace

void AppendLineBreaksEscaped(std::string_view text, std::string& out) {
    while (!text.empty()) {
        const auto stop =
            std::find_if(text.begin(), text.end(), [](char c) { return c == '\r' || c == '\n'; });
        out.append(text.begin(), stop);
        if (stop == text.end()) {
            break;
        }
        out += ShortEscape(*stop);
        text.remove_prefix(static_cast<std::size_t>(stop - text.begin()) + 1);
    }
}

void AppendControlsEscaped(std::string_view text, std::string& out) {
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        // A C1 control is U+0080 to U+009F: in UTF-8, C2 followed by 80 to 9F.
        const bool c1 = byte == 0xC2 && i + 1 < text.size() &&
                        static_cast<unsigned char>(text[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(text[i + 1]) <= 0x9F;
        if (c1) {
            out += "\\u{00" + hex_text::Narrow(static_cast<unsigned char>(text[++i])) + "}";
        } else if (const char* escape = ShortEscape(text[i])) {
            out += escape;
        } else if (byte < 0x20 || byte == 0x7F) {
            out += "\\x" + hex_text::Narrow(byte);
        } else {
            out += text[i];
        }
    }
}

} // namespace cli
