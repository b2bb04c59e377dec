// The command conversion over a command given as a sequence of pieces of
// code units, so that a caller holding only part of a long command at a time
// (vantrel-convert reading a long line) follows the same rules as one holding
// it whole (the dialog: ConvertCommand.h, the one-piece case). Every rule of
// the conversion lives here once: trimming, the keyword, the complaint, the
// length and the data-byte check.
//
// A conversion is two steps. Scan reads every piece and finds the command's
// shape: where the trimmed command lies, its length and whether it begins
// with the keyword. Then one writer walks the trimmed command once and gives
// the answer to a sink piece by piece: WriteMessage the message text
// (Message.h) and, in the same walk, for the command-line tool the
// data-byte check and the raw message (MessageBytes); WriteComplaint
//   "<trimmed command>" does not start with "set "
//
// Pieces: any object `pieces` that, called as pieces(take), calls
// take(piece) for each piece in order, stopping early when take returns
// false; each piece is a std::basic_string_view<Unit>, where Unit is
// char16_t, or char for text known to be ASCII given as its bytes (each
// byte one code unit). The writers call it again, so it must give the same
// pieces every time. HeldPieces gives a text held whole.
//
// Sinks: any object `sink` with Buffer(), a std::basic_string<Char>& the
// writers append to, and Flush(), called after each piece's part and at the
// end, which may take the text away (to escape it, or to hand it on) and
// returns false to stop the writing. Char is char16_t (UTF-16, the dialog) or
// char (UTF-8, the command-line tool): the writers write in the sink's own
// encoding, so nothing is encoded twice. The message text is ASCII; a
// complaint echoes the command, in UTF-8 with a lone surrogate as U+FFFD.
// Every Flush gets whole characters only: a piece may end inside a surrogate
// pair, and the writers carry its high surrogate over to the next piece.
#pragma once

#include "CodeUnits.h"
#include "Message.h"
#include "Utf8.h"

#include <algorithm>
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <utility>

// True for the code units that trimming removes: the six ASCII white-space
// characters (tab, line feed, vertical tab, form feed, carriage return and
// space) and the other Unicode White_Space characters of the Basic
// Multilingual Plane (U+0085, U+00A0, U+1680, U+2000 to U+200A, U+2028,
// U+2029, U+202F, U+205F and U+3000). The set is fixed rather than taken from
// the C library's iswspace, whose answer beyond ASCII differs between
// platforms and locales.
constexpr bool IsCommandWhiteSpace(char16_t unit) noexcept {
    if (unit <= 0x20) {
        return unit == 0x20 || (unit >= 0x09 && unit <= 0x0D);
    }
    if (unit < 0x85) {
        return false;
    }
    switch (unit) {
    case 0x0085: // next line
    case 0x00A0: // no-break space
    case 0x1680: // Ogham space mark
    case 0x2028: // line separator
    case 0x2029: // paragraph separator
    case 0x202F: // narrow no-break space
    case 0x205F: // medium mathematical space
    case 0x3000: // ideographic space
        return true;
    default:
        return unit >= 0x2000 && unit <= 0x200A; // en quad to hair space
    }
}

