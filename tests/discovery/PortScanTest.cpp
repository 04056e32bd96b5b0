#include "discovery/PortScan.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cstring>

#include "FakeBus.h"

using ::testing::Each;
using ::testing::ElementsAre;
using Pairs = std::vector<std::pair<int, int>>;

namespace {

const Pairs kAllSevenPairs{{1, 5}, {2, 5}, {1, 1}, {1, 2}, {1, 6}, {3, 5}, {4, 5}};

RomRecord Sentinel()
{
    RomRecord record;
    for (uint16_t& cell : record.cells) {
        cell = 0xBEEF;
    }
    return record;
}

bool SameRecord(const RomRecord& a, const RomRecord& b)
{
    return std::memcmp(&a, &b, sizeof(RomRecord)) == 0;
}

RomRecord RecordOf(const FakeDevice& device)
{
    RomRecord record;
    std::memcpy(record.cells, device.cells.data(), sizeof(record.cells));
    return record;
}

RomRecord RecordWithFamily(uint16_t family)
{
    RomRecord record{};
    record.cells[0] = family;
    record.cells[7] = 0x12; // other cells must not matter
    return record;
}

unsigned char g_state[kBusStateBufferSize];

int Scan(const FakeBus& bus, unsigned mask, RomRecord& record)
{
    return ScanPorts(bus.EntryPoints(), g_state, mask, record);
}

const FakeDevice kToken = FakeDevice::Rom(0x01, 0xA1, 0xC7);
const FakeDevice kOtherToken = FakeDevice::Rom(0x01, 0xB2, 0x3E);
const FakeDevice kSwitch = FakeDevice::Rom(0x12, 0x42);

} // namespace

TEST(PortScan, EveryMaskTriesItsRowsInTableOrder)
{
    struct Case {
        unsigned mask;
        Pairs pairs;
    };
    const Case cases[] = {
        {63, kAllSevenPairs},
        {31, {{1, 5}, {2, 5}, {1, 1}, {1, 2}, {3, 5}, {4, 5}}}, // a stored 0 reads as 31: no USB
        {32, {{1, 6}}},
        {0x01, {{1, 5}, {1, 1}}}, // COM1 with both serial adapter types
        {0x02, {{2, 5}}},
        {0x04, {{3, 5}}},
        {0x08, {{4, 5}}},
        {0x10, {{1, 2}}},
        {0x24, {{1, 6}, {3, 5}}},
        {0, {}},
        {0xFFFFFFC0u, {}}, // only bits 0-5 select rows
        {0xFFFFFFFFu, kAllSevenPairs},
    };
    for (const Case& c : cases) {
        FakeBus bus;
        RomRecord record = Sentinel();
        EXPECT_EQ(0, Scan(bus, c.mask, record));
        EXPECT_EQ(c.pairs, bus.StartedPairs()) << "mask " << c.mask;
        EXPECT_TRUE(SameRecord(Sentinel(), record));
    }
}

TEST(PortScan, OnlyTheReadersOwnFamiliesAreIgnored)
{
    for (uint16_t family : {0x09, 0x12, 0x81}) {
        EXPECT_EQ(1, IsIgnoredFamily(RecordWithFamily(family))) << family;
    }
    // The whole cell is compared: an upper byte makes it a different family.
    for (uint16_t family :
         {0x00, 0x01, 0x08, 0x0A, 0x11, 0x13, 0x80, 0x82, 0x92, 0xFF, 0x0109, 0x0112, 0xFF81, 0x1200}) {
        EXPECT_EQ(0, IsIgnoredFamily(RecordWithFamily(family))) << family;
    }
}

TEST(PortScan, OneTokenBesideTheIndicatorSwitchIsFound)
{
    FakeBus bus;
    bus.Pair(1, 6).devices = {kSwitch, kToken};
    RomRecord record = Sentinel();
    EXPECT_EQ(1, Scan(bus, 63, record));
    EXPECT_TRUE(SameRecord(RecordOf(kToken), record));
}

TEST(PortScan, TheWholeRecordIsCopiedUpperBytesIncluded)
{
    FakeBus bus;
    FakeDevice token;
    token.cells = {0x0112, 0xFFA1, 0x01B2, 0x80C3, 0x00D4, 0x7FE5, 0x00F6, 0xABC7}; // 0x0112 is no switch
    bus.Pair(3, 5).devices = {token};
    RomRecord record = Sentinel();
    EXPECT_EQ(1, Scan(bus, 0x04, record));
    EXPECT_TRUE(SameRecord(RecordOf(token), record));
}

TEST(PortScan, BusesOfReaderDevicesOnlyFindNothing)
{
    FakeBus bus;
    bus.Pair(1, 5).devices = {FakeDevice::Rom(0x09, 1), FakeDevice::Rom(0x12, 2), FakeDevice::Rom(0x81, 3)};
    bus.Pair(1, 6).devices = {kSwitch};
    RomRecord record = Sentinel();
    EXPECT_EQ(0, Scan(bus, 63, record));
    EXPECT_EQ(4, bus.RomReads());
    EXPECT_TRUE(SameRecord(Sentinel(), record));
}

