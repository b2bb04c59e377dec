// Writing the code units of an accepted command as message text: each unit
// as lower-case hexadecimal (two digits below 0x100, three or four above)
// followed by one space. This is the hot loop of a conversion, kept apart so
// that its fast paths stay out of the rules of the conversion itself.
#pragma once

#include <cstddef>
#include <string_view>

namespace unit_text {

// The number of characters WriteUnits writes for `units`.
std::size_t Length(std::u16string_view units);

// Writes the text of every unit of `units` from `out` and returns the end.
// May also write one spare character just past the end; the caller leaves
// room for it (the message trailer always follows).
char16_t* WriteUnits(char16_t* out, std::u16string_view units);

} // namespace unit_text