namespace conversion {

// A command is accepted when its trimmed form begins with this keyword, the
// letters A to Z in either case.
inline constexpr std::u16string_view kKeyword = u"set ";
// A refused command is answered with the trimmed command between these.
inline constexpr std::string_view kComplaintBefore = "\"";
inline constexpr std::string_view kComplaintAfter = "\" does not start with \"set \"";

// A text held whole, given as pieces of at most `size` units, at least one
// (by default the whole text as one piece).
template <typename Unit> struct HeldPieces {
    std::basic_string_view<Unit> text;
    std::size_t size = std::basic_string_view<Unit>::npos;

    template <typename Take> void operator()(Take&& take) const {
        if (text.size() <= size) {
            if (!text.empty()) {
                take(text); // the usual case
            }
            return;
        }
        for (std::size_t at = 0; at < text.size(); at += size) {
            if (!take(text.substr(at, size))) {
                return;
            }
        }
    }
};
template <typename Unit> HeldPieces(std::basic_string_view<Unit>) -> HeldPieces<Unit>;
template <typename Unit> HeldPieces(std::basic_string_view<Unit>, std::size_t) -> HeldPieces<Unit>;

// What Scan finds: the trimmed command is units [first, first + length) of
// the pieces together.
struct CommandShape {
    std::size_t first = 0;
    std::size_t length = 0;
    bool accepted = false;
};

// The shape of a command that is trimmed already and accepted: the whole
// text, for writing the message of a command known in advance.
constexpr CommandShape AcceptedWhole(std::size_t length) {
    return {0, length, true};
}

namespace detail {

// Up to four units packed in 64 bits, unit k in bits 16k to 16k + 15, so that
// the keyword is found with one comparison.
constexpr std::uint64_t Packed(std::u16string_view units) {
    std::uint64_t packed = 0;
    for (std::size_t k = 0; k < units.size(); ++k) {
        packed |= std::uint64_t{units[k]} << (16 * k);
    }
    return packed;
}
static_assert(kKeyword.size() == 4, "the keyword is packed in 64 bits");

// Setting bit 5 folds an ASCII capital to its small letter; of all code
// units, only a small letter and its capital give that letter so.
constexpr std::uint64_t kKeywordCaseBits = [] {
    std::uint64_t bits = 0;
    for (std::size_t k = 0; k < kKeyword.size(); ++k) {
        bits |= std::uint64_t{kKeyword[k] >= u'a' && kKeyword[k] <= u'z' ? 0x20u : 0u} << (16 * k);
    }
    return bits;
}();

} // namespace detail

// Reads every piece once and finds the command's shape; writes nothing.
template <typename Pieces> CommandShape Scan(Pieces&& pieces) {
    constexpr std::size_t kNone = std::u16string_view::npos;
    std::size_t at = 0; // units before the current piece
    std::size_t first = kNone;
    std::size_t end = 0;
    std::uint64_t start = 0; // the command's first units, packed
    std::size_t started = 0;
    pieces([&](auto piece) {
        std::size_t i = 0;
        if (first == kNone) {
            while (i < piece.size() && IsCommandWhiteSpace(code_units::Value(piece[i]))) {
                ++i;
            }
            if (i == piece.size()) {
                at += piece.size();
                return true;
            }
            first = at + i;
        }
        if (started == 0 && piece.size() - i >= kKeyword.size()) {
            // The usual case: the piece holds the command's first units.
            for (std::size_t k = 0; k < kKeyword.size(); ++k) {
                start |= std::uint64_t{code_units::Value(piece[i + k])} << (16 * k);
            }
            started = kKeyword.size();
        }
        for (std::size_t k = i; started < kKeyword.size() && k < piece.size(); ++k, ++started) {
            start |= std::uint64_t{code_units::Value(piece[k])} << (16 * started);
        }
        // The last unit that is not white space, if this piece has one: i
        // is the first of the command or 0.
        std::size_t j = piece.size();
        while (j > i && IsCommandWhiteSpace(code_units::Value(piece[j - 1]))) {
            --j;
        }
        if (j > i) {
            end = at + j;
        }
        at += piece.size();
        return true;
    });
    if (first == kNone) {
        return {at, 0, false};
    }
    const bool keyword = end - first >= kKeyword.size() &&
                         (start | detail::kKeywordCaseBits) == detail::Packed(kKeyword);
    return {first, end - first, keyword};
}

// Calls take(part) with the part of each piece that lies within the trimmed
// command, in order, until take returns false.
template <typename Pieces, typename Take>
void EachPart(Pieces&& pieces, const CommandShape& shape, Take&& take) {
    const std::size_t end = shape.first + shape.length;
    if (shape.length == 0) {
        return;
    }
    std::size_t at = 0;
    pieces([&](auto piece) {
        const std::size_t begin = at;
        at += piece.size();
        const std::size_t from = std::max(shape.first, begin);
        const std::size_t to = std::min(end, at);
        if (from < to && !take(piece.substr(from - begin, to - from))) {
            return false;
        }
        return at < end; // nothing after the command is needed
    });
}

namespace detail {

template <typename Sink>
using SinkChar =
    typename std::remove_reference_t<decltype(std::declval<Sink&>().Buffer())>::value_type;

// Makes `text` `more` characters longer and returns where they start. The
// new characters are left as they are, not zero filled, for the caller to
// write (conversion/Conversion.cpp; defined for char and char16_t).
template <typename Char> Char* Extend(std::basic_string<Char>& text, std::size_t more);

// Appends what write(at) writes at `at`, which ends at most `most`
// characters on, to `text`.
template <typename Char, typename Write>
void AppendWritten(std::basic_string<Char>& text, std::size_t most, Write&& write) {
    const Char* const end = write(Extend(text, most));
    text.resize(static_cast<std::size_t>(end - text.data()));
}

template <typename Char, typename Given>
void AppendAs(std::basic_string<Char>& text, std::basic_string_view<Given> given) {
    if constexpr (std::is_same_v<Char, Given>) {
        text += given;
    } else {
        for (const Given c : given) {
            text += static_cast<Char>(c);
        }
    }
}

// Appends the command's units as text in the sink's encoding.
template <typename Char, typename Unit>
void AppendUnits(std::basic_string<Char>& text, std::basic_string_view<Unit> units,
                 char16_t& pending) {
    if constexpr (std::is_same_v<Char, char> && std::is_same_v<Unit, char16_t>) {
        AppendUtf8(units, text, pending);
    } else {
        // UTF-16 as it is, or ASCII bytes, which are their own UTF-8 and
        // UTF-16 forms.
        AppendAs(text, units);
    }
}

} // namespace detail

// The raw bytes of an accepted command's message, made in the same walk as
// its text: they are made only for a message that is valid MIDI, at most
// kMostBytes of them; otherwise `nonData` names the first value that is not
// a data byte (see message::FindNonDataValue).
struct MessageBytes {
    static constexpr std::size_t kMostBytes =
        message::kFirstUnitPosition + message::kLastDataByte + 1;
    // Seven more, room for a writer that stores eight units at a time.
    std::array<std::uint8_t, kMostBytes + 7> data{};
    std::size_t size = 0;
    std::optional<message::NonDataValue> nonData;

