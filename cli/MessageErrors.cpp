// The wording of message errors; see MessageErrors.h.
#include "MessageErrors.h"

#include "HexText.h"

#include <array>

namespace cli {

namespace {

using message::kHeader;
using message::kLengthPosition;

// "F0 00 00 40 02 00 00 61", as the message text writes it.
std::string HeaderText() {
    return hex_text::Upper(kHeader);
}

std::string At(std::uint64_t value, std::size_t position) {
    return "value " + hex_text::Narrow(value) + " at position " + std::to_string(position);
}

} // namespace

std::string DescribeNonDataValue(const message::NonDataValue& value) {
    const std::size_t position = value.position;
    const std::string part =
        position < kLengthPosition ? "the header"
        : position == kLengthPosition
            ? "the length"
            : "unit " + std::to_string(position - kLengthPosition) + " of the command";
    return At(value.value, position) + " (" + part + ") is not a MIDI data byte (00 to " +
           hex_text::Narrow(message::kLastDataByte) + ")";
}

std::string DescribeReadProblem(const message::ReadProblem& problem, std::string_view word) {
    using Kind = message::ReadProblem::Kind;
    const std::string trailer = hex_text::Upper(std::array{message::kTrailer});
    const std::string position = std::to_string(problem.position);
    switch (problem.kind) {
    case Kind::NotHexadecimal:
    case Kind::TooLarge:
        return "word \"" + std::string(word) + "\" at position " + position +
               (problem.kind == Kind::TooLarge ? " is too large" : " is not a hexadecimal number");
    case Kind::Empty:
        return "empty line: a message begins with " + HeaderText();
    case Kind::HeaderCut:
        return "the message stops at position " + position + ", inside the header " + HeaderText();
    case Kind::HeaderMismatch:
        return At(problem.value, problem.position) + " should be " +
               hex_text::Narrow(kHeader[problem.position]) + ": the header is " + HeaderText();
    case Kind::NoRoom:
        return "the message stops at position " + position +
               ": the header must be followed by a length and the trailer " + trailer;
    case Kind::NoTrailer:
        return At(problem.value, problem.position) + " ends the message: the trailer must be " +
               trailer;
    case Kind::LengthMismatch:
        return "the length " + hex_text::Narrow(problem.value) + " (position " +
               std::to_string(kLengthPosition) + ") does not match the " +
               std::to_string(problem.count) + " values (" + hex_text::Narrow(problem.count) +
               ") between it and " + trailer;
    case Kind::NotCodeUnit:
        return At(problem.value, problem.position) + " is above ffff, so not a UTF-16 code unit";
    case Kind::LineFeed:
        return At(problem.value, problem.position) +
               " is a line feed, which cannot be printed within one line";
    case Kind::LoneSurrogate:
        return At(problem.value, problem.position) +
               " is a lone surrogate, which UTF-8 cannot carry";
    }
    return "unreadable message";
}

} // namespace cli
