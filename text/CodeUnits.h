// Facts about UTF-16 code units that both the message reader and the
// command-line tool's UTF-8 coding need.
#pragma once

namespace code_units {

constexpr bool IsHighSurrogate(char32_t unit) {
    return unit >= 0xD800 && unit <= 0xDBFF;
}
constexpr bool IsLowSurrogate(char32_t unit) {
    return unit >= 0xDC00 && unit <= 0xDFFF;
}

// The value of a code unit. Text known to be ASCII may be given as its bytes
// (char), since each of its bytes is one code unit of the same value.
constexpr char16_t Value(char16_t unit) {
    return unit;
}
constexpr char16_t Value(char asciiByte) {
    return static_cast<unsigned char>(asciiByte);
}

} // namespace code_units
