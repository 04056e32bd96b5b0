#include "standins/vtfs32/SimulatedBusLibrary.h"

#include <gtest/gtest.h>

#include <array>
#include <cstring>

namespace {

ReaderDescription Reader(std::string_view text)
{
    std::string error;
    auto reader = ParseReaderDescription(text, &error);
    EXPECT_TRUE(reader) << error;
    return reader.value_or(ReaderDescription{});
}

unsigned char g_state[64];

std::array<uint16_t, 8> Cells(const int16_t (&rom)[8])
{
    std::array<uint16_t, 8> cells{};
    std::memcpy(cells.data(), rom, sizeof rom);
    return cells;
}

} // namespace

TEST(SimulatedBusLibrary, EnumeratesTheDescribedDevicesInOrder)
{
    SimulatedBusLibrary library;
    const ReaderDescription reader = Reader("bus 1 6\n device 01A1B2C3D4E5F6C7\n device 12000000000042A9 high 0x80\n");
    const int32_t session = library.StartSession(reader, 1, 6);
    ASSERT_GT(session, 0);
    ASSERT_EQ(1, library.Setup(session));
    int16_t rom[8] = {};
    ASSERT_EQ(1, library.Next(session, g_state));
    ASSERT_EQ(1, library.Rom(session, g_state, rom));
    EXPECT_EQ((std::array<uint16_t, 8>{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0xC7}), Cells(rom));
    EXPECT_EQ("01A1B2C3D4E5F6C7", library.CurrentRom(session));
    ASSERT_EQ(1, library.Next(session, g_state));
    ASSERT_EQ(1, library.Rom(session, g_state, rom));
    EXPECT_EQ((std::array<uint16_t, 8>{0x8012, 0x8000, 0x8000, 0x8000, 0x8000, 0x8000, 0x8042, 0x80A9}), Cells(rom));
    EXPECT_EQ(0, library.Next(session, g_state));
    EXPECT_EQ(0, library.Rom(session, g_state, rom)); // past the end: no current device
    EXPECT_EQ(1, library.Close(session));
    EXPECT_EQ(1, library.EndSession(session));
    EXPECT_EQ(0u, library.OpenSessions());
}

TEST(SimulatedBusLibrary, SessionsArePositiveDistinctAndOnlyOnDescribedBuses)
{
    SimulatedBusLibrary library;
    const ReaderDescription reader = Reader("bus 1 5\nbus 1 1\n");
    const int32_t first = library.StartSession(reader, 1, 5);
    const int32_t second = library.StartSession(reader, 1, 1);
    EXPECT_GT(first, 0);
    EXPECT_GT(second, 0);
    EXPECT_NE(first, second);
    EXPECT_EQ(0, library.StartSession(reader, 2, 5));
    EXPECT_EQ(0, library.StartSession(reader, 5, 1)); // port and adapter are not interchangeable
    EXPECT_EQ(2u, library.OpenSessions());
}

TEST(SimulatedBusLibrary, InjectedFaultsAreAnsweredAsDescribed)
{
    SimulatedBusLibrary library;
    const ReaderDescription reader = Reader("bus 1 5\n start 0\n"
                                            "bus 2 5\n start -7\n"
                                            "bus 3 5\n start 42\n device 0100000000000000\n"
                                            "bus 4 5\n setup 3\n device 0100000000000000\n"
                                            "bus 1 2\n device 0111111111111111 romfail\n device 0122222222222222\n");
    EXPECT_EQ(0, library.StartSession(reader, 1, 5));
    EXPECT_EQ(-7, library.StartSession(reader, 2, 5));
    EXPECT_EQ(0u, library.OpenSessions());

    EXPECT_EQ(42, library.StartSession(reader, 3, 5));
    EXPECT_EQ(1, library.Setup(42));
    EXPECT_EQ(1, library.Next(42, g_state));

    const int32_t unready = library.StartSession(reader, 4, 5);
    EXPECT_EQ(3, library.Setup(unready));
    EXPECT_EQ(0, library.Next(unready, g_state)); // a bus that did not set up enumerates nothing

    const int32_t session = library.StartSession(reader, 1, 2);
    ASSERT_EQ(1, library.Setup(session));
    int16_t rom[8];
    std::memset(rom, 0x77, sizeof rom);
    ASSERT_EQ(1, library.Next(session, g_state));
    EXPECT_EQ(0, library.Rom(session, g_state, rom));
    EXPECT_EQ(0x7777, static_cast<uint16_t>(rom[0])); // a failed read leaves the record alone
    ASSERT_EQ(1, library.Next(session, g_state));
    EXPECT_EQ(1, library.Rom(session, g_state, rom));
    EXPECT_EQ(0x22, rom[1]);
}

TEST(SimulatedBusLibrary, MisuseGetsAFailureNotACrash)
{
    SimulatedBusLibrary library;
    const ReaderDescription reader = Reader("bus 1 6\n device 0100000000000000\n");
    int16_t rom[8] = {};
    EXPECT_EQ(0, library.Setup(99));
    EXPECT_EQ(0, library.Next(99, g_state));
    EXPECT_EQ(0, library.Rom(99, g_state, rom));
    EXPECT_EQ(0, library.Close(99));
    EXPECT_EQ(0, library.EndSession(99));

    const int32_t session = library.StartSession(reader, 1, 6);
    EXPECT_EQ(0, library.Next(session, g_state)); // not set up yet
    ASSERT_EQ(1, library.Setup(session));
    EXPECT_EQ(0, library.Rom(session, g_state, rom)); // no current device yet
    EXPECT_EQ(-1, library.Next(session, nullptr));
    ASSERT_EQ(1, library.Next(session, g_state));
    EXPECT_EQ(-1, library.Rom(session, nullptr, rom));
    EXPECT_EQ(-1, library.Rom(session, g_state, nullptr));
    EXPECT_EQ(1, library.Close(session));
    EXPECT_EQ(0, library.Close(session));
    EXPECT_EQ(0, library.Rom(session, g_state, rom)); // closed
    EXPECT_EQ(0, library.Next(session, g_state));
    EXPECT_EQ(1, library.EndSession(session));
    EXPECT_EQ(0, library.EndSession(session));
}

TEST(SimulatedBusLibrary, SessionKeepsTheBusItWasOpenedOn)
{
    SimulatedBusLibrary library;
    ReaderDescription reader = Reader("bus 1 6\n device 0100000000000000\n");
    const int32_t session = library.StartSession(reader, 1, 6);
    reader = Reader("bus 1 6\n");
    ASSERT_EQ(1, library.Setup(session));
    EXPECT_EQ(1, library.Next(session, g_state));
}

TEST(SimulatedBusLibrary, TypeVersionFitsItsBuffer)
{
    char buffer[SimulatedBusLibrary::kTypeVersionSize];
    std::memset(buffer, 'x', sizeof buffer);
    EXPECT_EQ(1, SimulatedBusLibrary::GetTypeVersion(-32768, buffer));
    EXPECT_NE(nullptr, std::memchr(buffer, '\0', sizeof buffer));
    EXPECT_EQ(0, SimulatedBusLibrary::GetTypeVersion(6, nullptr));
}
