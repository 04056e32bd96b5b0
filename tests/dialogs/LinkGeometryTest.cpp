#include "dialogs/LinkGeometry.h"

#include <climits>
#include <cstdint>
#include <vector>
#include <gtest/gtest.h>

namespace {
constexpr LinkRect kBox{10, 20, 110, 36}; // 100 wide, 16 high
constexpr TextExtent kText{60, 13};
} // namespace

TEST(LinkFit, LeftAlignedKeepsItsCornerAndTakesTheTextSize)
{
    EXPECT_EQ((LinkRect{10, 20, 70, 33}), FitRectToText(kBox, kText, 0));
}

TEST(LinkFit, CentredFiveWiderMovesEachSideInByTwoLeavingOneSpare)
{
    const LinkRect box{0, 0, 65, 13};
    const LinkRect fitted = FitRectToText(box, kText, kLinkStyleCenter);
    EXPECT_EQ((LinkRect{2, 0, 63, 13}), fitted);
    EXPECT_EQ(kText.width + 1, fitted.right - fitted.left);
}

TEST(LinkFit, CentreBitIsTestedBeforeRightBit)
{
    // 40 spare pixels: 20 each side, whatever the right-alignment bit says.
    EXPECT_EQ((LinkRect{30, 20, 90, 33}), FitRectToText(kBox, kText, kLinkStyleCenter | kLinkStyleRight));
}

TEST(LinkFit, RightAlignedKeepsItsRightEdge)
{
    EXPECT_EQ((LinkRect{50, 20, 110, 33}), FitRectToText(kBox, kText, kLinkStyleRight));
}

TEST(LinkFit, CentreImageCentresVerticallyAndTruncatesTheHalf)
{
    // 3 spare rows: 3 / 2 = 1 off top and bottom, the odd row stays.
    EXPECT_EQ((LinkRect{10, 21, 70, 35}), FitRectToText(kBox, kText, kLinkStyleCenterImage));
}

TEST(LinkFit, WithoutCentreImageTheHeightComesFromTheTopEvenWhenCentredAcross)
{
    EXPECT_EQ((LinkRect{30, 20, 90, 33}), FitRectToText(kBox, kText, kLinkStyleCenter));
}

TEST(LinkFit, BoxSmallerThanItsTextGrowsToIt)
{
    const LinkRect small{10, 20, 40, 28}; // 30 x 8
    EXPECT_EQ((LinkRect{10, 20, 70, 33}), FitRectToText(small, kText, 0));
    EXPECT_EQ((LinkRect{-20, 20, 40, 33}), FitRectToText(small, kText, kLinkStyleRight));
}

TEST(LinkFit, CentredBoxSmallerThanItsTextMovesEdgesOutwardTruncatingTowardZero)
{
    // -29 spare across and -5 spare down: halves of -14 and -2, not -15 and -3.
    const LinkRect small{10, 20, 41, 28};
    const LinkRect fitted = FitRectToText(small, kText, kLinkStyleCenter | kLinkStyleCenterImage);
    EXPECT_EQ((LinkRect{-4, 18, 55, 30}), fitted);
}

TEST(LinkFit, EmptyTextCollapsesToTheAlignedEdge)
{
    EXPECT_EQ((LinkRect{10, 20, 10, 20}), FitRectToText(kBox, {0, 0}, 0));
    EXPECT_EQ((LinkRect{110, 20, 110, 20}), FitRectToText(kBox, {0, 0}, kLinkStyleRight));
}

TEST(LinkFit, ExtremeCoordinatesStayWithinRangeInsteadOfOverflowing)
{
    const LinkRect huge{INT_MAX - 5, INT_MIN, INT_MAX, INT_MAX};
    const LinkRect fitted = FitRectToText(huge, {INT_MAX, INT_MAX}, 0);
    EXPECT_EQ(INT_MAX, fitted.right);
    EXPECT_EQ(INT_MIN + INT_MAX, fitted.bottom);

    const LinkRect centred =
        FitRectToText({INT_MIN, INT_MIN, INT_MAX, INT_MAX}, {0, 0}, kLinkStyleCenter | kLinkStyleCenterImage);
    EXPECT_EQ(centred.left, centred.right - 1);
    EXPECT_EQ(centred.top, centred.bottom - 1);
}

TEST(LinkInk, WidthReachesTheRightmostColumnWithAnyNonBackgroundColourInAnyRow)
{
    constexpr std::uint32_t kWhite = 0xFFFFFF;
    std::vector<std::uint32_t> picture(4 * 3, kWhite);
    EXPECT_EQ(0, InkedWidth(picture, 4, kWhite));
    picture[1 * 4 + 1] = 0x000000;
    EXPECT_EQ(2, InkedWidth(picture, 4, kWhite));
    picture[2 * 4 + 3] = 0xFFFFFE; // the last column of the last row, barely off white
    EXPECT_EQ(4, InkedWidth(picture, 4, kWhite));
    picture[2 * 4 + 3] = 0xFF'FFFFFF; // the unused top byte is not a colour
    EXPECT_EQ(2, InkedWidth(picture, 4, kWhite));
    EXPECT_EQ(0, InkedWidth(picture, 0, kWhite));
}

TEST(LinkHitTest, LeftAndTopEdgesAreInsideRightAndBottomAreOutside)
{
    const LinkRect client{0, 0, 60, 13};
    EXPECT_TRUE(LinkRectContains(client, 0, 0));
    EXPECT_TRUE(LinkRectContains(client, 59, 12));
    EXPECT_FALSE(LinkRectContains(client, 60, 5));
    EXPECT_FALSE(LinkRectContains(client, 5, 13));
    EXPECT_FALSE(LinkRectContains(client, -1, 5));
    EXPECT_FALSE(LinkRectContains(client, 5, -1));
}

TEST(LinkHitTest, EmptyRectangleContainsNothing)
{
    EXPECT_FALSE(LinkRectContains({5, 5, 5, 5}, 5, 5));
}
