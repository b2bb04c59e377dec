// The message module beyond what ConvertCommand's tests reach: the text
// written in pieces, the data-byte rule in pieces, the raw bytes, and the
// reader's refusals.
#include "Message.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using message::NonDataValue;
using Kind = message::ReadProblem::Kind;

TEST(Message, TextWrittenInPiecesEqualsTheWholeText) {
    std::mt19937 random(7);
    std::u16string command = u"set ";
    for (int i = 0; i < 700; ++i) {
        // Every width: one, three and four digits, surrogates included.
        const char16_t pool[] = {u'a', 0xE9, 0x416, 0x4E2D, 0xD83D, 0xDE00, 0x7F, 0x100};
        command += pool[random() % std::size(pool)];
    }
    for (std::size_t chunk : {1u, 5u, 16u, 17u, 333u}) {
        std::u16string pieces(message::HeadLength(command.size()), u'?');
        message::WriteHead(pieces.data(), command.size());
        for (std::size_t at = 0; at < command.size(); at += chunk) {
            const std::u16string_view part = std::u16string_view(command).substr(at, chunk);
            const std::size_t end = pieces.size();
            pieces.resize(end + message::UnitsLength(part) + 1); // + the spare character
            const char16_t* written = message::WriteUnits(pieces.data() + end, part);
            pieces.resize(static_cast<std::size_t>(written - pieces.data()));
        }
        pieces.resize(pieces.size() + message::kTrailerLength);
        message::WriteTrailer(pieces.data() + pieces.size() - message::kTrailerLength);
        EXPECT_EQ(message::Text(command), pieces) << "chunks of " << chunk;
    }
}

TEST(Message, DataByteRuleAndRawBytes) {
    EXPECT_EQ(message::FindNonDataValue(u"set \u00e9x\u20ac"), (NonDataValue{13, 0xE9}));
    EXPECT_EQ(message::FindNonDataUnit(u"ab\u0080", 40), (NonDataValue{51, 0x80}));
    const std::u16string longest = u"set " + std::u16string(123, u'\u00ff');
    EXPECT_EQ(message::FindNonDataValue(longest + u"b"), (NonDataValue{8, 128}))
        << "a long command fails at its length before any unit";
    EXPECT_EQ(message::FindNonDataLength(127), std::nullopt);

    std::string bytes = "kept";
    EXPECT_FALSE(message::AppendBytes(u"set \u00e9", bytes));
    EXPECT_EQ("kept", bytes);
    EXPECT_TRUE(message::AppendBytes(u"set x", bytes));
    EXPECT_EQ(std::string("kept\xF0\x00\x00\x40\x02\x00\x00\x61\x05set x\xF7", 19), bytes);
}

TEST(Message, ReaderNamesWhatIsWrongAndWhere) {
    const std::u16string h = u"F0 00 00 40 02 00 00 61 ";
    const std::tuple<std::u16string, Kind, std::size_t> cases[] = {
        {u" \t", Kind::Empty, 0},
        {u"F0 00 00", Kind::HeaderCut, 3},
        {u"F0 00 00 41 02 00 00 61 01 78 F7", Kind::HeaderMismatch, 3},
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
