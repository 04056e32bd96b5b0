// The scan's heap use: one record per token found plus the list's own storage, and nothing
// left behind (no record, no open session) when an allocation fails part-way.
#include "discovery/PortScan.h"

#include <gtest/gtest.h>

#include <cstring>
#include <new>

#include "CountingAllocator.h"
#include "FakeBus.h"

namespace {

unsigned char g_state[kBusStateBufferSize];

// One token on each of the first `tokens` pairs of the table, a switch on every pair.
void Populate(FakeBus& bus, int tokens)
{
    int row = 0;
    for (const ScanRow& pair : ScanOrder) {
        FakePair& script = bus.Pair(pair.portNumber, pair.adapterType);
        script.devices = {FakeDevice::Rom(0x12, 0x42)};
        if (row++ < tokens) {
            script.devices.push_back(FakeDevice::Rom(0x01, static_cast<uint8_t>(row)));
        }
    }
    bus.RecordCalls(false);
}

} // namespace

TEST(PortScanAllocation, AllocationsAreBoundedByTheTokensFound)
{
    for (int tokens = 0; tokens <= 7; ++tokens) {
        FakeBus bus;
        Populate(bus, tokens);
        RomRecord record{};
        AllocationCounts counts;
        {
            CountingScope scope;
            ScanPorts(bus.EntryPoints(), g_state, 63, record);
            counts = scope.Counts();
        }
        EXPECT_EQ(counts.allocations, counts.releases) << tokens << " tokens";
        if (tokens == 0) {
            EXPECT_EQ(0, counts.allocations);
        } else {
            // One record per token; the list's storage grows geometrically, so at most as often.
            EXPECT_GE(counts.allocations, tokens);
            EXPECT_LE(counts.allocations, 2 * tokens) << tokens << " tokens";
        }
    }
}

TEST(PortScanAllocation, FailedAllocationReleasesEverythingAndClosesEverySession)
{
    // Fail each allocation of a scan in turn, until a scan needs no more than were allowed.
    for (long failAt = 1;; ++failAt) {
        FakeBus bus;
        Populate(bus, 3);
        RomRecord record;
        std::memset(&record, 0x5C, sizeof record);
        const RomRecord before = record;
        bool threw = false;
        AllocationCounts counts;
        {
            CountingScope scope(failAt);
            try {
                ScanPorts(bus.EntryPoints(), g_state, 63, record);
            } catch (const std::bad_alloc&) {
                threw = true;
            }
            counts = scope.Counts();
            EXPECT_EQ(threw, scope.Failed());
        }
        EXPECT_EQ(counts.allocations, counts.releases) << "allocation " << failAt;
        EXPECT_EQ(bus.SessionsOpened(), bus.SessionsClosed()) << "allocation " << failAt;
        EXPECT_EQ(bus.SessionsOpened(), bus.SessionsEnded()) << "allocation " << failAt;
        EXPECT_EQ(0, std::memcmp(&before, &record, sizeof record));
        if (!threw) {
            EXPECT_GT(failAt, 3); // three records at least were needed
            break;
        }
        // The session being enumerated when the allocation failed is the last one opened.
        EXPECT_LE(bus.SessionsOpened(), static_cast<int>(ScanOrder.size()));
    }
}
