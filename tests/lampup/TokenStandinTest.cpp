// The stand-in token libraries: what they answer, and that lampup's logic and the simulated
// switch agree on the confirmation when driven end to end.
#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "lampup/IndicatorProgram.h"
#include "tests/lampup/TokenLibraryTable.h"
#include "standins/xobapi/SimulatedXobApi.h"
#include "standins/xobcomm/SimulatedXobComm.h"

using ::testing::ElementsAre;
using ::testing::IsEmpty;

namespace {

ReaderDescription Reader(const std::string& text)
{
    std::string error;
    auto reader = ParseReaderDescription(text, &error);
    EXPECT_TRUE(reader.has_value()) << error;
    return reader.value_or(ReaderDescription{});
}

// A log file of its own per test, removed afterwards.
class TempLog {
public:
    TempLog()
        : m_path(
              std::filesystem::temp_directory_path() /
              ("xobstandin-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + ".log"))
    {
        std::filesystem::remove(m_path);
    }
    ~TempLog() { std::filesystem::remove(m_path); }

    CallLog Log() const { return CallLog(m_path.string()); }

    std::vector<std::string> Lines() const
    {
        std::ifstream file(m_path);
        std::vector<std::string> lines;
        for (std::string line; std::getline(file, line);)
            lines.push_back(line);
        return lines;
    }

    std::vector<std::string> Matching(const std::string& prefix) const
    {
        std::vector<std::string> found;
        for (const auto& line : Lines())
            if (line.rfind(prefix, 0) == 0)
                found.push_back(line);
        return found;
    }

private:
    std::filesystem::path m_path;
};

std::array<uint8_t, 6> SwitchBlock(uint8_t state)
{
    return {0x55, 0x07, 0x00, state, 0xFF, 0xFF};
}

// Opens a session and addresses the first device of the search.
void AddressFirst(SimulatedXobComm& comm)
{
    ASSERT_EQ(1, comm.KeyOpen());
    ASSERT_EQ(1, comm.First());
    ASSERT_EQ(1, comm.StrongAccess());
}

const char* const kSwitchOnUsb = "bus 1 6\n device 01A1B2C3D4E5F6C7\n device 12000000000042A9\n";

} // namespace

TEST(SimulatedXobComm, SearchesOnlyTheLampBusInDescribedOrder)
{
    SimulatedXobComm comm(Reader("bus 1 1\n device 12AAAAAAAAAAAAAA\n"
                                 "bus 2 6\n device 01A1B2C3D4E5F6C7\n device 92000000000042A9\n"
                                 "lampbus 2 6\n"),
                          CallLog(""));
    uint8_t* rom = comm.RomData();
    ASSERT_EQ(1, comm.KeyOpen());
    ASSERT_EQ(1, comm.First());
    EXPECT_EQ(0x01, rom[0]);
    ASSERT_EQ(1, comm.Next());
    EXPECT_EQ(0x92, rom[0]);
    EXPECT_EQ(0xA9, rom[7]);
    EXPECT_EQ(0, comm.Next());
    ASSERT_EQ(1, comm.First()); // a new search starts over
    EXPECT_EQ(0x01, rom[0]);
}

TEST(SimulatedXobComm, NothingWorksOutsideASession)
{
    SimulatedXobComm comm(Reader(kSwitchOnUsb), CallLog(""));
    auto block = SwitchBlock(0x73);
    EXPECT_EQ(0, comm.First());
    EXPECT_EQ(0, comm.StrongAccess());
    EXPECT_EQ(0, comm.DataBlock(block.data(), 6));
    EXPECT_EQ(0, comm.KeyClose());

    AddressFirst(comm);
    EXPECT_EQ(1, comm.KeyClose());
    EXPECT_EQ(0, comm.DataBlock(block.data(), 6)); // closing forgets the addressed device
}

TEST(SimulatedXobComm, DescribedFaultsFailTheirCalls)
{
    SimulatedXobComm noOpen(Reader(std::string(kSwitchOnUsb) + "keyopen fail\n"), CallLog(""));
    EXPECT_EQ(0, noOpen.KeyOpen());
    EXPECT_EQ(0, noOpen.First());

    SimulatedXobComm noAccess(Reader(std::string(kSwitchOnUsb) + "strongaccess fail\n"), CallLog(""));
    ASSERT_EQ(1, noAccess.KeyOpen());
    ASSERT_EQ(1, noAccess.First());
    EXPECT_EQ(0, noAccess.StrongAccess());
}

TEST(SimulatedXobComm, AddressingNeedsAnIdOnTheBus)
{
    SimulatedXobComm comm(Reader(kSwitchOnUsb), CallLog(""));
    ASSERT_EQ(1, comm.KeyOpen());
    uint8_t* rom = comm.RomData();
    const std::array<uint8_t, 8> stranger = {0x12, 1, 2, 3, 4, 5, 6, 7};
    std::copy(stranger.begin(), stranger.end(), rom);
    EXPECT_EQ(0, comm.StrongAccess());
    const std::array<uint8_t, 8> theSwitch = {0x12, 0, 0, 0, 0, 0, 0x42, 0xA9};
    std::copy(theSwitch.begin(), theSwitch.end(), rom);
    EXPECT_EQ(1, comm.StrongAccess());
}

TEST(SimulatedXobComm, WrongAnswersComeFirstThenRightOnes)
{
    SimulatedXobComm comm(Reader("bus 1 6\n device 12000000000042A9 wrong 2\n"), CallLog(""));
    AddressFirst(comm);
    std::vector<bool> right;
    for (int i = 0; i < 4; ++i) {
        auto block = SwitchBlock(0x73);
        ASSERT_EQ(1, comm.DataBlock(block.data(), 6));
        right.push_back(block[4] == 0x1E && block[5] == 0x17);
    }
    EXPECT_THAT(right, ElementsAre(false, false, true, true));

    SimulatedXobComm never(Reader("bus 1 6\n device 12000000000042A9 wrong always\n"), CallLog(""));
    AddressFirst(never);
    for (int i = 0; i < 20; ++i) {
        auto block = SwitchBlock(0x53);
        ASSERT_EQ(1, never.DataBlock(block.data(), 6));
        ASSERT_FALSE(block[4] == 0x1F && block[5] == 0xCF) << "attempt " << i;
    }
}

TEST(SimulatedXobComm, OnlyASwitchAnswersACommandBlock)
{
    SimulatedXobComm comm(Reader("bus 1 6\n device 13000000000042A9\n device 12000000000042A9\n"), CallLog(""));
    AddressFirst(comm); // family 0x13: not a switch
    auto block = SwitchBlock(0x73);
    ASSERT_EQ(1, comm.DataBlock(block.data(), 6));
    EXPECT_THAT(block, ElementsAre(0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF));

    ASSERT_EQ(1, comm.Next());
    ASSERT_EQ(1, comm.StrongAccess());
    auto shortBlock = SwitchBlock(0x73);
    ASSERT_EQ(1, comm.DataBlock(shortBlock.data(), 5)); // not the switch's command: no answer
    EXPECT_EQ(0xFF, shortBlock[4]);
    EXPECT_EQ(0, comm.DataBlock(nullptr, 6));
    EXPECT_EQ(0, comm.DataBlock(block.data(), -1));
    EXPECT_EQ(0, comm.DataBlock(block.data(), 0));
}

TEST(SimulatedXobApi, CountFitsItsByteAndNamesTheFind)
{
    uint8_t count = 0;
    EXPECT_EQ(FindHandle(3), SimulatedXobApi(Reader("xobs 3\n"), CallLog("")).Find(&count));
    EXPECT_EQ(3, count);
    EXPECT_EQ(FindHandle(255), SimulatedXobApi(Reader("xobs 300\n"), CallLog("")).Find(&count));
    EXPECT_EQ(255, count); // not 300 mod 256 = 44, and never a wrapped 0 for 256
    SimulatedXobApi none(Reader("xobs 0\n"), CallLog(""));
    none.Find(&count);
    EXPECT_EQ(0, count);
    EXPECT_EQ(0u, none.Find(nullptr));
    EXPECT_NE(nullptr, none.FirmwareVersion());
}

TEST(TokenStandins, LogShowsSessionsWithTheirBufferAndEveryStateApplied)
{
    TempLog log;
    SimulatedXobComm comm(Reader("bus 1 6\n device 12000000000042A9 wrong 1\n"), log.Log());
    AddressFirst(comm);
    for (uint8_t state : {0x73, 0x73, 0x53}) {
        auto block = SwitchBlock(state);
        comm.StrongAccess();
        comm.DataBlock(block.data(), 6);
    }
    comm.KeyClose();

    EXPECT_THAT(log.Matching("VtKeyOpen"), ElementsAre("VtKeyOpen() = 1; rom 0000000000000000"));
    EXPECT_THAT(log.Matching("VtKeyClose"), ElementsAre("VtKeyClose() = 1; rom 12000000000042A9"));
    EXPECT_THAT(log.Matching("switch"),
                ElementsAre("switch 12000000000042A9 state 73", "switch 12000000000042A9 state 53"));
    EXPECT_THAT(log.Matching("VtDataBlock"),
                ElementsAre("VtDataBlock(55 07 00 73 FF FF, 6) = 1; received 55 07 00 73 E1 E8",
                            "VtDataBlock(55 07 00 73 FF FF, 6) = 1; received 55 07 00 73 1E 17",
                            "VtDataBlock(55 07 00 53 FF FF, 6) = 1; received 55 07 00 53 1F CF"));
}

namespace {

// lampup's seam over the two simulated libraries, with pauses only counted.
class SimulatedTokenLibraries final : public lampup::SystemPause {
public:
    SimulatedTokenLibraries(const ReaderDescription& reader, const CallLog& log)
        : m_api(reader, log), m_comm(reader, log)
    {
    }

