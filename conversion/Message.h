// The Vantrel message: the MIDI System Exclusive message that carries one
// accepted command, and everything known about it, in one place: its fixed
// header and trailer, its text (what the dialog shows and the command-line
// tool prints), the rule for valid MIDI data bytes, and the reading of a
// text back into the command it carries. Conversion.h writes the text and
// the raw bytes of a command from these parts.
//
// The message's values, by position (counted from 0):
//
//   0 to 7   the fixed header  F0 00 00 40 02 00 00 61
//   8        the length: the number of UTF-16 code units of the command
//   9 ...    the command's code units, one value each, as typed
//   last     the trailer  F7
//
// In the text the values are separated by single spaces. The header and the
// trailer are upper case; the computed values (the length and the units) are
// lower-case hexadecimal with at least two digits and as many more as they
// need, never cut: a length of 256 is "100" and U+20AC is "20ac". Such a
// text is not always valid MIDI: a value above 7f between F0 and F7 is not a
// data byte. The text is written regardless; checking is a separate step.
#pragma once

#include "CodeUnits.h"
#include "HexText.h"
#include "UnitText.h"

#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>

namespace message {

inline constexpr std::array<std::uint8_t, 8> kHeader = {0xF0, 0x00, 0x00, 0x40,
                                                        0x02, 0x00, 0x00, 0x61};
inline constexpr std::uint8_t kTrailer = 0xF7;
inline constexpr std::size_t kLengthPosition = kHeader.size();
inline constexpr std::size_t kFirstUnitPosition = kLengthPosition + 1;
// MIDI data bytes are 00 to 7f; F0 and F7 are the only others a message holds.
inline constexpr std::uint8_t kLastDataByte = 0x7F;

// ---- The text
//
// Written in parts, for a caller that may hold only part of a command at a
// time (Conversion.h puts them together): the head with the command's whole
// length, then the text of the units of each part of the command in order,
// then the trailer. Each writes at `out` and returns the end of what it
// wrote; the *Length functions tell how many characters that is at most. `Char` is
// the text's character type: char16_t for the dialog, char (UTF-8, here all
// ASCII) for the command-line tool. `Unit` is that of the units: char16_t,
// or char for text known to be ASCII, given as its bytes. WriteHead and
// WriteUnits may also write up to kSpare characters just past their end, so
// the buffer needs room for them; what follows overwrites them.

// "F0 00 00 40 02 00 00 61 ": the header values in upper case, each followed
// by a space.
template <typename Char>
inline constexpr std::array<Char, 3 * kHeader.size()> kHeadText = [] {
    std::array<Char, 3 * kHeader.size()> text{};
    for (std::size_t i = 0; i < kHeader.size(); ++i) {
        hex_text::WriteUpper(&text[3 * i], kHeader[i]);
        text[3 * i + 2] = Char{' '};
    }
    return text;
}();

constexpr std::size_t HeadLength(std::size_t commandLength) {
    return kHeadText<char>.size() + hex_text::Width(commandLength) + 1;
}

template <typename Char> Char* WriteHead(Char* out, std::size_t commandLength) {
    std::memcpy(out, kHeadText<Char>.data(), sizeof kHeadText<Char>);
    out += kHeadText<Char>.size();
    if (commandLength < 0x100) {
        // Two digits and a space, as for a unit.
        std::memcpy(out, unit_text::kByteTexts<Char>[commandLength].data(),
                    sizeof(unit_text::ByteText<Char>));
        return out + 3;
    }
    out = hex_text::Write(out, commandLength, hex_text::Width(commandLength));
    *out++ = Char{' '};
    return out;
}

template <typename Unit> std::size_t UnitsLength(std::basic_string_view<Unit> part) {
    if constexpr (sizeof(Unit) == 1) {
        return 3 * part.size(); // ASCII: two digits and a space each
    } else {
        return unit_text::MostLength(part.size());
    }
}

template <typename Char, typename Unit>
Char* WriteUnits(Char* out, std::basic_string_view<Unit> part) {
    if constexpr (std::is_same_v<Char, char16_t> && std::is_same_v<Unit, char16_t>) {
        return unit_text::WriteUnits(out, part); // the vector paths, for long commands
    } else {
        return unit_text::WriteEach(out, part);
    }
}

inline constexpr std::size_t kTrailerLength = 2;

// The scratch characters of WriteHead (one) and of WriteUnits.
inline constexpr std::size_t kSpare = unit_text::kSpare;

template <typename Char> Char* WriteTrailer(Char* out) {
    return hex_text::WriteUpper(out, kTrailer);
}

// ---- Valid MIDI

// A value between F0 and F7 that is not a data byte.
struct NonDataValue {
    std::size_t position;
    std::uint32_t value;
    bool operator==(const NonDataValue&) const = default;
};

// The first value of the message carrying `command` that is not a data
// byte: the length if the command has 128 units or more, otherwise the first
// unit above 7f. Nothing if the message is valid MIDI.
std::optional<NonDataValue> FindNonDataValue(std::u16string_view command);

// The same rule in parts: the length alone, and the units of a part that
// begins `offset` units into the command. A command whose length passes has
// at most 127 units.
std::optional<NonDataValue> FindNonDataLength(std::size_t commandLength);

template <typename Unit>
std::optional<NonDataValue> FindNonDataUnit(std::basic_string_view<Unit> part, std::size_t offset) {
    for (std::size_t i = 0; i < part.size(); ++i) {
        const char16_t unit = code_units::Value(part[i]);
        if (unit > kLastDataByte) {
            return NonDataValue{kFirstUnitPosition + offset + i, unit};
        }
    }
    return std::nullopt;
}

// ---- Reading a message back

// Why a text is not a message, and where. `position` counts values as above.
struct ReadProblem {
    enum class Kind {
        NotHexadecimal, // `word`, at `position`, is not a hexadecimal number
        TooLarge,       // `word`, at `position`, does not fit 64 bits
        Empty,          // there is no value at all
        HeaderCut,      // the text stops at `position`, inside the header
        HeaderMismatch, // `value` at `position` differs from the header
        NoRoom,         // the text stops at `position`, before a length and the trailer
        NoTrailer,      // `value`, the last at `position`, is not F7
        LengthMismatch, // the length `value` differs from the `count` values after it
        NotCodeUnit,    // `value` at `position` is above ffff
        LineFeed,       // `value` at `position` is 0a
        LoneSurrogate,  // `value` at `position` is a surrogate without its partner
    };
    Kind kind;
    std::size_t position = 0;
    std::uint64_t value = 0;
    std::size_t count = 0;
    // The offending word: where it starts in the text that was read, and
    // its size, in the text's own characters.
    std::size_t wordStart = 0;
    std::size_t wordSize = 0;
};

// Reads a message's values, one at a time, back into the command it
// carries: the fixed header, the trailer, and a length equal to the number
// of values between them. The command must come out printable as one line
// of UTF-8, so a lone surrogate or a line feed is refused too. The values
// come from a message's bytes (received, or from a .syx stream) or from the
// words of a message text (Read below); the rules are the same for both.
//
// The problem reported is the first one met reading from left to right: a
// header value, or a unit (above ffff, a line feed, half of a broken
// surrogate pair), whichever has the lowest position; a value is known to
// be a unit once another follows it. What can be judged only at the end
// (the values stopping short, the trailer, the length against the count)
// comes after.
class ValueReader {
  public:
    // Takes the next value: the first problem found, if any. Nothing more
    // is taken after a problem.
    std::optional<ReadProblem> Take(std::uint64_t value);

