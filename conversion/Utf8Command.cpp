// The conversion of a short command held whole as UTF-8; see Utf8Command.h.
#include "Utf8Command.h"

#include <cstdint>
#include <cstring>
#include <type_traits>

namespace conversion {

namespace {

// The length of the well-formed UTF-8 character at `at`, which ends no
// further than `end`, with its value in `value`; 0 if it is not
// well-formed (the rules of DecodeUtf8: no overlong forms, no encoded
// surrogates, nothing above U+10FFFF). `at` holds a byte from 0x80 up.
inline std::size_t DecodeOne(const unsigned char* at, const unsigned char* end, char32_t& value) {
    const unsigned lead = at[0];
    std::size_t count = 0; // continuation bytes
    unsigned low = 0x80;   // the range of the first continuation byte
    unsigned high = 0xBF;
    if (lead < 0xC2) {
        return 0;
    } else if (lead < 0xE0) {
        count = 1;
        value = lead & 0x1F;
    } else if (lead < 0xF0) {
        count = 2;
        value = lead & 0x0F;
        low = lead == 0xE0 ? 0xA0 : 0x80;
        high = lead == 0xED ? 0x9F : 0xBF;
    } else if (lead < 0xF5) {
        count = 3;
        value = lead & 0x07;
        low = lead == 0xF0 ? 0x90 : 0x80;
        high = lead == 0xF4 ? 0x8F : 0xBF;
    } else {
        return 0;
    }
    if (static_cast<std::size_t>(end - at) <= count || at[1] < low || at[1] > high) {
        return 0;
    }
    value = value << 6 | (at[1] & 0x3F);
    for (std::size_t k = 2; k <= count; ++k) {
        if ((at[k] & 0xC0) != 0x80) {
            return 0;
        }
        value = value << 6 | (at[k] & 0x3F);
    }
    return count + 1;
}

bool IsWhiteSpaceCharacter(char32_t value) {
    return value <= 0xFFFF && IsCommandWhiteSpace(static_cast<char16_t>(value));
}

// Writes a unit's text: its two, three or four digits and a space; may
// overwrite one character after.
inline char* WriteUnit(char* out, char32_t unit) {
    const auto& texts = unit_text::kByteTexts<char>;
    if (unit < 0x100) {
        std::memcpy(out, texts[unit].data(), 4);
        return out + 3;
    }
    if (unit < 0x1000) {
        *out = static_cast<char>(hex_text::kDigits[unit >> 8]);
        std::memcpy(out + 1, texts[unit & 0xFF].data(), 4);
        return out + 4;
    }
    std::memcpy(out, texts[unit >> 8].data(), 4);
    std::memcpy(out + 2, texts[unit & 0xFF].data(), 4);
    return out + 5;
}

// The one walk: the text at `out` when kText, the raw bytes in `bytes`
// when kBytes.
template <bool kText, bool kBytes> class Walker {
  public:
    // `most`: the most units the command can have, its bytes.
    Walker(char* out, std::size_t most, MessageBytes* bytes)
        : head_(out), out_(out), width_(hex_text::Width(most)), bytes_(bytes) {
        if constexpr (kText) {
            // Room for the length, written at the end in at most as many
            // digits as `most` has.
            out_ = message::WriteHead(out_, most);
        }
    }

    // Returns the end of the text (or the `out` given), or nullptr for
    // ill-formed UTF-8.
    char* Walk(std::string_view command) {
        const auto* in = reinterpret_cast<const unsigned char*>(command.data());
        const auto* const end = in + command.size();
        while (in != end) {
            if (*in < 0x80) {
                // Eight or four at a time where they are all ASCII, as most
                // commands are, else one.
                if (AllAscii<8>(in, end)) {
                    Ascii<8>(in);
                    in += 8;
                } else if (AllAscii<4>(in, end)) {
                    Ascii<4>(in);
                    in += 4;
                } else {
                    Ascii<1>(in);
                    ++in;
                }
                continue;
            }
            char32_t value = 0;
            // Two bytes, the usual case beyond ASCII, checked here; the rest
            // by DecodeOne.
            const std::size_t size =
                in[0] >= 0xC2 && in[0] < 0xE0 && end - in >= 2 && (in[1] & 0xC0) == 0x80
                    ? (value = (in[0] & 0x1Fu) << 6 | (in[1] & 0x3Fu), 2)
                    : DecodeOne(in, end, value);
            if (size == 0) {
                return nullptr;
            }
            in += size;
            Wide(value);
        }
        return Finish();
    }

  private:
    // Whether the `count` bytes at `in` are there and all ASCII.
    template <std::size_t count>
    static bool AllAscii(const unsigned char* in, const unsigned char* end) {
        using Word = std::conditional_t<count == 8, std::uint64_t, std::uint32_t>;
        Word word = 0;
        if (static_cast<std::size_t>(end - in) < count) {
            return false;
        }
        std::memcpy(&word, in, count);
        return (word & static_cast<Word>(0x8080808080808080u)) == 0;
    }

    // `count` ASCII units at `in`.
    template <std::size_t count> void Ascii(const unsigned char* in) {
        if constexpr (kText) {
            for (std::size_t k = 0; k < count; ++k) {
                std::memcpy(out_ + 3 * k, unit_text::kByteTexts<char>[in[k]].data(), 4);
            }
            out_ += 3 * count;
        }
        if constexpr (kBytes) {
            if (units_ <= message::kLastDataByte) {
                // Past the 127th unit only into the scratch room, and only
                // for a message that fails at its length.
                std::memcpy(bytes_->data.data() + message::kFirstUnitPosition + units_, in, count);
            }
        }
        units_ += count;
    }

    // A character beyond ASCII: one unit, or beyond the Basic Multilingual
    // Plane a surrogate pair.
    void Wide(char32_t value) {
        const bool pair = value > 0xFFFF;
        const char32_t first = pair ? 0xD800 + ((value - 0x10000) >> 10) : value;
        if (kBytes && !wide_) {
            wide_ = message::NonDataValue{message::kFirstUnitPosition + units_, first};
        }
        if constexpr (kText) {
            out_ = WriteUnit(out_, first);
            if (pair) {
                out_ = WriteUnit(out_, 0xDC00 + (value & 0x3FF));
            }
        }
        units_ += pair ? 2 : 1;
    }

    char* Finish() {
        if constexpr (kBytes) {
            // The length is judged first: it comes before every unit.
            if (detail::StartBytes(units_, *bytes_)) {
                if (wide_) {
                    bytes_->nonData = wide_;
                    bytes_->size = 0;
                } else {
                    bytes_->size += units_;
                    bytes_->data[bytes_->size++] = message::kTrailer;
                }
            }
        }
        if constexpr (kText) {
            char* const length = head_ + message::kHeadText<char>.size();
            const std::size_t width = hex_text::Width(units_);
            if (width < width_) {
                // Fewer digits than there was room for: the units move up.
                char* const units = length + width_ + 1;
                std::memmove(units - (width_ - width), units,
                             static_cast<std::size_t>(out_ - units));
                out_ -= width_ - width;
                length[width] = ' ';
            }
            if (width == 2) {
                std::memcpy(length, unit_text::kByteTexts<char>[units_].data(), 2);
            } else {
                hex_text::Write(length, units_, width);
            }
            out_ = message::WriteTrailer(out_);
        }
        return out_;
    }

    char* const head_;
    char* out_;
    const std::size_t width_; // the digits left for the length
    MessageBytes* const bytes_;
    std::size_t units_ = 0;
    std::optional<message::NonDataValue> wide_; // the first unit above 7f
};

} // namespace

Utf8Shape ScanUtf8Trimming(std::string_view line) {
    const auto* const p = reinterpret_cast<const unsigned char*>(line.data());
    const std::size_t n = line.size();
    std::size_t i = 0;
    char32_t value = 0;
    while (i < n) {
        if (p[i] < 0x80) {
            if (!IsCommandWhiteSpace(p[i])) {
                break;
            }
            ++i;
            continue;
        }
        const std::size_t size = DecodeOne(p + i, p + n, value);
        if (size == 0) {
            return {};
        }
        if (!IsWhiteSpaceCharacter(value)) {
            break;
        }
        i += size;
    }
    std::size_t j = n;
    while (j > i) {
        if (p[j - 1] < 0x80) {
            if (!IsCommandWhiteSpace(p[j - 1])) {
                break;
            }
            --j;
            continue;
        }
        // Back to the character's lead byte, at most three bytes before.
        std::size_t k = j - 1;
        while (k > i && j - k < 4 && (p[k] & 0xC0) == 0x80) {
            --k;
        }
        if (DecodeOne(p + k, p + j, value) != j - k) {
            return {};
        }
        if (!IsWhiteSpaceCharacter(value)) {
            break;
        }
        j = k;
    }
    return {i, j - i, j - i >= kKeyword.size() && detail::StartsWithKeyword(line.data() + i)};
}

char* WriteUtf8Message(char* out, std::string_view command, MessageBytes* bytes) {
    return bytes != nullptr ? Walker<true, true>(out, command.size(), bytes).Walk(command)
                            : Walker<true, false>(out, command.size(), nullptr).Walk(command);
}

bool AppendUtf8Message(std::string& text, std::string_view command, std::string_view after,
                       MessageBytes* bytes) {
    const std::size_t before = text.size();
    const std::size_t most = MostUtf8MessageLength(command.size()) + after.size();
    // Writes at `data`, `before` characters in, and returns the new size.
    auto write = [&](char* data) {
        char* end = bytes != nullptr
                        ? Walker<true, true>(data + before, command.size(), bytes).Walk(command)
                        : Walker<true, false>(data + before, command.size(), nullptr).Walk(command);
        if (end == nullptr) {
            return before;
        }
        for (const char c : after) {
            *end++ = c;
        }
        return static_cast<std::size_t>(end - data);
    };
    std::size_t size = 0;
#ifdef __cpp_lib_string_resize_and_overwrite
    // One step, with no zero fill of the room first (as in detail::Extend).
    text.resize_and_overwrite(before + most, [&](char* data, std::size_t) {
        size = write(data);
        return size;
    });
#else
    detail::Extend(text, most);
    size = write(text.data());
    text.resize(size);
#endif
    return size != before;
}

bool MakeUtf8Bytes(std::string_view command, MessageBytes& bytes) {
    char unused = 0;
    return Walker<false, true>(&unused, command.size(), &bytes).Walk(command) != nullptr;
}

} // namespace conversion
