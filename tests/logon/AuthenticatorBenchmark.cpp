// Cost of one encoding (done once per logon) and one decoding (done by the web server for
// every logon it receives).
#include "logon/Authenticator.h"

#include <benchmark/benchmark.h>

#include <string>
#include <vector>

namespace {

RomRecord SampleRom()
{
    return RomRecord{{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}};
}

void BM_EncodeAuthenticator(benchmark::State& state)
{
    const RomRecord rom = SampleRom();
    uint32_t tick = 0;
    for (auto _ : state)
        benchmark::DoNotOptimize(EncodeAuthenticator(rom, tick++));
}
BENCHMARK(BM_EncodeAuthenticator);

void BM_DecodeAuthenticator(benchmark::State& state)
{
    // Many different strings, so the figure is not one branch-predicted input.
    std::vector<std::string> texts;
    for (uint32_t tick = 0; tick < 1024; ++tick)
        texts.push_back(EncodeAuthenticator(SampleRom(), tick * 7919));
    std::size_t next = 0;
    for (auto _ : state) {
        benchmark::DoNotOptimize(DecodeAuthenticator(texts[next]));
        next = (next + 1) % texts.size();
    }
}
BENCHMARK(BM_DecodeAuthenticator);

} // namespace
