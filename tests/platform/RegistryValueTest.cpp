// How a registry value's bytes become a number or a text.
#include "platform/RegistryValue.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;
using namespace registry;

TEST(RegistryValue, DwordIsFourLittleEndianBytes)
{
    EXPECT_EQ(0x12345678u, DwordOf({ValueKind::Dword, "\x78\x56\x34\x12"s}));
    EXPECT_EQ(0xFFFFFFFFu, DwordOf({ValueKind::Dword, "\xFF\xFF\xFF\xFF"s}));
    EXPECT_EQ(0u, DwordOf({ValueKind::Dword, "\0\0\0\0"s}));
}

TEST(RegistryValue, MisshapenOrWrongKindIntegersAreMissing)
{
    EXPECT_EQ(std::nullopt, DwordOf({ValueKind::Dword, "\x01\x02"s}));
    EXPECT_EQ(std::nullopt, DwordOf({ValueKind::Dword, ""s}));
    EXPECT_EQ(std::nullopt, DwordOf({ValueKind::Dword, "\x01\x02\x03\x04\x05"s}));
    EXPECT_EQ(std::nullopt, DwordOf({ValueKind::String, "63\0"s}));
    EXPECT_EQ(std::nullopt, DwordOf({ValueKind::Other, "\x3F\0\0\0"s}));
}

TEST(RegistryValue, StringEndsAtItsTerminatorOrItsLastByte)
{
    EXPECT_EQ("http://a/", StringOf({ValueKind::String, "http://a/\0"s}));
    EXPECT_EQ("http://a/", StringOf({ValueKind::String, "http://a/"s}));
    EXPECT_EQ("", StringOf({ValueKind::String, "\0"s}));
    EXPECT_EQ("", StringOf({ValueKind::String, ""s}));
}

TEST(RegistryValue, TextAfterAnEmbeddedNulIsDropped)
{
    EXPECT_EQ("abc", StringOf({ValueKind::String, "abc\0\0"s}));
    EXPECT_EQ("abc", StringOf({ValueKind::String, "abc\0def\0"s}));
}

TEST(RegistryValue, NonStringKindsAreMissingText)
{
    EXPECT_EQ(std::nullopt, StringOf({ValueKind::Dword, "\x01\0\0\0"s}));
    EXPECT_EQ(std::nullopt, StringOf({ValueKind::Other, "http://a/\0"s}));
}

TEST(RegistryValue, ExpandableTextStaysUnexpandedAndIsNoPlainString)
{
    EXPECT_EQ("%TEMP%\\x", TextOf({ValueKind::ExpandableString, "%TEMP%\\x\0"s}));
    EXPECT_EQ("a", TextOf({ValueKind::String, "a\0b"s}));
    EXPECT_EQ(std::nullopt, StringOf({ValueKind::ExpandableString, "%TEMP%\0"s}));
    EXPECT_EQ(std::nullopt, TextOf({ValueKind::Dword, "\x01\0\0\0"s}));
}
