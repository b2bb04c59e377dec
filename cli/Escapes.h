// Keeping vantrel-convert's output one line per command and its errors safe
// for a terminal. Both work on UTF-8 text.
#pragma once

#include <string>
#include <string_view>

namespace cli {

// Appends `text` to `out` with each carriage return written as \r and each
// line feed as \n. A complaint on standard output quotes the command, and a
// command argument may hold line breaks; escaped, every command still gives
// exactly one output line.
void AppendLineBreaksEscaped(std::string_view text, std::string& out);

// Appends `text` to `out` with every control character escaped: tab,
// carriage return and line feed as \t, \r and \n, the other C0 controls and
// DEL as \xNN, and the C1 controls (U+0080 to U+009F) as \u{NNNN}. Error
// messages quote what they were given, and a raw control character would
// garble the terminal they are read on.
void AppendControlsEscaped(std::string_view text, std::string& out);

} // namespace cli