    void SetXobSearchParamsEx(int32_t a, int32_t b, int32_t c) { m_api.SetSearchParams(a, b, c); }
    uint32_t FindXobs(uint8_t* count) { return m_api.Find(count); }
    void SelectXob(uint32_t found) { m_api.Select(found); }
    const char* GetFirmwareVersionString() { return m_api.FirmwareVersion(); }
    uint8_t VtKeyOpen() { return m_comm.KeyOpen(); }
    uint8_t* VtROMData() { return m_comm.RomData(); }
    uint8_t VtOverdriveOff() { return m_comm.OverdriveOff(); }
    uint8_t VtFirst() { return m_comm.First(); }
    uint8_t VtNext() { return m_comm.Next(); }
    uint8_t VtStrongAccess() { return m_comm.StrongAccess(); }
    uint8_t VtDataBlock(uint8_t* block, int32_t length) { return m_comm.DataBlock(block, length); }
    uint8_t VtKeyClose() { return m_comm.KeyClose(); }
    void Sleep(uint32_t) override { ++pauses; }

    int pauses = 0;

private:
    SimulatedXobApi m_api;
    SimulatedXobComm m_comm;
};

} // namespace

TEST(TokenStandins, LampupLightsTheSimulatedIndicator)
{
    TempLog log;
    SimulatedTokenLibraries libraries(Reader(std::string(kSwitchOnUsb) + " device 12FFFFFFFFFFFF01\n"), log.Log());
    lampup::IndicatorProgram program(lampup::TableOf(libraries), libraries);
    EXPECT_EQ(0, program.Run());

    EXPECT_EQ(0, libraries.pauses);
    EXPECT_THAT(log.Matching("switch"),
                ElementsAre("switch 12000000000042A9 state 73", "switch 12000000000042A9 state 53"));
    EXPECT_THAT(log.Matching("VtKeyClose"),
                ElementsAre("VtKeyClose() = 1; rom 0000000000000000", "VtKeyClose() = 1; rom 0000000000000000"));
}

TEST(TokenStandins, LampupGivesUpOnASilentSwitchAfterElevenAttempts)
{
    TempLog log;
    SimulatedTokenLibraries libraries(Reader("bus 1 6\n device 92000000000042A9 wrong always\n"), log.Log());
    lampup::IndicatorProgram program(lampup::TableOf(libraries), libraries);
    EXPECT_EQ(0, program.Run());

    EXPECT_EQ(11, libraries.pauses);
    EXPECT_EQ(11u, log.Matching("VtDataBlock").size());
    EXPECT_THAT(log.Matching("switch"), IsEmpty());
}
