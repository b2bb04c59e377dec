// The Vantrel message; see Message.h. The header and trailer texts are made
// here from the values in Message.h, so those values are written once.
#include "Message.h"

#include "CodeUnits.h"
#include "HexText.h"
#include "UnitText.h"

#include <algorithm>
#include <limits>
#include <type_traits>

namespace message {
namespace {

// "F0 00 00 40 02 00 00 61 ": the header values in upper case, each followed
// by a space.
constexpr std::array<char16_t, 3 * kHeader.size()> kHeadText = [] {
    constexpr char16_t kUpperDigits[] = u"0123456789ABCDEF";
    std::array<char16_t, 3 * kHeader.size()> text{};
    for (std::size_t i = 0; i < kHeader.size(); ++i) {
        text[3 * i] = kUpperDigits[kHeader[i] >> 4];
        text[3 * i + 1] = kUpperDigits[kHeader[i] & 0xF];
        text[3 * i + 2] = u' ';
    }
    return text;
}();
constexpr char16_t kTrailerText[kTrailerLength] = {u'F', u'7'};
static_assert(kTrailer == 0xF7, "the trailer text is written out above");

ReadProblem Problem(ReadProblem::Kind kind, std::size_t position = 0, std::uint64_t value = 0,
                    std::size_t count = 0) {
    return ReadProblem{kind, position, value, count, 0, 0};
}

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

// Splits `text` into values; calls `take(value)` for each in order.
template <typename Char, typename Take>
std::optional<ReadProblem> ReadValues(std::basic_string_view<Char> text, Take take) {
    std::size_t position = 0;
    std::size_t i = 0;
    while (true) {
        while (i < text.size() && IsBlank(text[i])) {
            ++i;
        }
        if (i == text.size()) {
            return std::nullopt;
        }
        const std::size_t start = i;
        while (i < text.size() && !IsBlank(text[i])) {
            ++i;
        }
        const auto word = text.substr(start, i - start);
        std::uint64_t value = 0;
        for (const Char c : word) {
            const int digit = HexDigit(c);
            const bool tooLarge = value > std::numeric_limits<std::uint64_t>::max() >> 4;
            if (digit < 0 || tooLarge) {
                return ReadProblem{digit < 0 ? ReadProblem::Kind::NotHexadecimal
                                             : ReadProblem::Kind::TooLarge,
                                   position,
                                   0,
                                   0,
                                   start,
                                   word.size()};
            }
            value = value << 4 | static_cast<unsigned>(digit);
        }
        take(value);
        ++position;
    }
}

} // namespace

std::size_t HeadLength(std::size_t commandLength) {
    return kHeadText.size() + hex_text::Width(commandLength) + 1;
}

char16_t* WriteHead(char16_t* out, std::size_t commandLength) {
    out = std::copy(kHeadText.begin(), kHeadText.end(), out);
    out = hex_text::Write(out, commandLength, hex_text::Width(commandLength));
    *out++ = u' ';
    return out;
}

std::size_t UnitsLength(std::u16string_view chunk) {
    return unit_text::Length(chunk);
}

char16_t* WriteUnits(char16_t* out, std::u16string_view chunk) {
    return unit_text::WriteUnits(out, chunk);
}

char16_t* WriteTrailer(char16_t* out) {
    return std::copy(std::begin(kTrailerText), std::end(kTrailerText), out);
}

std::u16string Text(std::u16string_view command) {
    const std::size_t total = HeadLength(command.size()) + UnitsLength(command) + kTrailerLength;
    auto write = [&](char16_t* out, std::size_t) {
        // The trailer follows the units, so WriteUnits's spare character
        // lands where the trailer goes.
        WriteTrailer(WriteUnits(WriteHead(out, command.size()), command));
        return total;
    };
    std::u16string text;
#ifdef __cpp_lib_string_resize_and_overwrite
    // Every character is written, so the usual zero fill would be wasted work.
    text.resize_and_overwrite(total, write);
#else
    text.resize(total);
    write(text.data(), total);
#endif
    return text;
}

std::optional<NonDataValue> FindNonDataLength(std::size_t commandLength) {
    if (commandLength > kLastDataByte) {
        // Reported as the value the text shows; a length beyond 32 bits is
        // out of reach of any real command.
        return NonDataValue{kLengthPosition, static_cast<std::uint32_t>(commandLength)};
    }
    return std::nullopt;
}

std::optional<NonDataValue> FindNonDataUnit(std::u16string_view chunk, std::size_t offset) {
    const auto found = std::find_if(chunk.begin(), chunk.end(),
                                    [](char16_t unit) { return unit > kLastDataByte; });
    if (found == chunk.end()) {
        return std::nullopt;
    }
    const auto index = static_cast<std::size_t>(found - chunk.begin());
    return NonDataValue{kFirstUnitPosition + offset + index, *found};
}

std::optional<NonDataValue> FindNonDataValue(std::u16string_view command) {
    if (auto length = FindNonDataLength(command.size())) {
        return length;
    }
    return FindNonDataUnit(command, 0);
}

bool AppendBytes(std::u16string_view command, std::string& out) {
    if (FindNonDataValue(command)) {
        return false;
    }
    out.append(kHeader.begin(), kHeader.end());
    out += static_cast<char>(command.size());
    out.append(command.begin(), command.end());
    out += static_cast<char>(kTrailer);
    return true;
}

namespace {

template <typename Char>
std::optional<ReadProblem> ReadAny(std::basic_string_view<Char> text, std::u16string& command) {
    // One pass over the values: the header is compared as it comes, the
    // rest are kept as units and checked once the trailer is known.
    using Kind = ReadProblem::Kind;
    std::optional<ReadProblem> problem;
    std::size_t count = 0;
    std::uint64_t length = 0;
    std::uint64_t last = 0;
    std::u16string units;
    std::optional<std::uint64_t> beyond; // the first unit value above ffff
    std::size_t beyondPosition = 0;
    const auto readProblem = ReadValues(text, [&](std::uint64_t value) {
        const std::size_t position = count++;
        if (problem) {
            return;
        }
        if (position < kHeader.size()) {
            if (value != kHeader[position]) {
                problem = Problem(Kind::HeaderMismatch, position, value);
            }
            return;
        }
        if (position == kLengthPosition) {
            length = value;
            return;
        }
        // Every value after the length is a unit until a later one shows
        // it was the trailer; the unit before is taken once its follower
        // arrives.
        if (position > kFirstUnitPosition) {
            if (last > 0xFFFF && !beyond) {
                beyond = last;
                beyondPosition = position - 1;
            }
            units += static_cast<char16_t>(last);
        }
        last = value;
    });
    if (readProblem) {
        return readProblem;
    }
    if (problem) {
        return problem;
    }
    if (count == 0) {
        return Problem(Kind::Empty);
    }
    if (count < kHeader.size()) {
        return Problem(Kind::HeaderCut, count);
    }
    if (count <= kFirstUnitPosition) {
        return Problem(Kind::NoRoom, count);
    }
    if (last != kTrailer) {
        return Problem(Kind::NoTrailer, count - 1, last);
    }
    if (length != units.size()) {
        return Problem(Kind::LengthMismatch, kLengthPosition, length, units.size());
    }
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::size_t position = kFirstUnitPosition + i;
        if (beyond && beyondPosition == position) {
            return Problem(Kind::NotCodeUnit, position, *beyond);
        }
        const char16_t unit = units[i];
        if (unit == u'\n') {
            return Problem(Kind::LineFeed, position, unit);
        }
        // Surrogates must come as high-low pairs.
        // (A value above ffff was kept cut to 16 bits, so it pairs with nothing.)
        const bool pairsWithNext = code_units::IsHighSurrogate(unit) && i + 1 < units.size() &&
                                   code_units::IsLowSurrogate(units[i + 1]) &&
                                   !(beyond && beyondPosition == position + 1);
        const bool pairsWithPrevious =
            code_units::IsLowSurrogate(unit) && i > 0 && code_units::IsHighSurrogate(units[i - 1]);
        if ((code_units::IsHighSurrogate(unit) && !pairsWithNext) ||
            (code_units::IsLowSurrogate(unit) && !pairsWithPrevious)) {
            return Problem(Kind::LoneSurrogate, position, unit);
        }
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
