// The agent's own cost of a scan: all seven rows against a bus library that costs nothing,
// eight devices on every bus, so what is measured is the scan's bookkeeping and its heap use.
#include <benchmark/benchmark.h>

#include <array>
#include <cstdint>

#include "CountingAllocator.h"
#include "discovery/PortScan.h"

namespace {

constexpr int kDevicesPerBus = 8;
constexpr int kPairs = static_cast<int>(ScanOrder.size());

// Every pair opens a session whose handle is its adapter type times 16 plus its port
// number. The first g_tokens devices a scan reads are tokens, the rest the readers' own.
int g_tokens = 0;
int g_read = 0;
std::array<int, 128> g_cursor{};

int32_t BUSAPI ZeroStart(int16_t port, int16_t adapter, void*)
{
    if (port == ScanOrder[0].portNumber && adapter == ScanOrder[0].adapterType) {
        g_read = 0; // a new scan
    }
    return adapter * 16 + port;
}

int16_t BUSAPI ZeroSetup(int32_t)
{
    return 1;
}

int16_t BUSAPI ZeroNext(int32_t session, void*)
{
    return ++g_cursor[static_cast<std::size_t>(session)] <= kDevicesPerBus ? 1 : 0;
}

int16_t BUSAPI ZeroRom(int32_t session, void*, int16_t* rom)
{
    const int device = g_cursor[static_cast<std::size_t>(session)];
    rom[0] = static_cast<int16_t>(g_read++ < g_tokens ? 0x01 : 0x12);
    rom[1] = static_cast<int16_t>(device);
    rom[7] = static_cast<int16_t>(session);
    return 1;
}

int16_t BUSAPI ZeroClose(int32_t)
{
    return 1;
}

int16_t BUSAPI ZeroEnd(int32_t session)
{
    g_cursor[static_cast<std::size_t>(session)] = 0;
    return 1;
}

const BusEntryPoints kZeroBus{.BXExtendedStartSession = &ZeroStart,
                              .BXEndSession = &ZeroEnd,
                              .BXSetup = &ZeroSetup,
                              .BXNext = &ZeroNext,
                              .BXRom = &ZeroRom,
                              .BXClose = &ZeroClose};

unsigned char g_state[kBusStateBufferSize];

void ScanAllSevenRows(benchmark::State& state)
{
    g_tokens = static_cast<int>(state.range(0));
    RomRecord record{};
    AllocationCounts counts;
    {
        const CountingScope counting;
        for (auto _ : state) {
            benchmark::DoNotOptimize(ScanPorts(kZeroBus, g_state, 63, record));
            benchmark::ClobberMemory();
        }
        counts = counting.Counts();
    }
    const double scans = static_cast<double>(state.iterations());
    state.SetItemsProcessed(state.iterations() * kPairs * kDevicesPerBus); // devices
    state.counters["tokens"] = g_tokens;
    state.counters["allocs/scan"] = static_cast<double>(counts.allocations) / scans;
    state.counters["leaked"] = static_cast<double>(counts.allocations - counts.releases);
    state.counters["s/device"] =
        benchmark::Counter(scans * kPairs * kDevicesPerBus, benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}

} // namespace

// No token; one token (the logon's good case); two; one on every bus; every device a token.
BENCHMARK(ScanAllSevenRows)->Arg(0)->Arg(1)->Arg(2)->Arg(7)->Arg(56)->ArgName("tokens");
