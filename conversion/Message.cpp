// The Vantrel message; see Message.h.
#include "Message.h"

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

namespace {

ReadProblem Problem(ReadProblem::Kind kind, std::size_t position, std::uint64_t value = 0) {
    return ReadProblem{kind, position, value, 0, 0, 0};
}

} // namespace

std::optional<ReadProblem> ValueReader::TakeUnit(std::optional<std::uint64_t> next) {
    using Kind = ReadProblem::Kind;
    const std::size_t position = count_ - 1;
    if (last_ > 0xFFFF) {
        return Problem(Kind::NotCodeUnit, position, last_);
    }
    const auto unit = static_cast<char16_t>(last_);
    if (unit == u'\n') {
        return Problem(Kind::LineFeed, position, last_);
    }
    // A high surrogate needs a low one next; a low one the high one before.
    const bool lone = code_units::IsHighSurrogate(unit)
                          ? !(next && code_units::IsLowSurrogate(static_cast<char32_t>(*next)))
                          : code_units::IsLowSurrogate(unit) &&
                                (units_.empty() || !code_units::IsHighSurrogate(units_.back()));
    if (lone) {
        return Problem(Kind::LoneSurrogate, position, last_);
    }
    units_ += unit;
    return std::nullopt;
}

std::optional<ReadProblem> ValueReader::Take(std::uint64_t value) {
    // The value before this one is followed, so past the length it is a
    // unit: judged first, being further left.
    if (count_ > kFirstUnitPosition) {
        if (auto problem = TakeUnit(value)) {
            return problem;
        }
    }
    if (count_ < kHeader.size() && value != kHeader[count_]) {
        return Problem(ReadProblem::Kind::HeaderMismatch, count_, value);
    }
    if (count_ == kLengthPosition) {
        length_ = value;
    }
    last_ = value;
    ++count_;
    return std::nullopt;
}

std::optional<ReadProblem> ValueReader::Broken() {
    return count_ > kFirstUnitPosition ? TakeUnit(std::nullopt) : std::nullopt;
}

std::optional<ReadProblem> ValueReader::Finish(std::u16string& command) {
    using Kind = ReadProblem::Kind;
    if (count_ == 0) {
        return Problem(Kind::Empty, 0);
    }
    if (count_ < kHeader.size()) {
        return Problem(Kind::HeaderCut, count_);
    }
    if (count_ <= kFirstUnitPosition) {
        return Problem(Kind::NoRoom, count_);
    }
    if (last_ != kTrailer) {
        return Problem(Kind::NoTrailer, count_ - 1, last_);
    }
    if (length_ != units_.size()) {
        return ReadProblem{Kind::LengthMismatch, kLengthPosition, length_, units_.size(), 0, 0};
    }
    command = std::move(units_);
    units_.clear();
    return std::nullopt;
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
    ValueReader reader;
    for (std::size_t i = 0;;) {
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
        std::optional<ReadProblem::Kind> wrong;
        std::uint64_t value = 0;
        for (std::size_t at = start; at < i && !wrong; ++at) {
            const int digit = HexDigit(text[at]);
            if (digit < 0) {
                wrong = ReadProblem::Kind::NotHexadecimal;
            } else if (value > std::numeric_limits<std::uint64_t>::max() >> 4) {
                wrong = ReadProblem::Kind::TooLarge;
            }
            value = value << 4 | static_cast<unsigned>(digit & 0xF);
        }
        if (wrong) {
            if (auto unitProblem = reader.Broken()) {
                return unitProblem; // further left
            }
            return ReadProblem{*wrong, reader.Count(), 0, 0, start, i - start};
        }
        if (auto problem = reader.Take(value)) {
            return problem;
        }
    }
    return reader.Finish(command);
}

} // namespace

std::optional<ReadProblem> Read(std::u16string_view text, std::u16string& command) {
    return ReadAny(text, command);
}

std::optional<ReadProblem> Read(std::string_view text, std::u16string& command) {
    return ReadAny(text, command);
}

} // namespace message
