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

} // namespace code_units
