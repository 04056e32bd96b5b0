#include "dialogs/PortSelection.h"

#include <gtest/gtest.h>

namespace {

TEST(PortSelection, EachMaskBitShowsAsItsOwnBoxInOrder)
{
    EXPECT_EQ((PortFlags{1, 1, 1, 1, 1, 1}), PortFlagsFromMask(63));
    EXPECT_EQ((PortFlags{1, 1, 1, 1, 1, 0}), PortFlagsFromMask(31)); // what a stored 0 reads as
    EXPECT_EQ((PortFlags{0, 0, 0, 0, 0, 1}), PortFlagsFromMask(32));
    EXPECT_EQ((PortFlags{1, 0, 1, 0, 0, 0}), PortFlagsFromMask(5));
    EXPECT_EQ((PortFlags{0, 0, 0, 0, 0, 0}), PortFlagsFromMask(0));
}

TEST(PortSelection, BitsAboveTheSixPortsAreNotShown)
{
    EXPECT_EQ((PortFlags{1, 1, 1, 1, 1, 1}), PortFlagsFromMask(127));
    EXPECT_EQ((PortFlags{1, 1, 1, 1, 1, 1}), PortFlagsFromMask(0xFFFFFFFFu)); // a stored -1
    EXPECT_EQ((PortFlags{0, 0, 0, 0, 0, 0}), PortFlagsFromMask(64));
    EXPECT_EQ((PortFlags{1, 0, 0, 0, 0, 0}), PortFlagsFromMask(0x80000001u));
}

TEST(PortSelection, AHighBitMaskStoredBackWithoutChangesBecomes63)
{
    EXPECT_EQ(63u, PortMaskFromFlags(PortFlagsFromMask(127)));
    EXPECT_EQ(63u, PortMaskFromFlags(PortFlagsFromMask(0xFFFFFFFFu)));
}

TEST(PortSelection, EveryMaskOfTheSixPortsSurvivesTheRoundTrip)
{
    for (unsigned mask = 0; mask <= 63; ++mask)
        EXPECT_EQ(mask, PortMaskFromFlags(PortFlagsFromMask(mask))) << mask;
}

TEST(PortSelection, AnyNonZeroFlagCountsAsChecked)
{
    EXPECT_EQ(32u, PortMaskFromFlags({0, 0, 0, 0, 0, 1}));
    EXPECT_EQ(33u, PortMaskFromFlags({2, 0, 0, 0, 0, -1}));
    EXPECT_EQ(0u, PortMaskFromFlags({0, 0, 0, 0, 0, 0}));
    EXPECT_EQ(16u, PortMaskFromFlags({0, 0, 0, 0, 0x7FFFFFFF, 0}));
}

} // namespace
