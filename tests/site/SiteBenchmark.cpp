// The verifier's cost per string. A string that is not genuine runs the whole seed search, so
// it is the worst case; a genuine one stops at its seed. Besides the mean, each reports the
// median and 99th percentile of single calls. A CGI process verifies one string, so the worst
// case is also measured as the first call in a new process, which must first map the search
// table and the code. The last benchmark is what building the search table at start-up would
// add to every process (the build does it at compile time). The store's benchmark is one
// accepted logon in the site database, in one transaction and synced to the disk.
#include "site/store/SqliteSiteStore.h"
#include "site/verifier/AuthenticatorVerifier.h"
#include "site/verifier/LowBucketTable.h"
#include "tests/site/TempFolder.h"

#include <benchmark/benchmark.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <vector>

namespace {

constexpr std::size_t kStrings = 1024;

std::vector<std::string> GenuineStrings()
{
    std::mt19937 random(1);
    std::vector<std::string> texts;
    for (std::size_t i = 0; i < kStrings; ++i) {
        RomRecord rom{};
        for (auto& cell : rom.cells)
            cell = static_cast<uint16_t>(random() & 0xFF);
        texts.push_back(EncodeAuthenticator(rom, random()));
    }
    return texts;
}

// Strings that decode but that no agent made: one low bit changed, which keeps the key's sign
// so the whole search runs.
std::vector<std::string> ForgedStrings()
{
    std::vector<std::string> texts = GenuineStrings();
    for (std::string& text : texts)
        text[32] = text[32] == '0' ? '1' : '0';
    return texts;
}

void VerifyEach(benchmark::State& state, const std::vector<std::string>& texts, Verdict expected)
{
    std::vector<double> micros;
    std::size_t next = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        const Verification verification = VerifyAuthenticator(texts[next]);
        micros.push_back(std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - start).count());
        if (verification.verdict != expected)
            state.SkipWithError("unexpected verdict");
        next = (next + 1) % texts.size();
    }
    std::sort(micros.begin(), micros.end());
    state.counters["p50_us"] = micros[micros.size() / 2];
    state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}

void BM_VerifyNotGenuine(benchmark::State& state)
{
    VerifyEach(state, ForgedStrings(), Verdict::NotGenuine);
}
BENCHMARK(BM_VerifyNotGenuine)->Unit(benchmark::kMicrosecond);

void BM_VerifyGenuine(benchmark::State& state)
{
    VerifyEach(state, GenuineStrings(), Verdict::Genuine);
}
BENCHMARK(BM_VerifyGenuine)->Unit(benchmark::kMicrosecond);

// Each iteration forks; the child times one verification and reports it through a pipe.
void BM_VerifyNotGenuineInNewProcess(benchmark::State& state)
{
    const std::vector<std::string> texts = ForgedStrings();
    std::size_t next = 0;
    for (auto _ : state) {
        int channel[2];
        if (pipe(channel) != 0) {
            state.SkipWithError("no pipe");
            break;
        }
        const pid_t child = fork();
        if (child == 0) {
            const auto start = std::chrono::steady_clock::now();
            const Verification verification = VerifyAuthenticator(texts[next]);
            double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
            if (verification.verdict != Verdict::NotGenuine)
                seconds = -1;
            _exit(write(channel[1], &seconds, sizeof seconds) == sizeof seconds ? 0 : 1);
        }
        double seconds = -1;
        const bool reported = read(channel[0], &seconds, sizeof seconds) == sizeof seconds;
        close(channel[0]);
        close(channel[1]);
        waitpid(child, nullptr, 0);
        if (!reported || seconds < 0) {
            state.SkipWithError("the child did not verify");
            break;
        }
        state.SetIterationTime(seconds);
        next = (next + 1) % texts.size();
    }
}
BENCHMARK(BM_VerifyNotGenuineInNewProcess)->UseManualTime()->Unit(benchmark::kMicrosecond)->Iterations(200);

void BM_BuildSearchTableAtRunTime(benchmark::State& state)
{
    // Called through a pointer the optimiser cannot see through, or it would build the table
    // at compile time here too and the loop would only copy it.
    LowBucketTable (*build)() = BuildLowBucketTable;
    benchmark::DoNotOptimize(build);
    for (auto _ : state) {
        auto table = std::make_unique<LowBucketTable>(build());
        benchmark::DoNotOptimize(table->lows.data());
    }
}
BENCHMARK(BM_BuildSearchTableAtRunTime)->Unit(benchmark::kMicrosecond);

// Each iteration offers a new genuine string of one enrolled token from an address of its own.
void BM_AcceptInSqliteSiteStore(benchmark::State& state)
{
    TempFolder folder;
    const std::string path = folder.Path("site.db");
    SqliteSiteStore::Initialise(path);
    SqliteSiteStore database = SqliteSiteStore::Open(path, StoreUse::LongLived);
    RomRecord rom{};
    RomBytes identity{};
    for (std::size_t i = 0; i < identity.size(); ++i)
        identity[i] = static_cast<uint8_t>(rom.cells[i] = static_cast<uint16_t>(0x10 + i));
    database.Enroll(identity, "bench", 0);
    uint32_t tick = 1;
    for (auto _ : state) {
        state.PauseTiming();
        const std::string text = EncodeAuthenticator(rom, tick);
        const std::string address = "10." + std::to_string(tick >> 16 & 0xFF) + "." + std::to_string(tick >> 8 & 0xFF) +
                                    "." + std::to_string(tick & 0xFF);
        SessionHash session{};
        session[0] = static_cast<uint8_t>(tick);
        session[1] = static_cast<uint8_t>(tick >> 8);
        session[2] = static_cast<uint8_t>(tick >> 16);
        ++tick;
        state.ResumeTiming();
        const StringCheck check = database.CheckString({address, address, {}}, 1000, {},
                                                       [&] { return VerifyAuthenticator(text); }, {session, true});
        if (check.outcome != Outcome::Accepted)
            state.SkipWithError("not accepted");
    }
}
BENCHMARK(BM_AcceptInSqliteSiteStore)->Unit(benchmark::kMicrosecond);

} // namespace