TEST(PortScan, MoreThanOneTokenGivesMinusOneAndEveryRowIsStillScanned)
{
    {
        SCOPED_TRACE("the same token through both COM1 adapter types counts twice");
        FakeBus bus;
        bus.Pair(1, 5).devices = {kToken};
        bus.Pair(1, 1).devices = {kToken};
        RomRecord record = Sentinel();
        EXPECT_EQ(-1, Scan(bus, 63, record));
        EXPECT_TRUE(SameRecord(Sentinel(), record));
    }
    {
        SCOPED_TRACE("two tokens on two ports");
        FakeBus bus;
        bus.Pair(2, 5).devices = {kToken};
        bus.Pair(1, 2).devices = {kOtherToken};
        bus.Pair(4, 5).devices = {kSwitch};
        RomRecord record = Sentinel();
        EXPECT_EQ(-1, Scan(bus, 63, record));
        EXPECT_EQ(kAllSevenPairs, bus.StartedPairs());
        EXPECT_EQ(3, bus.RomReads());
        EXPECT_TRUE(SameRecord(Sentinel(), record));
    }
    {
        SCOPED_TRACE("two tokens on one bus");
        FakeBus bus;
        bus.Pair(1, 6).devices = {kToken, kOtherToken};
        RomRecord record = Sentinel();
        EXPECT_EQ(-1, Scan(bus, 32, record));
    }
}

TEST(PortScan, FailedSessionStartCallsNothingElseForThatPair)
{
    for (int32_t start : {0, -1, -32768, INT32_MIN}) {
        FakeBus bus;
        bus.Pair(1, 5).start = start;
        bus.Pair(1, 5).devices = {kToken};
        bus.Pair(2, 5).devices = {kOtherToken};
        RomRecord record = Sentinel();
        EXPECT_EQ(1, Scan(bus, 0x03, record)) << start;
        EXPECT_TRUE(SameRecord(RecordOf(kOtherToken), record));
        const std::string failed = "start 1 5 = " + std::to_string(start);
        EXPECT_THAT(bus.Calls(), ElementsAre(failed, "start 2 5 = 205", "setup 205", "next 205", "rom 205", "next 205",
                                             "close 205", "end 205", "start 1 1 = 0"));
    }
}

TEST(PortScan, SetupThatIsNotExactlyOneClosesAndEndsWithoutReading)
{
    for (int16_t setup : {0, 2, -1, 257, INT16_MIN}) {
        FakeBus bus;
        bus.Pair(1, 6).setup = setup;
        bus.Pair(1, 6).devices = {kToken};
        RomRecord record = Sentinel();
        EXPECT_EQ(0, Scan(bus, 32, record)) << setup;
        EXPECT_THAT(bus.Calls(), ElementsAre("start 1 6 = 106", "setup 106", "close 106", "end 106"));
        EXPECT_TRUE(SameRecord(Sentinel(), record));
    }
}

TEST(PortScan, EmptyBusIsClosedAndEndedWithoutReading)
{
    for (int16_t endOfBus : {0, -1, INT16_MIN}) {
        FakeBus bus;
        bus.Pair(1, 2).endOfBus = endOfBus;
        RomRecord record = Sentinel();
        EXPECT_EQ(0, Scan(bus, 0x10, record));
        EXPECT_THAT(bus.Calls(), ElementsAre("start 1 2 = 102", "setup 102", "next 102", "close 102", "end 102"));
    }
}

TEST(PortScan, ForcedPositiveSessionHandleIsUsedForEveryCallOfThatSession)
{
    FakeBus bus;
    bus.Pair(1, 6).start = 7;
    bus.Pair(1, 6).devices = {kToken};
    RomRecord record = Sentinel();
    EXPECT_EQ(1, Scan(bus, 32, record));
    EXPECT_THAT(bus.Calls(), ElementsAre("start 1 6 = 7", "setup 7", "next 7", "rom 7", "next 7", "close 7", "end 7"));
}

TEST(PortScan, FailedRomReadSkipsOnlyThatDevice)
{
    for (int16_t failure : {0, 2, -1}) {
        FakeBus bus;
        FakeDevice broken = kOtherToken;
        broken.romResult = failure;
        bus.Pair(1, 6).devices = {broken, kToken};
        RomRecord record = Sentinel();
        EXPECT_EQ(1, Scan(bus, 32, record)) << failure;
        EXPECT_TRUE(SameRecord(RecordOf(kToken), record));
        EXPECT_EQ(2, bus.RomReads());
    }
}

