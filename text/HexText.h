// How the message writes a computed value: lower-case hexadecimal digits, at
// least two of them and as many more as the value needs, never cut. Used for
// the length field and every code unit, and by the command-line tool for the
// values its messages name.
#pragma once

#include <cstddef>
#include <string>

namespace hex_text {

inline constexpr char16_t kDigits[] = u"0123456789abcdef";

// The number of digits `value` is written with.
template <typename Unsigned> constexpr std::size_t Width(Unsigned value) {
    std::size_t width = 2;
    for (auto rest = static_cast<unsigned long long>(value) >> 8; rest != 0; rest >>= 4) {
        ++width;
    }
    return width;
}

// Writes `value` in exactly `width` digits and returns the end.
template <typename Char, typename Unsigned>
Char* Write(Char* out, Unsigned value, std::size_t width) {
    for (std::size_t i = width; i-- > 0;) {
        out[i] = static_cast<Char>(kDigits[value & 0xF]);
        value >>= 4;
    }
    return out + width;
}

// `value` as narrow text.
inline std::string Narrow(unsigned long long value) {
    std::string text(Width(value), '0');
    Write(text.data(), value, text.size());
    return text;
}

} // namespace hex_text
