// Hexadecimal text. How the message writes a computed value: lower-case
// digits, at least two of them and as many more as the value needs, never
// cut; used for the length field and every code unit, and by the
// command-line tool for the values its messages name. And how fixed bytes
// are shown: upper case, two digits each (the message's header and trailer,
// a received message that is not Vantrel's).
#pragma once

#include <cstddef>
#include <cstdint>
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

inline constexpr char kUpperDigits[] = "0123456789ABCDEF";

// Writes `byte` as two upper-case digits and returns the end.
template <typename Char> constexpr Char* WriteUpper(Char* out, std::uint8_t byte) {
    out[0] = static_cast<Char>(kUpperDigits[byte >> 4]);
    out[1] = static_cast<Char>(kUpperDigits[byte & 0xF]);
    return out + 2;
}

// Appends `bytes` (any range of std::uint8_t) in upper case, separated by
// single spaces: "F0 7E 7F 06 01 F7".
template <typename Bytes> void AppendUpper(const Bytes& bytes, std::string& out) {
    bool first = true;
    for (const std::uint8_t byte : bytes) {
        char text[3] = {' '};
        out.append(text + (first ? 1 : 0), WriteUpper(text + 1, byte));
        first = false;
    }
}

template <typename Bytes> std::string Upper(const Bytes& bytes) {
    std::string text;
    AppendUpper(bytes, text);
    return text;
}

} // namespace hex_text
