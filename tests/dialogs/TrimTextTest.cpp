#include "dialogs/TrimText.h"

#include <gtest/gtest.h>

namespace {

// Lead bytes as in a double-byte code page such as 932: 0x81-0x9F and 0xE0-0xFC.
bool DoubleByteLeads(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

std::string Trim(std::string_view text, ansi::LeadBytePredicate leads = &ansi::NoLeadBytes)
{
    return TrimWhiteSpace(text, leads);
}

TEST(TrimText, RemovesWhiteSpaceAtBothEndsAndKeepsItInside)
{
    EXPECT_EQ("http://a.example/x y", Trim("  http://a.example/x y  "));
    EXPECT_EQ("a \t b", Trim("\t a \t b \t"));
    EXPECT_EQ("abc", Trim("abc"));
    EXPECT_EQ("a", Trim("a "));
    EXPECT_EQ("a", Trim(" a"));
}

TEST(TrimText, TheSixStandardWhiteSpaceCharactersAndNoOthers)
{
    EXPECT_EQ("x", Trim(" \t\n\v\f\rx \t\n\v\f\r"));
    // No-break space, next line, NUL and other control bytes are text.
    EXPECT_EQ("\xA0x\xA0", Trim("\xA0x\xA0"));
    EXPECT_EQ("\x85x", Trim("\x85x"));
    EXPECT_EQ("\x1Fx\b", Trim(" \x1Fx\b "));
    EXPECT_EQ(std::string("x\0", 2), Trim(std::string_view("x\0 ", 3)));
}

TEST(TrimText, BlankOrEmptyTextBecomesEmpty)
{
    EXPECT_EQ("", Trim(""));
    EXPECT_EQ("", Trim("   "));
    EXPECT_EQ("", Trim(" \t\r\n "));
}

TEST(TrimText, ADoubleByteCharacterEndingIn0x20IsNotCutInHalf)
{
    EXPECT_EQ("\x81\x20", Trim("\x81\x20", &DoubleByteLeads));
    EXPECT_EQ("\x81\x20", Trim("  \x81\x20  ", &DoubleByteLeads));
    EXPECT_EQ("ab\x81\x20", Trim("ab\x81\x20 ", &DoubleByteLeads));
    EXPECT_EQ("\xE0\x09x\x81\x20", Trim("\t\xE0\x09x\x81\x20\t", &DoubleByteLeads));
    // Without a double-byte code page the same bytes are two characters.
    EXPECT_EQ("\x81", Trim("\x81\x20", &ansi::NoLeadBytes));
}

TEST(TrimText, ATrailByteThatLooksLikeALeadByteDoesNotSwallowTheNextCharacter)
{
    // 0x81 0x81 is one character; the blank after it is trailing white space.
    EXPECT_EQ("\x81\x81", Trim("\x81\x81 ", &DoubleByteLeads));
    EXPECT_EQ("\x81\x81 \x81\x20", Trim("\x81\x81 \x81\x20", &DoubleByteLeads));
}

TEST(TrimText, ALeadByteWithNothingAfterItStaysAsACharacter)
{
    EXPECT_EQ("ab \x81", Trim("ab \x81", &DoubleByteLeads));
    EXPECT_EQ("\x81", Trim(" \x81", &DoubleByteLeads));
}

} // namespace
