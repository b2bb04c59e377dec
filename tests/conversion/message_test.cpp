// The message module beyond what ConvertCommand's tests reach: the
// data-byte rule in parts, the raw bytes, and the reader's refusals.
#include "Conversion.h"
#include "Message.h"

#include <gtest/gtest.h>

#include <string>

namespace {

using message::NonDataValue;
using Kind = message::ReadProblem::Kind;

TEST(Message, DataByteRuleAndRawBytes) {
    EXPECT_EQ(message::FindNonDataValue(u"set \u00e9x\u20ac"), (NonDataValue{13, 0xE9}));
    EXPECT_EQ(message::FindNonDataUnit(std::u16string_view(u"ab\u0080"), 40),
              (NonDataValue{51, 0x80}));
    const std::u16string longest = u"set " + std::u16string(123, u'\u00ff');
    EXPECT_EQ(message::FindNonDataValue(longest + u"b"), (NonDataValue{8, 128}))
        << "a long command fails at its length before any unit";
    EXPECT_EQ(message::FindNonDataLength(127), std::nullopt);

    std::string bytes = "kept";
    auto append = [&](std::u16string_view command) {
        return conversion::AppendBytes(conversion::HeldPieces{command, 2},
                                       conversion::AcceptedWhole(command.size()), bytes);
    };
    EXPECT_FALSE(append(u"set \u00e9"));
    EXPECT_EQ("kept", bytes);
    EXPECT_TRUE(append(u"set x"));
    EXPECT_EQ(std::string("kept\xF0\x00\x00\x40\x02\x00\x00\x61\x05set x\xF7", 19), bytes);
}

TEST(Message, ReaderNamesWhatIsWrongAndWhere) {
    const std::u16string h = u"F0 00 00 40 02 00 00 61 ";
    const std::tuple<std::u16string, Kind, std::size_t> cases[] = {
        {u" \t", Kind::Empty, 0},
        {u"F0 00 00", Kind::HeaderCut, 3},
        {u"F0 00 00 41 02 00 00 61 01 78 F7", Kind::HeaderMismatch, 3},
        // The problem furthest left wins, whatever its kind.
        {u"F0 00 00 41 02 00 00 61 05 73 65 74 20 zz F7", Kind::HeaderMismatch, 3},
        {h + u"03 0a 10000 zz", Kind::LineFeed, 9},
        {h + u"03 78 d800 zz F7", Kind::LoneSurrogate, 10},
        {h + u"03 10000 0a", Kind::NotCodeUnit, 9},
        {h + u"05", Kind::NoRoom, 9},
        {h + u"01 78", Kind::NoTrailer, 9},
        {h + u"02 78 F7", Kind::LengthMismatch, 8},
        {h + u"01 7g F7", Kind::NotHexadecimal, 9},
        {h + u"01 11111111111111111 F7", Kind::TooLarge, 9},
        {h + u"02 78 10000 F7", Kind::NotCodeUnit, 10},
        {h + u"02 d800 1dc00 F7", Kind::LoneSurrogate, 9},
        {h + u"02 78 dc00 F7", Kind::LoneSurrogate, 10},
        {h + u"01 0a F7", Kind::LineFeed, 9},
    };
    for (const auto& [text, kind, position] : cases) {
        std::u16string command = u"unchanged";
        const auto problem = message::Read(text, command);
        ASSERT_TRUE(problem) << "read as a message: " << text.size() << " units";
        EXPECT_EQ(static_cast<int>(kind), static_cast<int>(problem->kind));
        EXPECT_EQ(position, problem->position);
        EXPECT_EQ(u"unchanged", command);
    }
    std::u16string command;
    EXPECT_FALSE(message::Read(u"\tf0 0 0 40 2 0 0 61  2  d83d DE00 f7 ", command));
    EXPECT_EQ(u"\U0001F600", command);
}

} // namespace
