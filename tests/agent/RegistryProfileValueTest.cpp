#include "agent/RegistryProfileValue.h"

#include <gtest/gtest.h>

#include <string>

using namespace std::string_literals;

TEST(RegistryProfileValue, DwordIsFourLittleEndianBytes)
{
    EXPECT_EQ(0x12345678u, IntFromRegistryValue({RegistryValueKind::Dword, "\x78\x56\x34\x12"s}));
    EXPECT_EQ(0xFFFFFFFFu, IntFromRegistryValue({RegistryValueKind::Dword, "\xFF\xFF\xFF\xFF"s}));
    EXPECT_EQ(0u, IntFromRegistryValue({RegistryValueKind::Dword, "\0\0\0\0"s}));
}

TEST(RegistryProfileValue, MisshapenOrWrongKindIntegersAreMissing)
{
    EXPECT_EQ(std::nullopt, IntFromRegistryValue({RegistryValueKind::Dword, "\x01\x02"s}));
    EXPECT_EQ(std::nullopt, IntFromRegistryValue({RegistryValueKind::Dword, ""s}));
    EXPECT_EQ(std::nullopt, IntFromRegistryValue({RegistryValueKind::Dword, "\x01\x02\x03\x04\x05"s}));
    EXPECT_EQ(std::nullopt, IntFromRegistryValue({RegistryValueKind::String, "63\0"s}));
    EXPECT_EQ(std::nullopt, IntFromRegistryValue({RegistryValueKind::Other, "\x3F\0\0\0"s}));
}

TEST(RegistryProfileValue, StringEndsAtItsTerminatorOrItsLastByte)
{
    EXPECT_EQ("http://a/", StringFromRegistryValue({RegistryValueKind::String, "http://a/\0"s}));
    EXPECT_EQ("http://a/", StringFromRegistryValue({RegistryValueKind::String, "http://a/"s}));
    EXPECT_EQ("", StringFromRegistryValue({RegistryValueKind::String, "\0"s}));
    EXPECT_EQ("", StringFromRegistryValue({RegistryValueKind::String, ""s}));
}

TEST(RegistryProfileValue, TextAfterAnEmbeddedNulIsDropped)
{
    EXPECT_EQ("abc", StringFromRegistryValue({RegistryValueKind::String, "abc\0\0"s}));
    EXPECT_EQ("abc", StringFromRegistryValue({RegistryValueKind::String, "abc\0def\0"s}));
}

TEST(RegistryProfileValue, NonStringKindsAreMissingText)
{
    EXPECT_EQ(std::nullopt, StringFromRegistryValue({RegistryValueKind::Dword, "\x01\0\0\0"s}));
    EXPECT_EQ(std::nullopt, StringFromRegistryValue({RegistryValueKind::Other, "http://a/\0"s}));
}
