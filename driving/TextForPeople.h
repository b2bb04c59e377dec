// UTF-16 text made fit for people to read: as UTF-8 for console output, and
// as escaped ASCII for failure messages, where every unit must show.
#pragma once

#include <string>
#include <string_view>

namespace driving {

// `text` as UTF-8.
std::string Utf8(std::wstring_view text);

// `text` for a failure message: printable ASCII as it is, a backslash as
// \\, everything else as \r, \n or \x{hex}, so every code unit shows and
// none can be mistaken for another.
std::string Printable(std::wstring_view text);
std::string Printable(std::u16string_view text);

} // namespace driving
