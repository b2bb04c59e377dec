// Reading, checking and decoding System Exclusive message values; see
// Message.h for the positions used in error messages.
#include "Message.h"

#include "Utf8.h"

#include <array>
#include <limits>

namespace {

constexpr std::array<std::uint64_t, 8> kHeader = {0xF0, 0x00, 0x00, 0x40, 0x02, 0x00, 0x00, 0x61};
constexpr std::size_t kLengthPosition = kHeader.size();
constexpr std::size_t kFirstUnitPosition = kLengthPosition + 1;
constexpr std::uint64_t kTrailer = 0xF7;
constexpr std::uint64_t kLastDataByte = 0x7F;
constexpr char kHeaderText[] = "F0 00 00 40 02 00 00 61";

bool IsHighSurrogate(std::uint64_t value) {
    return value >= 0xD800 && value <= 0xDBFF;
}
bool IsLowSurrogate(std::uint64_t value) {
    return value >= 0xDC00 && value <= 0xDFFF;
}

bool IsBlank(char16_t unit) {
    return unit == u' ' || unit == u'\t';
}

// The value of a hexadecimal digit in either case, or -1.
constexpr std::array<signed char, 128> kDigitValues = [] {
    std::array<signed char, 128> values{};
    values.fill(-1);
    for (int i = 0; i < 10; ++i) {
        values[static_cast<std::size_t>('0' + i)] = static_cast<signed char>(i);
    }
    for (int i = 0; i < 6; ++i) {
        values[static_cast<std::size_t>('a' + i)] = static_cast<signed char>(10 + i);
        values[static_cast<std::size_t>('A' + i)] = static_cast<signed char>(10 + i);
    }
    return values;
}();

int HexDigit(char16_t unit) {
    return unit < kDigitValues.size() ? kDigitValues[unit] : -1;
}

std::string At(std::uint64_t value, std::size_t position) {
    return "value " + Hex(value) + " at position " + std::to_string(position);
}

} // namespace

std::string Hex(std::uint64_t value) {
    constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    do {
        text.insert(text.begin(), kDigits[value & 0xF]);
        value >>= 4;
    } while (value != 0);
    if (text.size() < 2) {
        text.insert(text.begin(), '0');
    }
    return text;
}

std::optional<std::string> ReadValues(std::u16string_view text,
                                      std::vector<std::uint64_t>& values) {
    values.clear();
    std::uint64_t value = 0;
    std::size_t wordStart = 0;
    bool inWord = false;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const char16_t unit = text[i];
        if (IsBlank(unit)) {
            if (inWord) {
                values.push_back(value);
                inWord = false;
            }
            continue;
        }
        if (!inWord) {
            inWord = true;
            wordStart = i;
            value = 0;
        }
        const int digit = HexDigit(unit);
        if (digit < 0 || value > std::numeric_limits<std::uint64_t>::max() >> 4) {
            std::size_t wordEnd = i;
            while (wordEnd < text.size() && !IsBlank(text[wordEnd])) {
                ++wordEnd;
            }
            std::string error = "word \"";
            AppendUtf8(text.substr(wordStart, wordEnd - wordStart), error);
            return error + "\" at position " + std::to_string(values.size()) +
                   (digit < 0 ? " is not a hexadecimal number" : " is too large");
        }
        value = value << 4 | static_cast<unsigned>(digit);
    }
    if (inWord) {
        values.push_back(value);
    }
    return std::nullopt;
}

std::optional<std::size_t> FindNonDataValue(const std::vector<std::uint64_t>& values) {
    for (std::size_t i = 1; i + 1 < values.size(); ++i) {
        if (values[i] > kLastDataByte) {
            return i;
        }
    }
    return std::nullopt;
}

std::string DescribeNonDataValue(const std::vector<std::uint64_t>& values, std::size_t position) {
    std::string part =
        position < kLengthPosition ? "the header"
        : position == kLengthPosition
            ? "the length"
            : "unit " + std::to_string(position - kLengthPosition) + " of the command";
    return At(values[position], position) + " (" + part + ") is not a MIDI data byte (00 to 7f)";
}

std::optional<std::string> DecodeMessage(const std::vector<std::uint64_t>& values,
                                         std::u16string& command) {
    if (values.empty()) {
        return "empty line: a message begins with " + std::string(kHeaderText);
    }
    for (std::size_t i = 0; i < kHeader.size(); ++i) {
        if (i == values.size()) {
            return "the message stops at position " + std::to_string(i) + ", inside the header " +
                   kHeaderText;
        }
        if (values[i] != kHeader[i]) {
            return At(values[i], i) + " should be " + Hex(kHeader[i]) + ": the header is " +
                   kHeaderText;
        }
    }
    if (values.size() <= kFirstUnitPosition) {
        return "the message stops at position " + std::to_string(values.size()) +
               ": the header must be followed by a length and the trailer F7";
    }
    const std::size_t last = values.size() - 1;
    if (values[last] != kTrailer) {
        return At(values[last], last) + " ends the message: the trailer must be F7";
    }
    const std::size_t count = last - kFirstUnitPosition;
    if (values[kLengthPosition] != count) {
        return "the length " + Hex(values[kLengthPosition]) + " (position 8) does not match the " +
               std::to_string(count) + " values (" + Hex(count) + ") between it and F7";
    }
    command.clear();
    for (std::size_t i = kFirstUnitPosition; i < last; ++i) {
        const std::uint64_t value = values[i];
        if (value > 0xFFFF) {
            return At(value, i) + " is above ffff, so not a UTF-16 code unit";
        }
        if (value == u'\n') {
            return At(value, i) + " is a line feed, which cannot be printed within one line";
        }
        // Surrogates must come as high-low pairs; a high one is checked
        // against the next value, a low one against the previous.
        const bool pairsWithNext =
            IsHighSurrogate(value) && i + 1 < last && IsLowSurrogate(values[i + 1]);
        const bool pairsWithPrevious =
            IsLowSurrogate(value) && i > kFirstUnitPosition && IsHighSurrogate(values[i - 1]);
        if ((IsHighSurrogate(value) && !pairsWithNext) ||
            (IsLowSurrogate(value) && !pairsWithPrevious)) {
            return At(value, i) + " is a lone surrogate, which UTF-8 cannot carry";
        }
        command += static_cast<char16_t>(value);
    }
    return std::nullopt;
}
