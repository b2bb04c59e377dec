// The Vantrel message: the MIDI System Exclusive message that carries one
// accepted command, and everything known about it, in one place: its fixed
// header and trailer, its text (what the dialog shows and the command-line
// tool prints), the rule for valid MIDI data bytes, its raw bytes, and the
// reading of a text back into the command it carries.
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

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace message {

inline constexpr std::array<std::uint8_t, 8> kHeader = {0xF0, 0x00, 0x00, 0x40,
                                                        0x02, 0x00, 0x00, 0x61};
inline constexpr std::uint8_t kTrailer = 0xF7;
inline constexpr std::size_t kLengthPosition = kHeader.size();
inline constexpr std::size_t kFirstUnitPosition = kLengthPosition + 1;
// MIDI data bytes are 00 to 7f; F0 and F7 are the only others a message holds.
inline constexpr std::uint8_t kLastDataByte = 0x7F;

// ---- The text

// The text of the message that carries `command`.
std::u16string Text(std::u16string_view command);

// The same text written in pieces, for a caller that holds only part of a
// long command at a time: WriteHead with the command's whole length, then
// WriteUnits for each chunk of the command in order, then WriteTrailer. Each
// writes at `out` and returns the end of what it wrote; the *Length
// functions tell how many characters that is. WriteUnits may also write one
// spare character just past its end, so the buffer needs room for one more;
// the next piece overwrites it.
std::size_t HeadLength(std::size_t commandLength);
char16_t* WriteHead(char16_t* out, std::size_t commandLength);
std::size_t UnitsLength(std::u16string_view chunk);
char16_t* WriteUnits(char16_t* out, std::u16string_view chunk);
inline constexpr std::size_t kTrailerLength = 2;
char16_t* WriteTrailer(char16_t* out);

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

// The same rule in pieces: the length alone, and the units of a chunk that
// begins `offset` units into the command. A command whose length passes has
// at most 127 units.
std::optional<NonDataValue> FindNonDataLength(std::size_t commandLength);
std::optional<NonDataValue> FindNonDataUnit(std::u16string_view chunk, std::size_t offset);

// ---- Raw bytes

// Appends the bytes of the message carrying `command` to `out` (a .syx
// stream, or what is sent to a device) and returns true, or appends nothing
// and returns false if the message is not valid MIDI (FindNonDataValue).
bool AppendBytes(std::u16string_view command, std::string& out);

// ---- Reading a text back

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

// Reads a message text back into the command it carries: hexadecimal
// values in either case, separated by any number of spaces or tabs, blanks
// allowed at both ends; the fixed header, the trailer, and a length equal to
// the number of values between them. The command must come out printable as
// one line of UTF-8, so a lone surrogate or a line feed is refused too. On
// success `command` holds the units; the text of any accepted command reads
// back into that command unless it holds a line feed or a lone surrogate.
std::optional<ReadProblem> Read(std::u16string_view text, std::u16string& command);

// The same for a text held as UTF-8 bytes, so that a caller reading a long
// line need not hold it twice. A byte above 7f is never a digit.
std::optional<ReadProblem> Read(std::string_view text, std::u16string& command);

} // namespace message
