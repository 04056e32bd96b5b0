#include "dialogs/LinkErrorText.h"

#include <gtest/gtest.h>
#include <climits>
#include <string>
#include <utility>

namespace {
const std::string kHeading = "Unable to open hyperlink:\n\n";
}

TEST(LinkErrorText, EveryKnownLaunchCodeHasItsOwnWords)
{
    const std::pair<int, const char*> table[] = {
        {0, "The operating system is out\nof memory or resources."},
        {2, "The specified file was not found."},
        {3, "The specified path was not found."},
        {5, "The operating system denied\naccess to the specified file."},
        {8, "There was not enough memory to complete the operation."},
        {11, "The .EXE file is invalid\n(non-Win32 .EXE or error in .EXE image)."},
        {26, "A sharing violation occurred. "},
        {27, "The filename association is\nincomplete or invalid."},
        {28, "The DDE transaction could not\nbe completed because the request timed out."},
        {29, "The DDE transaction failed."},
        {30, "The DDE transaction could not\nbe completed because other DDE transactions\nwere being "
             "processed."},
        {31, "There is no application associated\nwith the given filename extension."},
        {32, "The specified dynamic-link library was not found."},
    };
    for (const auto& [code, text] : table) {
        EXPECT_EQ(kHeading + text, OpenErrorMessage(code)) << "code " << code;
    }
}

TEST(LinkErrorText, SharingViolationKeepsItsTrailingBlank)
{
    const std::string message = OpenErrorMessage(26);
    ASSERT_FALSE(message.empty());
    EXPECT_EQ(' ', message.back());
    EXPECT_EQ(kHeading + "A sharing violation occurred. ", message);
}

TEST(LinkErrorText, CodesWithoutWordsNameTheCodeInDecimal)
{
    EXPECT_EQ(kHeading + "Unknown Error (1) occurred.", OpenErrorMessage(1));
    EXPECT_EQ(kHeading + "Unknown Error (4) occurred.", OpenErrorMessage(4));
    EXPECT_EQ(kHeading + "Unknown Error (33) occurred.", OpenErrorMessage(33));
    EXPECT_EQ(kHeading + "Unknown Error (-1) occurred.", OpenErrorMessage(-1));
    EXPECT_EQ(kHeading + "Unknown Error (-2147483648) occurred.", OpenErrorMessage(INT_MIN));
}
