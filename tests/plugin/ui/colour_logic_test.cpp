// The colour button's split, basic palette and custom-colour rule.
#include <gtest/gtest.h>

#include <set>

#include "plugin/ui/colour_logic.h"

namespace {

using namespace fd::ui;

TEST(ColourButtonSplit, QuarterOfTheWidthIsTheTail) {
    struct Case {
        int left, right, split;
    };
    for (const Case c : {Case{0, 42, 32}, Case{0, 40, 30}, Case{0, 3, 3}, Case{10, 52, 42}, Case{0, 0, 0},
                         Case{5, 8, 8}, Case{0, 71, 54}}) {
        EXPECT_EQ(ColourButtonSplit(c.left, c.right), c.split) << c.left << ".." << c.right;
    }
}

TEST(BasicColours, PaletteHoldsTheChoosersFortyEight) {
    EXPECT_EQ(kBasicColours[0], 0x8080FFu);
    EXPECT_EQ(kBasicColours[5], 0xFF8000u);
    EXPECT_EQ(kBasicColours[47], 0xFFFFFFu);
    EXPECT_EQ(std::set<uint32_t>(kBasicColours.begin(), kBasicColours.end()).size(), 47u);  // 0x400040 twice
    for (uint32_t c : kBasicColours) EXPECT_TRUE(IsBasicColour(c)) << std::hex << c;
}

TEST(BasicColours, MembershipIsExact) {
    for (uint32_t c : {0x123456u, 0xFD7D3Cu, 0x8080FEu, 0x01000000u | 0xFF8000u, 0x010101u})
        EXPECT_FALSE(IsBasicColour(c)) << std::hex << c;
    for (uint32_t c : {0x000000u, 0x400040u, 0xA00000u, 0xC0C0C0u})
        EXPECT_TRUE(IsBasicColour(c)) << std::hex << c;
}

TEST(ChooserCustomColours, AColourOutsideThePaletteGoesFirst) {
    const auto custom = ChooserCustomColours(0x123456);
    EXPECT_EQ(custom[0], 0x123456u);
    for (size_t i = 1; i < custom.size(); ++i) EXPECT_EQ(custom[i], 0xFFFFFFu);
}

TEST(ChooserCustomColours, ABasicColourLeavesThemAllWhite) {
    for (uint32_t c : {0xFF8000u, 0x000000u, 0xFFFFFFu}) {
        for (uint32_t custom : ChooserCustomColours(c)) EXPECT_EQ(custom, 0xFFFFFFu) << std::hex << c;
    }
}

TEST(ChooserCustomColours, BlackIsNotPreselected) {
    EXPECT_FALSE(ChooserPreselects(0));
    EXPECT_TRUE(ChooserPreselects(0x010000));
}

}  // namespace
