// Worst-case run time of lampup's own work: a switch that never confirms, behind libraries
// that cost nothing, with the pauses either skipped (the program's own work alone) or real
// 10 ms sleeps (the whole run, with the time actually slept reported apart).
#include <benchmark/benchmark.h>

#include <array>
#include <chrono>
#include <thread>

#include "lampup/IndicatorProgram.h"
#include "tests/lampup/TokenLibraryTable.h"

namespace {

using Clock = std::chrono::steady_clock;

// One indicator switch on the bus; it confirms only the commands listed as right.
class InMemorySwitchBus final {
public:
    explicit InMemorySwitchBus(int firstRightAttempt) : m_firstRightAttempt(firstRightAttempt) {}

    void SetXobSearchParamsEx(int32_t, int32_t, int32_t) {}
    uint32_t FindXobs(uint8_t* count)
    {
        *count = 1;
        return 1;
    }
    void SelectXob(uint32_t) {}
    const char* GetFirmwareVersionString() { return ""; }
    uint8_t VtKeyOpen() { return 1; }
    uint8_t* VtROMData() { return m_rom.data(); }
    uint8_t VtOverdriveOff() { return 1; }
    uint8_t VtFirst()
    {
        m_rom = kSwitch;
        return 1;
    }
    uint8_t VtNext() { return 0; }
    uint8_t VtStrongAccess() { return 1; }
    uint8_t VtDataBlock(uint8_t* block, int32_t)
    {
        // Right answers for the two states the program sends; 0, 0 never confirms.
        const bool right = ++m_attempt >= m_firstRightAttempt && m_firstRightAttempt > 0;
        block[4] = right ? (block[3] == 0x73 ? 0x1E : 0x1F) : 0;
        block[5] = right ? (block[3] == 0x73 ? 0x17 : 0xCF) : 0;
        if (right && block[3] == 0x73)
            m_firstRightAttempt = 0; // the final state is never confirmed
        return 1;
    }
    uint8_t VtKeyClose() { return 1; }

private:
    static constexpr std::array<uint8_t, 8> kSwitch = {0x12, 0, 0, 0, 0, 0, 0x42, 0xA9};
    std::array<uint8_t, 8> m_rom{};
    int m_firstRightAttempt;
    int m_attempt = 0;
};

class CountedPause final : public lampup::SystemPause {
public:
    explicit CountedPause(bool real) : m_real(real) {}
    void Sleep(uint32_t milliseconds) override
    {
        ++pauses;
        if (!m_real)
            return;
        const auto start = Clock::now();
        std::this_thread::sleep_for(std::chrono::milliseconds(milliseconds));
        slept += Clock::now() - start;
    }

    int pauses = 0;
    Clock::duration slept{};

private:
    bool m_real;
};

// Arg 0: never confirms (11 pauses). Arg 11: first state on the 11th attempt, final state
// never (10 + 11 pauses), the longest run there is.
void RunOnce(benchmark::State& state, bool realPauses)
{
    int pauses = 0;
    Clock::duration slept{};
    Clock::duration total{};
    for (auto _ : state) {
        InMemorySwitchBus bus(static_cast<int>(state.range(0)));
        CountedPause pause(realPauses);
        lampup::IndicatorProgram program(lampup::TableOf(bus), pause);
        const auto start = Clock::now();
        benchmark::DoNotOptimize(program.Run());
        total += Clock::now() - start;
        pauses = pause.pauses;
        slept += pause.slept;
    }
    const auto runs = static_cast<double>(state.iterations());
    using Micro = std::chrono::duration<double, std::micro>;
    state.counters["pauses"] = pauses;
    state.counters["slept_ms"] = std::chrono::duration<double, std::milli>(slept).count() / runs;
    state.counters["own_us"] = (Micro(total).count() - Micro(slept).count()) / runs;
}

void WorstCaseOwnWork(benchmark::State& state)
{
    RunOnce(state, false);
}
void WorstCaseWithRealPauses(benchmark::State& state)
{
    RunOnce(state, true);
}

} // namespace

BENCHMARK(WorstCaseOwnWork)->Arg(0)->Arg(11);
BENCHMARK(WorstCaseWithRealPauses)->Arg(0)->Arg(11)->Iterations(20)->UseRealTime()->Unit(benchmark::kMillisecond);
