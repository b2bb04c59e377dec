// How vantrel-convert words what is wrong with a message, on standard error:
// a value that is not a MIDI data byte (--check, --syx), and a text that
// --decode cannot read. Positions count the values of a message from 0, as
// in conversion/Message.h: F0 is 0, the length 8, the command's first unit 9.
#pragma once

#include "Message.h"

#include <string>
#include <string_view>

namespace cli {

// "value e9 at position 13 (unit 5 of the command) is not a MIDI data byte
// (00 to 7f)".
std::string DescribeNonDataValue(const message::NonDataValue& value);

// "the length 06 (position 8) does not match the 5 values (05) between it
// and F7", and so on for each kind of problem.
// `word` is the offending word of the text, as UTF-8, for the problems that
// name one.
std::string DescribeReadProblem(const message::ReadProblem& problem, std::string_view word);

} // namespace cli
