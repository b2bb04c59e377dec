// The conversion of a command given in pieces, as a test sees it: the whole
// result text in one string.
#pragma once

#include "Conversion.h"

#include <string>
#include <string_view>

// The result for `typed` given in pieces of `size` units, written as Char:
// UTF-16 as the dialog shows it, or UTF-8 as vantrel-convert prints it.
template <typename Char, typename Unit>
std::basic_string<Char> ConvertInPieces(std::basic_string_view<Unit> typed, std::size_t size) {
    const conversion::HeldPieces pieces{typed, size};
    const conversion::CommandShape shape = conversion::Scan(pieces);
    std::basic_string<Char> text;
    conversion::StringSink<Char> sink{text};
    if (shape.accepted) {
        conversion::WriteMessage(sink, pieces, shape);
    } else {
        conversion::WriteComplaint(sink, pieces, shape);
    }
    return text;
}
