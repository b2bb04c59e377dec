// UTF-8 decoding and encoding for vantrel-convert. Both run once per line of
// input, so runs of ASCII, the usual case, are handled eight bytes at a time.
#include "Utf8.h"

#include "CodeUnits.h"
#include "HexText.h"

#include <cstdint>
#include <cstring>

namespace {

constexpr std::uint64_t kHighBits = 0x8080808080808080u;

bool IsContinuation(unsigned char byte) {
    return (byte & 0xC0) == 0x80;
}

using code_units::IsHighSurrogate;
using code_units::IsLowSurrogate;

// What is wrong with a sequence whose second byte is outside the range its
// lead byte allows (Unicode's table of well-formed UTF-8 byte sequences).
const char* SecondByteProblem(unsigned char lead, unsigned char second) {
    if (!IsContinuation(second)) {
        return "sequence cut short: expected a continuation byte";
    }
    switch (lead) {
    case 0xE0:
    case 0xF0:
        return "overlong encoding";
    case 0xED:
        return "encoded surrogate (U+D800 to U+DFFF)";
    default: // 0xF4
        return "value above U+10FFFF";
    }
}

} // namespace

std::optional<Utf8Error> DecodeUtf8(std::string_view bytes, std::u16string& units) {
    // A UTF-8 string never has more UTF-16 units than bytes.
    units.resize(bytes.size());
    const auto* const begin = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = begin + bytes.size();
    const unsigned char* in = begin;
    char16_t* out = units.data();

    auto fail = [&](const unsigned char* at, const char* reason) {
        return Utf8Error{static_cast<std::size_t>(at - begin), *at, reason};
    };

    while (in != end) {
        while (end - in >= 8) {
            std::uint64_t eight;
            std::memcpy(&eight, in, sizeof eight);
            if ((eight & kHighBits) != 0) {
                break;
            }
            for (int i = 0; i < 8; ++i) {
                out[i] = in[i];
            }
            in += 8;
            out += 8;
        }
        if (in == end) {
            break;
        }
        const unsigned char lead = *in;
        if (lead < 0x80) {
            *out++ = lead;
            ++in;
            continue;
        }
        // Continuation bytes after the lead, and the range of the first one.
        std::ptrdiff_t count = 0;
        unsigned char low = 0x80;
        unsigned char high = 0xBF;
        if (lead < 0xC0) {
            return fail(in, "continuation byte without a lead byte");
        } else if (lead < 0xC2) {
            return fail(in, "overlong encoding");
        } else if (lead < 0xE0) {
            count = 1;
        } else if (lead < 0xF0) {
            count = 2;
            low = lead == 0xE0 ? 0xA0 : 0x80;
            high = lead == 0xED ? 0x9F : 0xBF;
        } else if (lead < 0xF5) {
            count = 3;
            low = lead == 0xF0 ? 0x90 : 0x80;
            high = lead == 0xF4 ? 0x8F : 0xBF;
        } else {
            return fail(in, "byte that never occurs in UTF-8");
        }
        if (end - in <= count) {
            // Too few bytes left; name the first one that does not fit, if any.
            for (const unsigned char* next = in + 1; next != end; ++next) {
                if (next == in + 1 ? (*next < low || *next > high) : !IsContinuation(*next)) {
                    return fail(in, next == in + 1 ? SecondByteProblem(lead, *next)
                                                   : "sequence cut short: expected a "
                                                     "continuation byte");
                }
            }
            return fail(in, "sequence cut short by the end of the text");
        }
        if (in[1] < low || in[1] > high) {
            return fail(in, SecondByteProblem(lead, in[1]));
        }
        char32_t value = lead & (0x3Fu >> count);
        for (std::ptrdiff_t i = 1; i <= count; ++i) {
            if (!IsContinuation(in[i])) {
                return fail(in, "sequence cut short: expected a continuation byte");
            }
            value = value << 6 | (in[i] & 0x3Fu);
        }
        in += count + 1;
        if (value < 0x10000) {
            *out++ = static_cast<char16_t>(value);
        } else {
            value -= 0x10000;
            *out++ = static_cast<char16_t>(0xD800 + (value >> 10));
            *out++ = static_cast<char16_t>(0xDC00 + (value & 0x3FF));
        }
    }
    units.resize(static_cast<std::size_t>(out - units.data()));
    return std::nullopt;
}

