#include "standins/common/ReaderDescription.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <fstream>

namespace {

ReaderDescription Parse(std::string_view text)
{
    std::string error;
    auto reader = ParseReaderDescription(text, &error);
    EXPECT_TRUE(reader.has_value()) << error;
    return reader.value_or(ReaderDescription{});
}

std::string ErrorOf(std::string_view text)
{
    std::string error;
    EXPECT_FALSE(ParseReaderDescription(text, &error).has_value()) << text;
    return error;
}

} // namespace

TEST(ReaderDescription, EmptyTextIsAReaderWithNoBusAndTheDefaults)
{
    ReaderDescription reader = Parse("  # nothing here\n\n");
    EXPECT_TRUE(reader.buses.empty());
    EXPECT_EQ(1, reader.lampPort);
    EXPECT_EQ(6, reader.lampAdapter);
    EXPECT_EQ(1, reader.xobs);
    EXPECT_FALSE(reader.keyOpenFails);
    EXPECT_FALSE(reader.strongAccessFails);
    EXPECT_TRUE(reader.logPath.empty());
}

TEST(ReaderDescription, DocumentedExampleGivesOneUsbBusWithTokenAndSwitch)
{
    ReaderDescription reader = Parse("bus 1 6\n"
                                     "  device 01A1B2C3D4E5F6C7\n"
                                     "  device 12000000000042A9\n");
    ASSERT_EQ(1u, reader.buses.size());
    const SimBus& bus = reader.buses[0];
    EXPECT_EQ(1, bus.port);
    EXPECT_EQ(6, bus.adapter);
    EXPECT_FALSE(bus.start.has_value());
    EXPECT_EQ(1, bus.setup);
    ASSERT_EQ(2u, bus.devices.size());
    EXPECT_EQ((std::array<uint8_t, 8>{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0xC7}), bus.devices[0].rom);
    EXPECT_EQ(0x12, bus.devices[1].rom[0]);
    EXPECT_EQ(0xA9, bus.devices[1].rom[7]);
    EXPECT_FALSE(bus.devices[0].romFail);
    EXPECT_EQ(0, bus.devices[0].high);
    EXPECT_EQ(0, bus.devices[0].wrongAnswers);
}

TEST(ReaderDescription, DevicesAndFaultsBelongToTheBusAboveThem)
{
    ReaderDescription reader = Parse("bus 1 5\r\n"
                                     "\tstart -3\r\n"
                                     "bus 0x2 5 # COM2\r\n"
                                     "  setup 0\r\n"
                                     "  device 0102030405060708 romfail high 0xFF\r\n"
                                     "  device 1200000000000001 wrong 2\r\n"
                                     "  device 9200000000000001 wrong always high 1 romfail\r\n"
                                     "bus 1 1\n"
                                     "  start 0\n");
    ASSERT_EQ(3u, reader.buses.size());
    EXPECT_EQ(-3, reader.buses[0].start);
    EXPECT_TRUE(reader.buses[0].devices.empty());
    EXPECT_EQ(2, reader.buses[1].port);
    EXPECT_EQ(0, reader.buses[1].setup);
    ASSERT_EQ(3u, reader.buses[1].devices.size());
    EXPECT_TRUE(reader.buses[1].devices[0].romFail);
    EXPECT_EQ(0xFF, reader.buses[1].devices[0].high);
    EXPECT_EQ(2, reader.buses[1].devices[1].wrongAnswers);
    EXPECT_EQ(kWrongAlways, reader.buses[1].devices[2].wrongAnswers);
    EXPECT_TRUE(reader.buses[1].devices[2].romFail);
    EXPECT_EQ(1, reader.buses[1].devices[2].high);
    EXPECT_EQ(0, reader.buses[2].start);
    EXPECT_EQ(&reader.buses[1], reader.FindBus(2, 5));
    EXPECT_EQ(nullptr, reader.FindBus(5, 2));
}

TEST(ReaderDescription, ReaderWideDirectivesAreRead)
{
    ReaderDescription reader = Parse("lampbus 1 2\nxobs 0\nkeyopen fail\nstrongaccess fail\nlog C:\\tmp\\calls.log\n");
    EXPECT_EQ(1, reader.lampPort);
    EXPECT_EQ(2, reader.lampAdapter);
    EXPECT_EQ(0, reader.xobs);
    EXPECT_TRUE(reader.keyOpenFails);
    EXPECT_TRUE(reader.strongAccessFails);
    EXPECT_EQ("C:\\tmp\\calls.log", reader.logPath);
}

TEST(ReaderDescription, ValuesAtTheEdgesOfTheirWidthsAreKept)
{
    ReaderDescription reader = Parse("bus 32767 0\n start -2147483648\n setup -32768\n"
                                     "bus 0 32767\n start 2147483647\n setup 32767\n");
    EXPECT_EQ(INT32_MIN, reader.buses[0].start);
    EXPECT_EQ(INT16_MIN, reader.buses[0].setup);
    EXPECT_EQ(INT32_MAX, reader.buses[1].start);
    EXPECT_EQ(INT16_MAX, reader.buses[1].setup);
}

