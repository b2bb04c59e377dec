// Tests of writing code units as text. Every path built into
// the program is checked on its own against the reference conversion, not
// only the one this processor selects; a path this processor cannot run is
// reported as skipped.
#include "EveryPath.h"
#include "ReferenceConversion.h"

#include <gtest/gtest.h>

#include <random>
#include <string>
#include <vector>

namespace {

// The reference text of `units`: each value as the reference writes it,
// followed by a space.
std::u16string ReferenceText(std::u16string_view units) {
    static const std::vector<std::u16string> kTexts = [] {
        std::vector<std::u16string> texts;
        for (unsigned value = 0; value <= 0xFFFF; ++value) {
            texts.push_back(reference::Hex(value) + u" ");
        }
        return texts;
    }();
    std::u16string text;
    for (char16_t unit : units) {
        text += kTexts[unit];
    }
    return text;
}

class WritesUnits : public EveryPath {
  protected:
    // Checks the text of `units`, the bound on its length, and that nothing is written
    // past the spare characters the contract allows.
    void ExpectText(std::u16string_view units) const {
        const std::u16string expected = ReferenceText(units);
        ASSERT_GE(unit_text::MostLength(units.size()), expected.size());
        constexpr std::size_t kGuard = 64;
        std::u16string buffer(expected.size() + unit_text::kSpare + kGuard, u'#');
        const char16_t* end = GetParam().write(buffer.data(), units);
        ASSERT_EQ(expected.size(), static_cast<std::size_t>(end - buffer.data()));
        EXPECT_EQ(expected, buffer.substr(0, expected.size()));
        EXPECT_EQ(std::u16string(kGuard, u'#'), buffer.substr(expected.size() + unit_text::kSpare));
    }
};

// Runs of one width, each with one unit of another value in every place:
// the last values before the width changes and the first after it, at every
// edge of a block and before every tail the vector paths leave.
TEST_P(WritesUnits, OneOddUnitAtEveryPlaceOfEveryLength) {
    const unsigned bases[] = {0x41, 0x416, 0x4E2D};
    const unsigned odds[] = {0x00, 0xFF, 0x100, 0xFFF, 0x1000, 0xFFFF};
    for (unsigned base : bases) {
        for (unsigned odd : odds) {
            for (std::size_t length = 0; length <= 96; ++length) {
                for (std::size_t place = 0; place <= length; ++place) {
                    std::u16string units(length, static_cast<char16_t>(base));
                    if (place < length) {
                        units[place] = static_cast<char16_t>(odd);
                    }
                    SCOPED_TRACE(testing::Message()
                                 << std::hex << "base " << base << ", odd " << odd << std::dec
                                 << " at " << place << " of " << length);
                    ExpectText(units);
                    if (HasFatalFailure() || HasNonfatalFailure()) {
                        return;
                    }
                }
            }
        }
    }
}

// Long runs of one width, through many blocks of the vector loops.
TEST_P(WritesUnits, LongRunsOfOneWidth) {
    for (char16_t unit : {u'\x41', u'\u0416', u'\uFFFF'}) {
        SCOPED_TRACE(testing::Message() << "unit " << std::hex << unsigned{unit});
        ExpectText(std::u16string(600000, unit));
    }
}

// Random mixes of widths, read from any place of a longer text, as a caller
// writing a command in chunks does.
TEST_P(WritesUnits, RandomMixesFromAnyPlace) {
    std::mt19937 random(20240611);
    auto below = [&](std::size_t bound) { return static_cast<unsigned>(random() % bound); };
    const char16_t edges[] = {0x00, 0x7F, 0xFF, 0x100, 0xFFF, 0x1000, 0xFFFF};
    for (int round = 0; round < 400; ++round) {
        // Chances, out of 8, of a unit of two, three and four digits.
        const unsigned twoIn8 = below(9);
        const unsigned threeIn8 = below(9 - twoIn8);
        std::u16string units(below(300), u'\0');
        for (char16_t& unit : units) {
            const unsigned pick = below(8);
            const unsigned low = pick < twoIn8 ? 0 : pick < twoIn8 + threeIn8 ? 0x100 : 0x1000;
            const unsigned high = low == 0 ? 0xFF : low == 0x100 ? 0xFFF : 0xFFFF;
            unit = below(4) == 0 ? edges[below(std::size(edges))]
                                 : static_cast<char16_t>(low + below(high - low + 1));
        }
        const std::size_t from = units.empty() ? 0 : below(units.size());
        SCOPED_TRACE(testing::Message() << "round " << round);
        ExpectText(std::u16string_view(units).substr(from));
        if (HasFatalFailure() || HasNonfatalFailure()) {
            return;
        }
    }
}

INSTANTIATE_TEST_SUITE_P(UnitText, WritesUnits, AllPaths(), PathName);

} // namespace
