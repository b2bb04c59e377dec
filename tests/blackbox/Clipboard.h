// The driver's side of the clipboard: putting a text on it for the program
// to paste, and reading what the program copied.
#pragma once

#include <optional>
#include <string>

namespace blackbox {

// Replaces the clipboard's content with `text` (CF_UNICODETEXT). Retries
// while another process holds the clipboard open.
bool SetClipboardText(const std::wstring& text);

// The clipboard's CF_UNICODETEXT, or nothing when it holds no text or
// cannot be opened.
std::optional<std::wstring> ClipboardText();

} // namespace blackbox
