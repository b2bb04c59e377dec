// Tests of the UTF-8 codec: decoding and encoding.
#include "Utf8.h"

#include <gtest/gtest.h>

#include <string>

namespace {

TEST(Utf8, DecodesEveryLengthAndEncodesBackReplacingLoneSurrogates) {
    const std::string bytes = "set \x7F\xC2\x80\xDF\xBF\xE0\xA0\x80\xE2\x82\xAC\xEF\xBF\xBF"
                              "\xF0\x90\x80\x80\xF0\x9F\x98\x80\xF4\x8F\xBF\xBF";
    std::u16string units;
    ASSERT_FALSE(DecodeUtf8(bytes, units));
    EXPECT_EQ(u"set \u007F\u0080\u07FF\u0800\u20AC\uFFFF\U00010000\U0001F600\U0010FFFF", units);
    std::string back;
    AppendUtf8(units + u"\xD800-\xDC00", back);
    EXPECT_EQ(bytes + "\xEF\xBF\xBD-\xEF\xBF\xBD", back);
}

TEST(Utf8, RejectsIllFormedSequencesAtTheirFirstByte) {
    const std::pair<std::string, std::size_t> cases[] = {
        {"ab\x80", 2},               // continuation byte without a lead
        {"\xC0\xAF", 0},             // overlong two-byte form of '/'
        {"x\xE0\x80\x80", 1},        // overlong three-byte form
        {"\xF0\x80\x80\xAF", 0},     // overlong four-byte form
        {"\xED\xA0\x80", 0},         // encoded surrogate U+D800
        {"\xF4\x90\x80\x80", 0},     // U+110000
        {"set \xF5\x80\x80\x80", 4}, // lead byte that never occurs
        {"set \xE2\x82", 4},         // cut short by the end
        {"\xF0\x9F\x98 x", 0},       // cut short by a space
        {"abcdefgh\xC3(", 8},        // after a run of eight ASCII bytes
        {"\xC3\xA9\xC3\xA9\xA9", 4}, // one continuation too many
    };
    for (const auto& [bytes, offset] : cases) {
        std::u16string units;
        const auto error = DecodeUtf8(bytes, units);
        ASSERT_TRUE(error) << "accepted: " << testing::PrintToString(bytes);
        EXPECT_EQ(offset, error->offset) << testing::PrintToString(bytes) << ": " << error->reason;
        EXPECT_EQ(static_cast<unsigned char>(bytes[offset]), error->byte);
    }
}

} // namespace
