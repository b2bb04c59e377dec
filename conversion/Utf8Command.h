// The conversion of a command held whole as UTF-8 bytes, in one walk:
// vantrel-convert's input line. The rules are those of Conversion.h;
// what differs is the way. The general way decodes a line to UTF-16 units
// and then reads them again to write, to check and to make raw bytes; here
// the bytes are decoded as the text and the raw bytes are written, so each
// byte of the command is read once on its way to both.
//
// Only an accepted command goes this way. A refused one, whose complaint
// echoes it, goes the general way, and so does ill-formed UTF-8, which
// these functions only notice: the general way names the fault.
#pragma once

#include "Conversion.h"

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace conversion {

// Where the trimmed command lies in a line of UTF-8, in bytes, and whether
// it is accepted. Not accepted also when the white space trimmed is not
// well-formed UTF-8: such a line goes the general way.
struct Utf8Shape {
    std::size_t first = 0;
    std::size_t size = 0;
    bool accepted = false;
};

namespace detail {

// The keyword's bytes packed as a little-endian 32-bit word, and the bits
// that fold its letters' capitals to them.
inline constexpr std::uint32_t kKeywordBytes = [] {
    std::uint32_t packed = 0;
    for (std::size_t k = 0; k < kKeyword.size(); ++k) {
        packed |= std::uint32_t{kKeyword[k]} << (8 * k);
    }
    return packed;
}();
inline constexpr std::uint32_t kKeywordByteCase = [] {
    std::uint32_t bits = 0;
    for (std::size_t k = 0; k < kKeyword.size(); ++k) {
        bits |= std::uint32_t{kKeyword[k] >= u'a' && kKeyword[k] <= u'z' ? 0x20u : 0u} << (8 * k);
    }
    return bits;
}();

// Whether the four bytes at `at` are the keyword, in either case. A byte
// from 0x80 up never is.
inline bool StartsWithKeyword(const char* at) {
    const auto* const p = reinterpret_cast<const unsigned char*>(at);
    const std::uint32_t start = std::uint32_t{p[0]} | std::uint32_t{p[1]} << 8 |
                                std::uint32_t{p[2]} << 16 | std::uint32_t{p[3]} << 24;
    return (start | kKeywordByteCase) == kKeywordBytes;
}

// A byte that can end a command that needs no trimming: ASCII, not white
// space.
constexpr bool IsPlainEnd(char c) {
    const auto byte = static_cast<unsigned char>(c);
    return byte > 0x20 && byte < 0x80;
}

} // namespace detail

// ScanUtf8 for a line with white space, or a byte from 0x80 up, at an end.
Utf8Shape ScanUtf8Trimming(std::string_view line);

// Trims `line` and looks for the keyword; reads only the white space at
// both ends and the keyword's bytes.
inline Utf8Shape ScanUtf8(std::string_view line) {
    if (line.size() >= kKeyword.size() && detail::IsPlainEnd(line.front()) &&
        detail::IsPlainEnd(line.back())) {
        // The usual line: nothing to trim.
        return {0, line.size(), detail::StartsWithKeyword(line.data())};
    }
    return ScanUtf8Trimming(line);
}

// The most characters WriteUtf8Message writes for a command of `bytes`
// bytes, one spare character past the end of its text included: three a
// byte at most (an ASCII unit's two digits and a space; other characters
// take more bytes than characters of text), the head with a length of as
// many digits as `bytes` has (there are no more units than bytes), and the
// trailer.
constexpr std::size_t MostUtf8MessageLength(std::size_t bytes) {
    return message::HeadLength(bytes) + 3 * bytes + message::kTrailerLength + 1;
}

// Writes the message text of an accepted command, given as the UTF-8 bytes
// of its trimmed form, at `out`, and
// returns its end; may overwrite one character past the end. With `bytes`,
// the same walk checks the message and makes its raw bytes. Returns nullptr
// if the command is not well-formed UTF-8.
char* WriteUtf8Message(char* out, std::string_view command, MessageBytes* bytes = nullptr);

// The same appended to `text`, followed by `after` (the tool's line end):
// true, or false, appending nothing, if the command is not well-formed
// UTF-8.
bool AppendUtf8Message(std::string& text, std::string_view command, std::string_view after,
                       MessageBytes* bytes = nullptr);

// The raw bytes alone, as WriteUtf8Message makes them; false if the
// command is not well-formed UTF-8.
bool MakeUtf8Bytes(std::string_view command, MessageBytes& bytes);

} // namespace conversion
