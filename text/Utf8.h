// UTF-8 to and from UTF-16, the one codec of the project: vantrel-convert's
// arguments and input lines arrive as UTF-8 bytes and become the UTF-16 code
// units that the conversion takes; decoded commands, Windows device names and
// texts for people go back out as UTF-8.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cwchar>
#include <optional>
#include <string>
#include <string_view>

// Where and why a byte string is not well-formed UTF-8.
struct Utf8Error {
    // Offset, counted from 0, of the first byte of the ill-formed sequence.
    std::size_t offset = 0;
    // The byte at `offset`.
    unsigned char byte = 0;
    // What is wrong, in a few words ("overlong encoding", ...).
    const char* reason = "";
};

// Replaces `units` with the UTF-16 code units of `bytes`. Characters outside
// the Basic Multilingual Plane become surrogate pairs. Ill-formed UTF-8
// (stray or missing continuation bytes, overlong forms, encoded surrogates,
// values above U+10FFFF) gives the first error; `units` then holds only part
// of the text and is not to be used.
std::optional<Utf8Error> DecodeUtf8(std::string_view bytes, std::u16string& units);

// Decodes `bytes` in pieces of about `pieceBytes`, cut only between
// characters, and calls `take(units)` with the units of each piece in order,
// so that a long text is never held as UTF-16 all at once. Gives the same
// error, at the same offset, as DecodeUtf8 on the whole; pieces before an
// error have been taken by then.
template <typename Take>
std::optional<Utf8Error> DecodeUtf8InPieces(std::string_view bytes, std::size_t pieceBytes,
                                            std::u16string& buffer, Take take) {
    auto byteAt = [&](std::size_t at) { return static_cast<unsigned char>(bytes[at]); };
    for (std::size_t at = 0; at < bytes.size();) {
        std::size_t end = std::min(bytes.size(), at + pieceBytes);
        // Cut between characters: if a lead byte up to three bytes back
        // begins a sequence that reaches past the cut, cut before it.
        for (std::size_t lead = end; end < bytes.size() && lead > at && end - lead < 3;) {
            const unsigned char first = byteAt(--lead);
            if ((first & 0xC0) != 0x80) {
                const std::size_t size = first >= 0xF0   ? 4
                                         : first >= 0xE0 ? 3
                                         : first >= 0xC0 ? 2
                                                         : 1;
                if (lead + size > end && lead > at) {
                    end = lead;
                }
                break;
            }
        }
        if (auto error = DecodeUtf8(bytes.substr(at, end - at), buffer)) {
            // Seen whole, a sequence cut short here has up to three more bytes
            // after it, which name its fault; decode again with them.
            if (auto whole =
                    DecodeUtf8(bytes.substr(at, std::min(bytes.size(), end + 3) - at), buffer)) {
                error = whole;
            }
            error->offset += at;
            return error;
        }
        if (!take(std::u16string_view(buffer))) {
            break;
        }
        at = end;
    }
    return std::nullopt;
}

// Appends the UTF-8 form of `units` to `out`. A surrogate that is not part of
// a pair has no UTF-8 form and is written as U+FFFD REPLACEMENT CHARACTER.
void AppendUtf8(std::u16string_view units, std::string& out);

// The same for one piece of a longer text, where a piece may end inside a
// surrogate pair: a high surrogate at the end of `units` is held in `pending`
// (0 when none is held) and paired with the first unit of the next piece.
// After the last piece, FinishUtf8 writes a surrogate still held as U+FFFD.
// The pieces together give exactly what AppendUtf8 gives for the whole.
void AppendUtf8(std::u16string_view units, std::string& out, char16_t& pending);
void FinishUtf8(std::string& out, char16_t& pending);

// The UTF-8 form of `units`, as AppendUtf8 writes it.
std::string ToUtf8(std::u16string_view units);

#if WCHAR_MAX == 0xFFFF
// On Windows, wchar_t text is UTF-16 too: Win32's wide strings (device
// names, window texts) as UTF-8.
inline std::string ToUtf8(std::wstring_view units) {
    return ToUtf8(std::u16string(units.begin(), units.end()));
}
#endif

// The error as text for messages on standard error:
// "invalid UTF-8 at byte offset 5 (byte e9): <reason>".
std::string DescribeUtf8Error(const Utf8Error& error);
