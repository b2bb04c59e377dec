// The Vantrel message; see Message.h.
#include "Message.h"

#include "Conversion.h"

#include <limits>

namespace message {

std::optional<NonDataValue> FindNonDataLength(std::size_t commandLength) {
    if (commandLength > kLastDataByte) {
        // Reported as the value the text shows; a length beyond 32 bits is
        // out of reach of any real command.
        return NonDataValue{kLengthPosition, static_cast<std::uint32_t>(commandLength)};
    }
    return std::nullopt;
}

std::optional<NonDataValue> FindNonDataValue(std::u16string_view command) {
    if (auto length = FindNonDataLength(command.size())) {
        return length;
    }
    return FindNonDataUnit(command, 0);
}

bool AppendBytes(std::u16string_view command, std::string& out) {
    return conversion::AppendBytes(conversion::HeldPieces{command},
                                   conversion::AcceptedWhole(command.size()), out);
}

namespace {

template <typename Char> bool IsBlank(Char c) {
    return c == Char{' '} || c == Char{'\t'};
}

template <typename Char> int HexDigit(Char c) {
    const auto code = static_cast<std::uint32_t>(static_cast<std::make_unsigned_t<Char>>(c));
    if (code >= '0' && code <= '9') {
        return static_cast<int>(code - '0');
    }
    const std::uint32_t lower = code | 0x20;
    return lower >= 'a' && lower <= 'f' ? static_cast<int>(lower - 'a' + 10) : -1;
}

template <typename Char>
std::optional<ReadProblem> ReadAny(std::basic_string_view<Char> text, std::u16string& command) {
    using Kind = ReadProblem::Kind;
    auto problem = [](Kind kind, std::size_t position, std::uint64_t value = 0) {
        return ReadProblem{kind, position, value, 0, 0, 0};
    };
    std::u16string units;
    // Judges the value at `position` as a unit, now that something follows
    // it: `next`, or nothing when what follows is not a number. A high
    // surrogate needs a low one next; a low one needs the high one before.
    auto takeUnit = [&](std::uint64_t value, std::size_t position,
                        std::optional<std::uint64_t> next) -> std::optional<ReadProblem> {
        if (value > 0xFFFF) {
            return problem(Kind::NotCodeUnit, position, value);
        }
        const auto unit = static_cast<char16_t>(value);
        if (unit == u'\n') {
            return problem(Kind::LineFeed, position, value);
        }
        const bool lone = code_units::IsHighSurrogate(unit)
                              ? !(next && code_units::IsLowSurrogate(static_cast<char32_t>(*next)))
                              : code_units::IsLowSurrogate(unit) &&
                                    (units.empty() || !code_units::IsHighSurrogate(units.back()));
        if (lone) {
            return problem(Kind::LoneSurrogate, position, value);
        }
        units += unit;
        return std::nullopt;
    };

    std::size_t count = 0; // values read so far
    std::uint64_t length = 0;
    std::uint64_t last = 0;
    for (std::size_t i = 0;; ++count) {
        while (i < text.size() && IsBlank(text[i])) {
            ++i;
        }
        if (i == text.size()) {
            break;
        }
        const std::size_t start = i;
        while (i < text.size() && !IsBlank(text[i])) {
            ++i;
        }
        std::optional<Kind> wrong;
        std::uint64_t value = 0;
        for (std::size_t at = start; at < i && !wrong; ++at) {
            const int digit = HexDigit(text[at]);
            if (digit < 0) {
                wrong = Kind::NotHexadecimal;
            } else if (value > std::numeric_limits<std::uint64_t>::max() >> 4) {
                wrong = Kind::TooLarge;
            }
            value = value << 4 | static_cast<unsigned>(digit & 0xF);
        }
        // The value before this word is followed, so past the length it is a
        // unit: judged first, being further left.
        if (count > kFirstUnitPosition) {
            const auto next = wrong ? std::nullopt : std::optional(value);
            if (auto unitProblem = takeUnit(last, count - 1, next)) {
                return unitProblem;
            }
        }
        if (wrong) {
            return ReadProblem{*wrong, count, 0, 0, start, i - start};
        }
        if (count < kHeader.size() && value != kHeader[count]) {
            return problem(Kind::HeaderMismatch, count, value);
        }
        if (count == kLengthPosition) {
            length = value;
        }
        last = value;
    }
    if (count == 0) {
        return problem(Kind::Empty, 0);
    }
    if (count < kHeader.size()) {
        return problem(Kind::HeaderCut, count);
    }
    if (count <= kFirstUnitPosition) {
        return problem(Kind::NoRoom, count);
    }
    if (last != kTrailer) {
        return problem(Kind::NoTrailer, count - 1, last);
    }
    if (length != units.size()) {
        return ReadProblem{Kind::LengthMismatch, kLengthPosition, length, units.size(), 0, 0};
    }
    command = std::move(units);
    return std::nullopt;
}

} // namespace

std::optional<ReadProblem> Read(std::u16string_view text, std::u16string& command) {
    return ReadAny(text, command);
}

std::optional<ReadProblem> Read(std::string_view text, std::u16string& command) {
    return ReadAny(text, command);
}

} // namespace message