TEST(ReaderDescription, MalformedLinesAreRefusedWithTheirLineNumber)
{
    EXPECT_EQ("line 2: unknown directive \"buss\"", ErrorOf("bus 1 6\nbuss 1 6\n"));
    EXPECT_NE(std::string::npos, ErrorOf("device 0102030405060708\n").find("line 1:")); // no bus yet
    EXPECT_NE(std::string::npos, ErrorOf("start 1\n").find("\"bus\""));
    EXPECT_NE(std::string::npos, ErrorOf("bus 1 6\nbus 1 6\n").find("twice"));
    // Values that do not fit the width the library passes or returns.
    ErrorOf("bus 1 32768\n");
    ErrorOf("bus -1 6\n");
    ErrorOf("bus 1 6\n start 2147483648\n");
    ErrorOf("bus 1 6\n start 99999999999999999999999\n");
    ErrorOf("bus 1 6\n setup 32768\n");
    ErrorOf("bus 1 6\n device 0102030405060708 high 256\n");
    ErrorOf("xobs -1\n");
    // Words that are not numbers, or numbers with trailing rubbish.
    ErrorOf("bus 1 6x\n");
    ErrorOf("bus 0x 6\n");
    ErrorOf("bus 1 --6\n");
    ErrorOf("bus 1 6\n start\n");
    ErrorOf("bus 1 6 7\n");
    // ROMs that are not exactly 16 hex digits.
    ErrorOf("bus 1 6\n device 010203040506070\n");
    ErrorOf("bus 1 6\n device 010203040506070809\n");
    ErrorOf("bus 1 6\n device 01020304050607G8\n");
    ErrorOf("bus 1 6\n device 0102030405-60708\n");
    ErrorOf("bus 1 6\n device\n");
    // Options missing their value, or unknown.
    ErrorOf("bus 1 6\n device 0102030405060708 high\n");
    ErrorOf("bus 1 6\n device 0102030405060708 wrong\n");
    ErrorOf("bus 1 6\n device 0102030405060708 wrong sometimes\n");
    ErrorOf("bus 1 6\n device 0102030405060708 fast\n");
    ErrorOf("keyopen\n");
    ErrorOf("strongaccess ok\n");
    ErrorOf("log\n");
}

TEST(ReaderDescription, ErrorPointerMayBeNull)
{
    EXPECT_FALSE(ParseReaderDescription("nonsense", nullptr).has_value());
}

TEST(ReaderDescription, FormatRomGivesSixteenUpperCaseDigitsFamilyFirst)
{
    EXPECT_EQ("01A1B2C3D4E5F6C7", FormatRom({0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0xC7}));
    EXPECT_EQ("0000000000000000", FormatRom({}));
}

TEST(ReaderLocation, EnvironmentWinsOverTheFileBesideTheLibrary)
{
    EXPECT_EQ("D:\\r.txt", ChooseReaderPath(std::string("D:\\r.txt"), "C:\\lib"));
    EXPECT_EQ("C:\\lib\\reader.txt", ChooseReaderPath(std::nullopt, "C:\\lib"));
    EXPECT_EQ("C:\\lib\\reader.txt", ChooseReaderPath(std::string(), "C:\\lib\\"));
    EXPECT_EQ("", ChooseReaderPath(std::nullopt, ""));
}

class ReaderFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_path = std::filesystem::temp_directory_path() /
                 ("reader-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + "-" +
                  ::testing::UnitTest::GetInstance()->current_test_info()->name() + ".txt");
    }
    void TearDown() override { std::filesystem::remove(m_path); }
    void Write(const std::string& text) const { std::ofstream(m_path, std::ios::binary) << text; }

    std::filesystem::path m_path;
};

TEST_F(ReaderFile, MissingFileIsAReaderWithNoBusAndNoError)
{
    std::string error;
    EXPECT_TRUE(LoadReaderDescription(m_path.string(), &error).buses.empty());
    EXPECT_TRUE(error.empty());
}

TEST_F(ReaderFile, ExistingFileIsParsed)
{
    Write("bus 1 6\n device 01A1B2C3D4E5F6C7\n");
    std::string error;
    ReaderDescription reader = LoadReaderDescription(m_path.string(), &error);
    EXPECT_TRUE(error.empty()) << error;
    ASSERT_EQ(1u, reader.buses.size());
    EXPECT_EQ(1u, reader.buses[0].devices.size());
}

TEST_F(ReaderFile, BrokenFileGivesNoBusRatherThanHalfAReader)
{
    Write("bus 1 6\n device 01A1B2C3D4E5F6C7\nbus 1 5 extra\n");
    std::string error;
    EXPECT_TRUE(LoadReaderDescription(m_path.string(), &error).buses.empty());
    EXPECT_NE(std::string::npos, error.find("line 3"));
}

TEST_F(ReaderFile, OversizedFileIsRefused)
{
    Write("bus 1 6\n" + std::string(kMaxReaderFileSize, '#'));
    std::string error;
    EXPECT_TRUE(LoadReaderDescription(m_path.string(), &error).buses.empty());
    EXPECT_NE(std::string::npos, error.find("larger"));
}
