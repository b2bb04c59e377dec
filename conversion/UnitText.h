// Writing the code units of an accepted command as message text: each unit
// as lower-case hexadecimal (two digits below 0x100, three below 0x1000,
// four above) followed by one space. This is the hot loop of a conversion,
// kept apart so that its fast paths stay out of the rules of the conversion
// itself.
//
// There is more than one way of counting and writing the units: a portable
// one and, on x86 processors, ones with SSSE3 and with AVX-512 (VBMI2)
// vector instructions. The best one the processor has is chosen when first
// used. All of them give the same answers; Paths() lists them so that each
// can be checked on its own, not only the one the processor selects.
#pragma once

#include <cstddef>
#include <span>
#include <string_view>

namespace unit_text {

// The number of characters WriteUnits writes for `units`.
std::size_t Length(std::u16string_view units);

// Writes the text of every unit of `units` from `out` and returns the end.
// May also write one spare character just past the end; the caller leaves
// room for it (the message trailer always follows). Works on any part of a
// command as well as on a whole one.
char16_t* WriteUnits(char16_t* out, std::u16string_view units);

// One way of counting and writing the units, with the contracts of Length
// and WriteUnits.
struct Path {
    const char* name;
    // False when this processor lacks the instructions the path needs; the
    // path must not then be called.
    bool usable;
    std::size_t (*length)(std::u16string_view units);
    char16_t* (*write)(char16_t* out, std::u16string_view units);
};

// Every path built into this program, from the portable one to the fastest.
// Length and WriteUnits use the last usable one.
std::span<const Path> Paths();

} // namespace unit_text
