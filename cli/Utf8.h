// UTF-8 for vantrel-convert: its arguments and input lines arrive as UTF-8
// bytes and become the UTF-16 code units that ConvertCommand takes; results
// and decoded commands go back out as UTF-8.
#pragma once

#include <cstddef>
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

// Appends the UTF-8 form of `units` to `out`. A surrogate that is not part of
// a pair has no UTF-8 form and is written as U+FFFD REPLACEMENT CHARACTER.
void AppendUtf8(std::u16string_view units, std::string& out);

// The error as text for messages on standard error:
// "invalid UTF-8 at byte offset 5 (byte e9): <reason>".
std::string DescribeUtf8Error(const Utf8Error& error);