TEST(PortScan, CellZeroIsClearedBeforeEveryReadAndTheOtherCellsCarryOver)
{
    FakeBus bus;
    // The second and third reads report success but fill cell 0 only.
    FakeDevice partialSwitch = kSwitch;
    partialSwitch.cellsWritten = 1;
    FakeDevice partialToken = FakeDevice::Rom(0x01, 0x00, 0x00);
    partialToken.cellsWritten = 1;
    bus.Pair(1, 5).devices = {FakeDevice::Rom(0x09, 0x77, 0x99), partialSwitch, partialToken};
    // A new pair starts from a zeroed working record, whatever the previous pair left.
    bus.Pair(2, 5).devices = {partialToken};
    RomRecord record = Sentinel();
    EXPECT_EQ(-1, Scan(bus, 0x03, record));
    EXPECT_THAT(bus.Cell0AtRead(), Each(0));
    EXPECT_EQ(4u, bus.Cell0AtRead().size());
}

TEST(PortScan, WorkingRecordKeepsTheCellsAReadLeavesAloneWithinOnePairOnly)
{
    FakeDevice partialToken = FakeDevice::Rom(0x01, 0x00, 0x00);
    partialToken.cellsWritten = 1;
    RomRecord record = Sentinel();
    {
        FakeBus bus;
        bus.Pair(1, 5).devices = {FakeDevice::Rom(0x09, 0x77, 0x99), partialToken};
        EXPECT_EQ(1, Scan(bus, 0x01, record));
        EXPECT_EQ((std::array<uint16_t, 8>{0x01, 0x77, 0x11, 0x22, 0x33, 0x44, 0x55, 0x99}),
                  std::to_array(record.cells));
    }
    {
        FakeBus bus;
        bus.Pair(1, 5).devices = {FakeDevice::Rom(0x09, 0x77, 0x99)};
        bus.Pair(2, 5).devices = {partialToken};
        EXPECT_EQ(1, Scan(bus, 0x03, record));
        EXPECT_EQ((std::array<uint16_t, 8>{0x01, 0, 0, 0, 0, 0, 0, 0}), std::to_array(record.cells));
    }
}

TEST(PortScan, EverySessionGetsTheSameStateBuffer)
{
    FakeBus bus;
    bus.Pair(1, 5).devices = {kToken, kSwitch};
    bus.Pair(1, 6).devices = {kOtherToken};
    bus.Pair(4, 5).endOfBus = 0;
    RomRecord record = Sentinel();
    Scan(bus, 63, record);
    EXPECT_EQ(9u, bus.BuffersSeen().size()); // 3 + 2 reads on COM1, 2 + 1 on USB, 1 on COM4
    EXPECT_THAT(bus.BuffersSeen(), Each(static_cast<const void*>(g_state)));
}

TEST(PortScan, SessionsAreClosedThenEndedOneAtATime)
{
    FakeBus bus;
    bus.Pair(1, 5).devices = {kToken};
    bus.Pair(1, 1).setup = 0;
    bus.Pair(1, 2).start = -5;
    bus.Pair(3, 5);
    RomRecord record = Sentinel();
    Scan(bus, 63, record);
    EXPECT_THAT(bus.Calls(), ElementsAre("start 1 5 = 105", "setup 105", "next 105", "rom 105", "next 105", "close 105",
                                         "end 105", "start 2 5 = 0", "start 1 1 = 101", "setup 101", "close 101",
                                         "end 101", "start 1 2 = -5", "start 1 6 = 0", "start 3 5 = 305", "setup 305",
                                         "next 305", "close 305", "end 305", "start 4 5 = 0"));
    EXPECT_EQ(0, bus.Overlaps());
}

TEST(PortScan, EnumerationThatNeverEndsStopsAndClosesTheSession)
{
    FakeBus bus;
    bus.RecordCalls(false);
    bus.Pair(1, 6).devices = {kSwitch};
    bus.Pair(1, 6).endless = true;
    RomRecord record = Sentinel();
    EXPECT_EQ(0, Scan(bus, 32, record));
    EXPECT_EQ(kMaxDevicesPerSession, bus.RomReads());
    EXPECT_EQ(1, bus.SessionsClosed());
    EXPECT_EQ(1, bus.SessionsEnded());
}

TEST(PortScan, ScanPortAppendsToTheCallersListInOrder)
{
    FakeBus bus;
    bus.Pair(1, 6).devices = {kToken, kSwitch, kOtherToken};
    RomRecordList list;
    list.push_back(std::make_unique<RomRecord>(Sentinel()));
    ScanPort(bus.EntryPoints(), g_state, 1, 6, list);
    ASSERT_EQ(3u, list.size());
    EXPECT_TRUE(SameRecord(Sentinel(), *list[0]));
    EXPECT_TRUE(SameRecord(RecordOf(kToken), *list[1]));
    EXPECT_TRUE(SameRecord(RecordOf(kOtherToken), *list[2]));
}