    // What follows the values taken is not a value (a word of a text that
    // is not a number): judges the last value with nothing after it. The
    // caller then reports what it met at position Count().
    std::optional<ReadProblem> Broken();

    // The end of the values: on success moves the command into `command`.
    std::optional<ReadProblem> Finish(std::u16string& command);

    // The values taken so far: the position of the next.
    std::size_t Count() const { return count_; }

  private:
    std::optional<ReadProblem> TakeUnit(std::optional<std::uint64_t> next);

    std::u16string units_;
    std::size_t count_ = 0;
    std::uint64_t length_ = 0;
    std::uint64_t last_ = 0;
};

// Reads a message's values (bytes, or wider values) into its command.
template <typename Value>
std::optional<ReadProblem> ReadValues(std::span<const Value> values, std::u16string& command) {
    ValueReader reader;
    for (const Value value : values) {
        if (auto problem = reader.Take(value)) {
            return problem;
        }
    }
    return reader.Finish(command);
}

// Reads a message text into the command it carries: hexadecimal values in
// either case, separated by any number of spaces or tabs, blanks allowed at
// both ends, handed to a ValueReader. A word that is not a number is a
// problem at its position, after any problem with the unit before it. On
// success `command` holds the units; the text of any accepted command reads
// back into that command unless it holds a line feed or a lone surrogate.
std::optional<ReadProblem> Read(std::u16string_view text, std::u16string& command);

// The same for a text held as UTF-8 bytes, so that a caller reading a long
// line need not hold it twice. A byte above 7f is never a digit.
std::optional<ReadProblem> Read(std::string_view text, std::u16string& command);

} // namespace message