void AppendUtf8(std::u16string_view units, std::string& out) {
    // Message texts are all ASCII: find the leading ASCII run, four units at
    // a time, and narrow it in one loop the compiler vectorises.
    std::size_t ascii = 0;
    for (; units.size() - ascii >= 4; ascii += 4) {
        std::uint64_t four;
        std::memcpy(&four, units.data() + ascii, sizeof four);
        if ((four & 0xFF80FF80FF80FF80u) != 0) {
            break;
        }
    }
    while (ascii < units.size() && units[ascii] < 0x80) {
        ++ascii;
    }
    const std::size_t asciiStart = out.size();
    out.resize(asciiStart + ascii);
    char* const narrow = out.data() + asciiStart;
    const char16_t* const wide = units.data();
    for (std::size_t i = 0; i < ascii; ++i) {
        narrow[i] = static_cast<char>(wide[i]);
    }
    units.remove_prefix(ascii);

    // The rest: one pass to size the result exactly, one to write it.
    std::size_t size = 0;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const char16_t unit = units[i];
        if (unit < 0x80) {
            size += 1;
        } else if (unit < 0x800) {
            size += 2;
        } else if (IsHighSurrogate(unit) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
            size += 4;
            ++i;
        } else {
            size += 3;
        }
    }
    const std::size_t start = out.size();
    out.resize(start + size);
    char* o = out.data() + start;
    auto put = [&o](char32_t byte) { *o++ = static_cast<char>(byte); };
    for (std::size_t i = 0; i < units.size(); ++i) {
        char32_t value = units[i];
        if (value < 0x80) {
            put(value);
            continue;
        }
        if (value < 0x800) {
            put(0xC0 | value >> 6);
            put(0x80 | (value & 0x3F));
            continue;
        }
        if (IsHighSurrogate(units[i]) && i + 1 < units.size() && IsLowSurrogate(units[i + 1])) {
            value = 0x10000 + ((value - 0xD800) << 10) + (units[i + 1] - 0xDC00u);
            ++i;
            put(0xF0 | value >> 18);
            put(0x80 | (value >> 12 & 0x3F));
        } else {
            if (IsHighSurrogate(units[i]) || IsLowSurrogate(units[i])) {
                value = 0xFFFD;
            }
            put(0xE0 | value >> 12);
        }
        put(0x80 | (value >> 6 & 0x3F));
        put(0x80 | (value & 0x3F));
    }
}

void AppendUtf8(std::u16string_view units, std::string& out, char16_t& pending) {
    if (units.empty()) {
        return;
    }
    if (pending != 0) {
        const bool paired = IsLowSurrogate(units.front());
        const char16_t pair[2] = {pending, units.front()};
        AppendUtf8(std::u16string_view(pair, paired ? 2 : 1), out);
        pending = 0;
        units.remove_prefix(paired ? 1 : 0);
    }
    if (!units.empty() && IsHighSurrogate(units.back())) {
        pending = units.back();
        units.remove_suffix(1);
    }
    AppendUtf8(units, out);
}

void FinishUtf8(std::string& out, char16_t& pending) {
    if (pending != 0) {
        AppendUtf8(std::u16string_view(&pending, 1), out);
        pending = 0;
    }
}

std::string ToUtf8(std::u16string_view units) {
    std::string text;
    AppendUtf8(units, text);
    return text;
}

std::string DescribeUtf8Error(const Utf8Error& error) {
    return "invalid UTF-8 at byte offset " + std::to_string(error.offset) + " (byte " +
           hex_text::Narrow(error.byte) + "): " + error.reason;
}
