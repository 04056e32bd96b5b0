#pragma once
// How long login.fcgi takes to answer, counted in fixed buckets as Prometheus reads a
// histogram. Every request of every thread observes one answer time, so observing takes no
// lock and allocates nothing; a scrape reads a snapshot meanwhile.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <vector>

// A histogram as it is written out: each bucket counts the observations at or below its bound,
// so the counts never fall from one bucket to the next; count holds every observation, those
// above the last bound included.
struct HistogramSnapshot {
    std::vector<double> bounds; // seconds, rising
    std::vector<uint64_t> cumulative;
    uint64_t count = 0;
    double sum = 0; // seconds
};

// Adds from to into: the answers of several threads or processes as one. An empty into takes
// from's buckets; buckets that differ throw std::logic_error.
void Merge(HistogramSnapshot& into, const HistogramSnapshot& from);

class LatencyHistogram {
public:
    // From half a millisecond (a welcome page from a warm store) to ten seconds (a store that
    // hangs), in steps of 1, 2.5 and 5.
    static constexpr std::array<int64_t, 14> kBoundsMicroseconds{500,       1'000,     2'500,     5'000,     10'000,
                                                                 25'000,    50'000,    100'000,   250'000,   500'000,
                                                                 1'000'000, 2'500'000, 5'000'000, 10'000'000};

    // A negative time (a clock set back) counts as none.
    void Observe(std::chrono::nanoseconds elapsed) noexcept;
    HistogramSnapshot Snapshot() const;

private:
    // Per bucket, not yet cumulative; the last one holds what is above every bound.
    std::array<std::atomic<uint64_t>, kBoundsMicroseconds.size() + 1> m_counts{};
    std::atomic<uint64_t> m_nanoseconds{0};
};