    std::span<const std::uint8_t> Bytes() const { return {data.data(), size}; }
};

// A sink for a walk that writes no text, only the raw bytes.
struct NoText {};

namespace detail {

// Starts the raw bytes of a message of `length` units, or names its length
// as the value that is not a data byte. True when the units are to follow.
inline bool StartBytes(std::size_t length, MessageBytes& bytes) {
    bytes.size = 0;
    bytes.nonData = message::FindNonDataLength(length);
    if (bytes.nonData) {
        return false;
    }
    std::copy(message::kHeader.begin(), message::kHeader.end(), bytes.data.begin());
    bytes.data[message::kLengthPosition] = static_cast<std::uint8_t>(length);
    bytes.size = message::kFirstUnitPosition;
    return true;
}

// Adds the units of `part`, `offset` units into the command, to the raw
// bytes; at the first that is not a data byte, names it, drops the bytes
// and returns false.
template <typename Unit>
bool AddBytes(std::basic_string_view<Unit> part, std::size_t offset, MessageBytes& bytes) {
    std::uint8_t* const out = bytes.data.data() + bytes.size;
    for (std::size_t i = 0; i < part.size(); ++i) {
        const char16_t unit = code_units::Value(part[i]);
        if (unit > message::kLastDataByte) {
            bytes.nonData = message::NonDataValue{message::kFirstUnitPosition + offset + i, unit};
            bytes.size = 0;
            return false;
        }
        out[i] = static_cast<std::uint8_t>(unit);
    }
    bytes.size += part.size();
    return true;
}

} // namespace detail

// Writes the message text of an accepted command: the head with the first
// part, the trailer with the last. With `bytes`, the same walk checks the
// message and makes its raw bytes (MessageBytes); with a NoText sink it does
// only that. Returns false if the sink stopped it.
template <typename Sink, typename Pieces>
bool WriteMessage(Sink& sink, Pieces&& pieces, const CommandShape& shape,
                  MessageBytes* bytes = nullptr) {
    constexpr bool kText = !std::is_same_v<Sink, NoText>;
    bool making = bytes != nullptr && detail::StartBytes(shape.length, *bytes);
    if (!kText && !making) {
        return true;
    }
    std::size_t done = 0;
    bool going = true;
    EachPart(pieces, shape, [&](auto part) {
        if (making) {
            making = detail::AddBytes(part, done, *bytes);
        }
        const bool first = done == 0;
        done += part.size();
        if constexpr (kText) {
            using Char = detail::SinkChar<Sink>;
            const bool last = done == shape.length;
            // The units' text, their spare characters, and the head and
            // trailer where they go.
            const std::size_t most = (first ? message::HeadLength(shape.length) : 0) +
                                     message::UnitsLength(part) + message::kSpare +
                                     (last ? message::kTrailerLength : 0);
            detail::AppendWritten(sink.Buffer(), most, [&](Char* at) {
                if (first) {
                    at = message::WriteHead(at, shape.length);
                }
                at = message::WriteUnits(at, part);
                return last ? message::WriteTrailer(at) : at;
            });
            going = sink.Flush();
            return going;
        } else {
            return making;
        }
    });
    if (making) {
        bytes->data[bytes->size++] = message::kTrailer;
    }
    return going;
}

// Writes the complaint for a refused command. Returns false if the sink
// stopped it.
template <typename Sink, typename Pieces>
bool WriteComplaint(Sink& sink, Pieces&& pieces, const CommandShape& shape) {
    auto& text = sink.Buffer();
    detail::AppendAs(text, kComplaintBefore);
    char16_t pending = 0; // a high surrogate that ended the last part
    bool going = true;
    EachPart(pieces, shape, [&](auto part) {
        detail::AppendUnits(text, part, pending);
        going = sink.Flush();
        return going;
    });
    if (!going) {
        return false;
    }
    if constexpr (std::is_same_v<detail::SinkChar<Sink>, char>) {
        FinishUtf8(text, pending);
    }
    detail::AppendAs(text, kComplaintAfter);
    return sink.Flush();
}

// Appends the raw bytes of an accepted command's message to `out` (a .syx
// stream, or what is sent to a device) and returns true, or returns false,
// appending nothing, if the message is not valid MIDI.
template <typename Pieces>
bool AppendBytes(Pieces&& pieces, const CommandShape& shape, std::string& out) {
    NoText none;
    MessageBytes bytes;
    WriteMessage(none, pieces, shape, &bytes);
    out.append(reinterpret_cast<const char*>(bytes.data.data()), bytes.size);
    return !bytes.nonData;
}

// A sink that gathers the whole text in a string.
template <typename Char> struct StringSink {
    std::basic_string<Char>& text;
    std::basic_string<Char>& Buffer() { return text; }
    bool Flush() { return true; }
};

} // namespace conversion
