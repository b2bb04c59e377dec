// The command conversion: the whole job of Vantrel, with no user interface.
//
// A Kestrane Server command is accepted only when it begins with the keyword
// "set " (the letters in either case, then one space). An accepted command is
// packed into a MIDI System Exclusive message written as text:
//
//   F0 00 00 40 02 00 00 61 <length> <unit> <unit> ... F7
//
// The eight header values are fixed and written in upper case. The length is
// the number of UTF-16 code units of the trimmed command, the keyword
// included; each unit follows as its numeric value. Computed values are
// lower-case hexadecimal with at least two digits and never cut or masked, so
// a length of 256 is "100" and U+20AC is "20ac". Values are not limited to
// seven bits: checking that the message is valid MIDI is left to the caller.
//
// Any other command yields the complaint
//   "<trimmed command>" does not start with "set "
// in place of the message. Both outcomes are plain result text; there is no
// error path.
//
// Texts are UTF-16 code units on every platform, so the Linux and Windows
// builds give the same answer for every input, including lone surrogates and
// NUL units. The rules themselves, for a command held whole or in pieces,
// are in Conversion.h; this is the dialog's case, a command held whole.
#pragma once

#include "Conversion.h"

#include <string>
#include <string_view>

// What becomes of one command, before any text is written: the trimmed
// command, and whether it is accepted.
struct CommandVerdict {
    std::u16string_view command; // the trimmed command, within the text given
    bool accepted = false;
};

// Judges `typed`: trims it and looks for the keyword. Writes nothing.
CommandVerdict JudgeCommand(std::u16string_view typed) noexcept;

// Trims `command` in place (white space at both ends, as defined by
// IsCommandWhiteSpace) and returns the result text for the trimmed command:
// the message text or the complaint. Keeps nothing between calls, and calling
// it again on the trimmed command gives the same result.
std::u16string ConvertCommand(std::u16string& command);
