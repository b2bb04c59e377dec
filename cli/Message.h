// The System Exclusive message as a list of values: reading the hex text that
// ConvertCommand writes (or that a user passes to --decode), checking that it
// is valid MIDI, and taking the command back out of it.
//
// Positions count the values of a message from 0: F0 is position 0, the
// fixed header runs to position 7, the length is position 8, the command's
// first code unit is position 9 and the trailer F7 is the last position.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

// Replaces `values` with the numbers of `text`: hexadecimal numbers in either
// case, separated by spaces or tabs, with blanks allowed at both ends. Text
// that is not of that form gives an error naming the position and the
// offending word.
std::optional<std::string> ReadValues(std::u16string_view text, std::vector<std::uint64_t>& values);

// The position of the first value between the first and the last that is not
// a MIDI data byte (00 to 7f), if there is one.
std::optional<std::size_t> FindNonDataValue(const std::vector<std::uint64_t>& values);

// The error for --check: "value e9 at position 13 (unit 5 of the command) is
// not a MIDI data byte (00 to 7f)".
std::string DescribeNonDataValue(const std::vector<std::uint64_t>& values, std::size_t position);

// Takes the command out of a message: checks the fixed header
// F0 00 00 40 02 00 00 61, the trailer F7 and the length against the number
// of values between them, and that each value is a UTF-16 code unit. The
// command must also be printable as one line of UTF-8, so a lone surrogate
// or a line feed is an error too. On success `command` holds the units.
std::optional<std::string> DecodeMessage(const std::vector<std::uint64_t>& values,
                                         std::u16string& command);

// Lower-case hexadecimal, at least two digits, as the conversion writes values.
std::string Hex(std::uint64_t value);
