// How the conversion writes a computed value: lower-case hexadecimal digits,
// at least two of them and as many more as the value needs, never cut. Used
// for the length field and for every code unit.
#pragma once

#include <cstddef>

namespace hex_text {

inline constexpr char16_t kDigits[] = u"0123456789abcdef";

// The number of digits `value` is written with.
template <typename Unsigned> constexpr std::size_t Width(Unsigned value) {
    std::size_t width = 2;
    for (value >>= 8; value != 0; value >>= 4) {
        ++width;
    }
    return width;
}

// Writes `value` in exactly `width` digits and returns the end.
template <typename Unsigned> char16_t* Write(char16_t* out, Unsigned value, std::size_t width) {
    for (std::size_t i = width; i-- > 0;) {
        out[i] = kDigits[value & 0xF];
        value >>= 4;
    }
    return out + width;
}

} // namespace hex_text
