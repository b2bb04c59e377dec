// UTF-16 text made fit for people to read in failure messages: escaped
// ASCII, where every unit must show. (As UTF-8 for the console: ToUtf8 of
// the text layer.)
#pragma once

#include <string>
#include <string_view>

namespace driving {

// `text` for a failure message: printable ASCII as it is, a backslash as
// \\, everything else as \r, \n or \x{hex}, so every code unit shows and
// none can be mistaken for another.
std::string Printable(std::wstring_view text);
std::string Printable(std::u16string_view text);

} // namespace driving
