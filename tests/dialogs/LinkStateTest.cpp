#include "dialogs/LinkState.h"

#include <gtest/gtest.h>

TEST(LinkHover, FirstMoveStartsHoveringWhereverItIs)
{
    EXPECT_EQ(HoverChange::Enter, HoverChangeForMove(false, true));
    EXPECT_EQ(HoverChange::Enter, HoverChangeForMove(false, false));
}

TEST(LinkHover, WhileHoveringOnlyAMoveOutsideEndsIt)
{
    EXPECT_EQ(HoverChange::None, HoverChangeForMove(true, true));
    EXPECT_EQ(HoverChange::Leave, HoverChangeForMove(true, false));
}

TEST(LinkColour, HoverBeatsVisitedAndVisitedBeatsLink)
{
    const LinkColors colors{0xEE0000, 0x8B1A55, 0x123456};
    EXPECT_EQ(0xEE0000u, LinkTextColor(colors, false, false));
    EXPECT_EQ(0x8B1A55u, LinkTextColor(colors, false, true));
    EXPECT_EQ(0x123456u, LinkTextColor(colors, true, false));
    EXPECT_EQ(0x123456u, LinkTextColor(colors, true, true));
}

TEST(LinkOpen, OnlyCodesAbove32AreSuccess)
{
    EXPECT_FALSE(OpenSucceeded(0));
    EXPECT_FALSE(OpenSucceeded(31));
    EXPECT_FALSE(OpenSucceeded(32));
    EXPECT_TRUE(OpenSucceeded(33));
    EXPECT_TRUE(OpenSucceeded(0xFFFFFFFFu));
}
