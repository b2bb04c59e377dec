// Tests of the command conversion, for a command held whole (ConvertCommand)
// and given in pieces. The same source runs natively and, cross built, under
// Wine, so both builds are held to the same answers.
#include "ConvertCommand.h"
#include "EveryPath.h"
#include "InPieces.h"
#include "Message.h"
#include "ReferenceConversion.h"
#include "Utf8Command.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <random>
#include <span>
#include <sstream>
#include <string>
#include <vector>

namespace {

struct Example {
    std::u16string typed;
    std::u16string trimmed;
    std::u16string result;
};

// Pieces of one unit and of seven split surrogate pairs and the keyword;
// 64 Ki is the command-line tool's piece.
constexpr std::size_t kPieceSizes[] = {1, 7, 64 * 1024};

// `result` is what ConvertCommand gave for `typed`; the pieces must agree.
::testing::AssertionResult PiecesAgree(const std::u16string& typed, const std::u16string& result) {
    const std::string utf8 = ToUtf8(result);
    // Text of ASCII may be given as its bytes, as the tool gives a line.
    const bool ascii = std::all_of(typed.begin(), typed.end(), [](char16_t u) { return u < 0x80; });
    const std::string bytes(typed.begin(), typed.end());
    for (const std::size_t size : kPieceSizes) {
        if (ConvertInPieces<char16_t>(std::u16string_view(typed), size) != result) {
            return ::testing::AssertionFailure() << "UTF-16 in pieces of " << size;
        }
        if (ConvertInPieces<char>(std::u16string_view(typed), size) != utf8) {
            return ::testing::AssertionFailure() << "UTF-8 in pieces of " << size;
        }
        if (ascii && ConvertInPieces<char>(std::string_view(bytes), size) != utf8) {
            return ::testing::AssertionFailure() << "UTF-8 from bytes in pieces of " << size;
        }
    }
    return ::testing::AssertionSuccess();
}

// The one walk over a command held whole as UTF-8 (Utf8Command.h)
// must agree too, for text without lone surrogates: the verdict, the text,
// and the raw bytes and check against those made from UTF-16 in pieces.
::testing::AssertionResult WholeUtf8Agrees(const std::u16string& typed,
                                           const std::u16string& result) {
    if (std::any_of(typed.begin(), typed.end(),
                    [](char16_t u) { return u >= 0xD800 && u < 0xE000; })) {
        return ::testing::AssertionSuccess();
    }
    const std::string line = ToUtf8(typed);
    const conversion::Utf8Shape shape = conversion::ScanUtf8(line);
    if (shape.accepted != result.starts_with(u"F0 ")) {
        return ::testing::AssertionFailure() << "verdict of the UTF-8 line";
    }
    if (!shape.accepted) {
        return ::testing::AssertionSuccess();
    }
    const std::string_view command = std::string_view(line).substr(shape.first, shape.size);
    std::u16string units;
    DecodeUtf8(command, units);
    std::string expectedBytes;
    const bool valid =
        conversion::AppendBytes(conversion::HeldPieces{std::u16string_view(units), 7},
                                conversion::AcceptedWhole(units.size()), expectedBytes);
    conversion::MessageBytes made;
    conversion::MessageBytes alone;
    std::vector<char> text(conversion::MostUtf8MessageLength(command.size()));
    char* const end = conversion::WriteUtf8Message(text.data(), command, &made);
    if (end == nullptr || std::string(text.data(), end) != ToUtf8(result)) {
        return ::testing::AssertionFailure() << "text from the UTF-8 line";
    }
    if (!conversion::MakeUtf8Bytes(command, alone) || alone.Bytes().size() != made.size ||
        !std::equal(made.Bytes().begin(), made.Bytes().end(), alone.Bytes().begin()) ||
        alone.nonData != made.nonData) {
        return ::testing::AssertionFailure() << "raw bytes alone and with the text differ";
    }
    if (made.nonData != message::FindNonDataValue(units) || valid == made.nonData.has_value() ||
        std::string(made.Bytes().begin(), made.Bytes().end()) != expectedBytes) {
        return ::testing::AssertionFailure() << "raw bytes or check from the UTF-8 line";
    }
    return ::testing::AssertionSuccess();
}

// Reads the message text `result` gives back through the reader of values,
// as 16-bit values and, when they fit, as bytes: the trimmed command comes
// back, or for a command with a line feed or a lone surrogate that problem.
::testing::AssertionResult ReadsBack(const std::u16string& trimmed, const std::u16string& result) {
    if (result.empty() || result.front() != u'F') {
        return ::testing::AssertionSuccess(); // a complaint carries no message
    }
    std::istringstream words(std::string(result.begin(), result.end()));
    std::vector<std::uint32_t> values;
    for (unsigned value = 0; words >> std::hex >> value;) {
        values.push_back(value);
    }
    std::optional<message::ReadProblem::Kind> expected;
    for (std::size_t i = 0; i < trimmed.size() && !expected; ++i) {
        const char16_t unit = trimmed[i];
        const bool high = unit >= 0xD800 && unit <= 0xDBFF;
        const bool low = unit >= 0xDC00 && unit <= 0xDFFF;
        if (unit == u'\n') {
            expected = message::ReadProblem::Kind::LineFeed;
        } else if ((high && (i + 1 == trimmed.size() || trimmed[i + 1] < 0xDC00 ||
                             trimmed[i + 1] > 0xDFFF)) ||
                   (low && (i == 0 || trimmed[i - 1] < 0xD800 || trimmed[i - 1] > 0xDBFF))) {
            expected = message::ReadProblem::Kind::LoneSurrogate;
        } else if (high) {
            ++i; // its partner
        }
    }
    auto agrees = [&](const auto& given) -> ::testing::AssertionResult {
        std::u16string command;
        const auto problem = message::ReadValues(std::span(given), command);
        if (problem ? !expected || problem->kind != *expected : expected || command != trimmed) {
            return ::testing::AssertionFailure()
                   << "read back from values of " << sizeof(given[0]) << " bytes";
        }
        return ::testing::AssertionSuccess();
    };
    if (auto wide = agrees(values); !wide) {
        return wide;
    }
    if (std::all_of(values.begin(), values.end(), [](std::uint32_t v) { return v < 0x100; })) {
        return agrees(std::vector<std::uint8_t>(values.begin(), values.end()));
    }
    return ::testing::AssertionSuccess();
}

void ExpectConversion(const Example& example) {
    std::u16string command = example.typed;
    const std::u16string result = ConvertCommand(command);
    EXPECT_EQ(example.trimmed, command) << "trimmed form of the typed command";
    EXPECT_EQ(example.result, result);
    EXPECT_TRUE(PiecesAgree(example.typed, example.result));
    EXPECT_TRUE(WholeUtf8Agrees(example.typed, example.result));
    EXPECT_TRUE(ReadsBack(example.trimmed, example.result));
}

const std::u16string kRefusal = u"\" does not start with \"set \"";

TEST(ConvertCommand, WorkedExamples) {
    const Example examples[] = {
        {u"set x", u"set x", u"F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7"},
        {u"  Set Mode 1  ", u"Set Mode 1",
         u"F0 00 00 40 02 00 00 61 0a 53 65 74 20 4d 6f 64 65 20 31 F7"},
        {u"go 1", u"go 1", u"\"go 1\" does not start with \"set \""},
    };
    for (const Example& example : examples) {
        SCOPED_TRACE(std::string(example.typed.begin(), example.typed.end()));
        ExpectConversion(example);
    }
}

TEST(ConvertCommand, KeywordFoldsOnlyAsciiLettersAndNeedsASpace) {
    const Example examples[] = {
        {u"SET x", u"SET x", u"F0 00 00 40 02 00 00 61 05 53 45 54 20 78 F7"},
        {u"sEt x", u"sEt x", u"F0 00 00 40 02 00 00 61 05 73 45 74 20 78 F7"},
        {u"set", u"set", u"\"set" + kRefusal},
        // Trimming takes the keyword's own space away before the test.
        {u"set ", u"set", u"\"set" + kRefusal},
        {u"set\tx", u"set\tx", u"\"set\tx" + kRefusal},
        {u"set\u00A0x", u"set\u00A0x", u"\"set\u00A0x" + kRefusal},
        // U+017F (long s) and U+FF53 (fullwidth s) fold to "s" under Unicode
        // rules but are not the letters A to Z.
        {u"\u017Fet x", u"\u017Fet x", u"\"\u017Fet x" + kRefusal},
        {u"\uFF53et x", u"\uFF53et x", u"\"\uFF53et x" + kRefusal},
        {u"se", u"se", u"\"se" + kRefusal},
        {u"xset x", u"xset x", u"\"xset x" + kRefusal},
    };
    for (const Example& example : examples) {
        SCOPED_TRACE(std::string(example.typed.begin(), example.typed.end()));
        ExpectConversion(example);
    }
}

TEST(ConvertCommand, TrimsWhiteSpaceAtEndsOnly) {
    const Example examples[] = {
        {u"", u"", u"\"" + kRefusal},
        {u" \t\r\n\v\f", u"", u"\"" + kRefusal},
        {u"\r\nset x\r\n", u"set x", u"F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7"},
        // Line breaks inside are encoded like any other character.
        {u"set a\r\nb", u"set a\r\nb", u"F0 00 00 40 02 00 00 61 08 73 65 74 20 61 0d 0a 62 F7"},
        // Unicode white space beyond ASCII is trimmed the same on every
        // platform: no-break space, ideographic space, line separator.
        {u"\u00A0\u3000set x\u2028\u0085", u"set x",
         u"F0 00 00 40 02 00 00 61 05 73 65 74 20 78 F7"},
        // Zero-width space and BOM are not white space.
        {u"\u200Bset x", u"\u200Bset x", u"\"\u200Bset x" + kRefusal},
        {u"set x\uFEFF", u"set x\uFEFF", u"F0 00 00 40 02 00 00 61 06 73 65 74 20 78 feff F7"},
    };
    for (const Example& example : examples) {
        SCOPED_TRACE(std::string(example.typed.begin(), example.typed.end()));
        ExpectConversion(example);
    }
}

// For every code unit of the plane, white space and trimming agree with
// the plain model's list.
TEST(ConvertCommand, WhiteSpaceIsThePlainModelsForEveryCodeUnit) {
    for (unsigned c = 0; c <= 0xFFFF; ++c) {
        const auto unit = static_cast<char16_t>(c);
        SCOPED_TRACE(testing::Message() << "U+" << std::hex << c);
        ASSERT_EQ(reference::IsWhiteSpace(unit), IsCommandWhiteSpace(unit));
        const std::u16string typed = unit + (u"set x" + std::u16string(1, unit));
        std::u16string command = typed;
        const std::u16string result = ConvertCommand(command);
        const reference::Outcome expected = reference::Convert(typed);
        ASSERT_EQ(expected.trimmed, command);
        ASSERT_EQ(expected.result, result);
    }
}

TEST(ConvertCommand, ComputedValuesAreNeverCutOrMasked) {
    const Example examples[] = {
        {u"set \u0100\u0FFF\u1000\u20AC\uFFFF", u"set \u0100\u0FFF\u1000\u20AC\uFFFF",
         u"F0 00 00 40 02 00 00 61 09 73 65 74 20 100 fff 1000 20ac ffff F7"},
        // A character outside the plane is its surrogate pair: two values.
        {u"set \U0001F600", u"set \U0001F600",
         u"F0 00 00 40 02 00 00 61 06 73 65 74 20 d83d de00 F7"},
        // Lone surrogates and NUL units are ordinary units.
        {u"set \xD800x\xDC00", u"set \xD800x\xDC00",
         u"F0 00 00 40 02 00 00 61 07 73 65 74 20 d800 78 dc00 F7"},
        {std::u16string(u"set \0\x7F\x80\xFF", 8), std::u16string(u"set \0\x7F\x80\xFF", 8),
         u"F0 00 00 40 02 00 00 61 08 73 65 74 20 00 7f 80 ff F7"},
    };
    for (const Example& example : examples) {
        ExpectConversion(example);
    }
}

// The long commands below run through every path the processor has.
using ConvertCommandOnEveryPath = EveryPath;

TEST_P(ConvertCommandOnEveryPath, LengthFieldGrowsPastTwoDigits) {
    struct Case {
        std::size_t length;
        std::u16string field;
    };
    const Case cases[] = {{15, u"0f"},   {16, u"10"},     {255, u"ff"},
                          {256, u"100"}, {4096, u"1000"}, {1 << 20, u"100000"}};
    for (const Case& c : cases) {
        std::u16string command = u"set " + std::u16string(c.length - 4, u'a');
        const std::u16string result = ConvertCommand(command);
        const std::u16string expectedStart = u"F0 00 00 40 02 00 00 61 " + c.field + u" 73 ";
        ASSERT_EQ(expectedStart, result.substr(0, expectedStart.size())) << c.length;
        EXPECT_EQ(expectedStart.size() - 3 + 3 * c.length + 2, result.size()) << c.length;
        EXPECT_EQ(u"61 F7", result.substr(result.size() - 5)) << c.length;
    }
}

TEST(ConvertCommand, SecondCallOnTrimmedCommandChangesNothing) {
    for (std::u16string typed : {u"  set x \t", u" go 1\r\n", u"\u3000SET y"}) {
        const std::u16string first = ConvertCommand(typed);
        const std::u16string trimmed = typed;
        EXPECT_EQ(first, ConvertCommand(typed));
        EXPECT_EQ(trimmed, typed);
    }
}

// Randomised commands checked against the plain model, held whole and in
// pieces. Some rounds draw
// from the characters that matter (white space, keyword letters, surrogates,
// NUL, values above 0xFF); others only from values below 0x100, in long runs,
// which is the usual case and takes the conversion's fastest path.
TEST_P(ConvertCommandOnEveryPath, AgreesWithPlainModelOnRandomCommands) {
    const char16_t alphabet[] = {u' ',   u'\t',  u'\r',  u'\n',  0x00A0, 0x3000, 0x200B, u's',
                                 u'S',   u'e',   u'E',   u't',   u'T',   u'x',   0,      0xD800,
                                 0xDFFF, 0x20AC, 0x0100, 0x0FFF, 0xFFFF, 0x017F, u'"',   u'%'};
    std::mt19937 random(20261207);
    std::uniform_int_distribution<std::size_t> pick(0, std::size(alphabet) - 1);
    std::uniform_int_distribution<unsigned> byte(0, 0xFF);
    std::uniform_int_distribution<std::size_t> length(0, 300);
    for (int round = 0; round < 6000; ++round) {
        std::u16string typed;
        if (round % 2 == 0) {
            typed = u"set ";
        }
        const bool bytesOnly = round % 3 == 0;
        for (std::size_t n = length(random); n > 0; --n) {
            typed += bytesOnly ? static_cast<char16_t>(byte(random)) : alphabet[pick(random)];
        }
        const reference::Outcome expected = reference::Convert(typed);
        std::u16string command = typed;
        const std::u16string result = ConvertCommand(command);
        ASSERT_EQ(expected.trimmed, command) << "round " << round;
        ASSERT_EQ(expected.result, result) << "round " << round;
        ASSERT_TRUE(PiecesAgree(typed, expected.result)) << "round " << round;
        ASSERT_TRUE(WholeUtf8Agrees(typed, expected.result)) << "round " << round;
        ASSERT_TRUE(ReadsBack(expected.trimmed, expected.result)) << "round " << round;
    }
}

// The one walk over UTF-8 takes a line only when DecodeUtf8 finds it
// well-formed, wherever the fault lies: in the command, in the white space
// trimmed, or across the two.
TEST(ConvertCommand, WholeUtf8TakesOnlyWellFormedLines) {
    const std::string lines[] = {"set \xC3",
                                 "set \xC3(",
                                 "set \xE0\x80\x80x",
                                 "set \xED\xA0\x80",
                                 "set \xF4\x90\x80\x80",
                                 "set \x80",
                                 "set \xF5\x80",
                                 "set \xC1\x81",
                                 "\xC2 set x",
                                 "set x \xA0",
                                 "set x\xE2\x80",
                                 "set x\xF0\xE2\x80\x80",
                                 "set x\x80\xC2\xA0",
                                 "\xE3\x80set x",
                                 "set \xF0\x9F\x98\x80",
                                 "\xE3\x80\x80set x\xC2\xA0",
                                 "set \xEF\xBF\xBF",
                                 "set \xF4\x8F\xBF\xBF",
                                 "set \xED\x9F\xBF x\xE2\x80\x8A"};
    for (const std::string& line : lines) {
        SCOPED_TRACE(line);
        std::u16string units;
        const bool wellFormed = !DecodeUtf8(line, units);
        const conversion::Utf8Shape shape = conversion::ScanUtf8(line);
        std::vector<char> text(conversion::MostUtf8MessageLength(line.size()));
        const bool taken =
            shape.accepted &&
            conversion::WriteUtf8Message(
                text.data(), std::string_view(line).substr(shape.first, shape.size)) != nullptr;
        EXPECT_EQ(wellFormed, taken);
    }
}

INSTANTIATE_TEST_SUITE_P(ConvertCommand, ConvertCommandOnEveryPath, AllPaths(), PathName);

} // namespace
