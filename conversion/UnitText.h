// Writing the code units of an accepted command as message text: each unit
// as lower-case hexadecimal (two digits below 0x100, three below 0x1000,
// four above) followed by one space. This is the hot loop of a conversion,
// kept apart so that its fast paths stay out of the rules of the conversion
// itself.
//
// There is more than one way of writing UTF-16 units as UTF-16 text: a
// portable one and, on x86 processors, ones with SSSE3 and with AVX2 vector
// instructions; the fastest the processor has is chosen when first used.
// All give the same answers; Paths() lists them and Use() selects one, so
// that each can be checked on its own, not only the one the processor
// selects. Other combinations (text in bytes, or units given as the bytes of
// ASCII text) are written portably by WriteEach, which is inline for the
// short commands of the command-line tool.
#pragma once

#include "CodeUnits.h"
#include "HexText.h"

#include <array>
#include <cstddef>
#include <cstring>
#include <span>
#include <string_view>

namespace unit_text {

// The most characters WriteUnits writes for `units`, without its spare
// ones: four digits and a space a unit. A bound rather than a count, so that
// no pass over the units goes before the writing.
constexpr std::size_t MostLength(std::size_t units) {
    return 5 * units;
}

// How many characters just past the end of its text WriteUnits may
// overwrite with scratch: the caller leaves room for them, and what follows
// overwrites them. Room for a vector store that runs past the text spares
// the vector paths from writing the last units one at a time.
inline constexpr std::size_t kSpare = 8;

// Writes the text of every unit of `units` from `out` and returns the end,
// overwriting up to kSpare characters after it. Works on any part of a
// command as well as on a whole one.
char16_t* WriteUnits(char16_t* out, std::u16string_view units);

// For every value below 0x100: its two digits, a space, and one spare
// character, so that one copy of four characters writes a whole entry; the
// next text overwrites the spare.
template <typename Char> using ByteText = std::array<Char, 4>;
template <typename Char>
inline constexpr std::array<ByteText<Char>, 256> kByteTexts = [] {
    std::array<ByteText<Char>, 256> texts{};
    for (std::size_t v = 0; v < texts.size(); ++v) {
        texts[v] = {static_cast<Char>(hex_text::kDigits[v >> 4]),
                    static_cast<Char>(hex_text::kDigits[v & 0xF]), Char{' '}, Char{' '}};
    }
    return texts;
}();

// WriteUnits done portably, one unit at a time, for text of any character
// type (Char) and units given as UTF-16 or as ASCII bytes (Unit).
template <typename Char, typename Unit>
Char* WriteEach(Char* out, std::basic_string_view<Unit> units) {
    if constexpr (sizeof(Unit) == 1) {
        // ASCII: every unit is below 0x100.
        for (const Unit given : units) {
            std::memcpy(out, kByteTexts<Char>[code_units::Value(given)].data(),
                        sizeof(ByteText<Char>));
            out += 3;
        }
        return out;
    }
    for (const Unit given : units) {
        const char16_t unit = code_units::Value(given);
        if (unit < 0x100) {
            std::memcpy(out, kByteTexts<Char>[unit].data(), sizeof(ByteText<Char>));
            out += 3;
        } else {
            out = hex_text::Write(out, unsigned{unit}, unit < 0x1000 ? 3u : 4u);
            *out++ = Char{' '};
        }
    }
    return out;
}

// One way of writing the units, with the contract of WriteUnits.
struct Path {
    const char* name;
    // False when this processor lacks the instructions the path needs; the
    // path must not then be called.
    bool usable;
    char16_t* (*write)(char16_t* out, std::u16string_view units);
};

// Every path built into this program, from the portable one to the fastest.
// WriteUnits uses the last usable one unless Use chose another.
std::span<const Path> Paths();

// The path WriteUnits uses.
const Path& Current();

// Makes WriteUnits use the usable path of this name from now on, so that
// tests and the benchmark can run every path through the whole conversion;
// false, and nothing changes, if there is none. Other threads may be
// converting meanwhile: every path writes the same text.
bool Use(std::string_view name);

} // namespace unit_text
