#include "site/report/Histogram.h"

#include <gtest/gtest.h>

#include <stdexcept>
#include <thread>
#include <vector>

using namespace std::chrono_literals;

TEST(LatencyHistogram, CountsEachTimeInTheFirstBucketNotBelowItAndEveryTimeInTheCount)
{
    LatencyHistogram histogram;
    const std::vector<std::chrono::nanoseconds> times{-5ms, 0ns, 500us, 500001ns, 3ms, 10s, 10s + 1ns, 2min};
    for (const auto elapsed : times)
        histogram.Observe(elapsed);
    const HistogramSnapshot snapshot = histogram.Snapshot();
    ASSERT_EQ(14u, snapshot.bounds.size());
    EXPECT_EQ(0.0005, snapshot.bounds.front());
    EXPECT_EQ(0.0025, snapshot.bounds[2]);
    EXPECT_EQ(10.0, snapshot.bounds.back());
    // -5 ms, 0 and 500 us at 0.5 ms; 500.001 us at 1 ms; 3 ms at 5 ms; 10 s at the last bound.
    const std::vector<uint64_t> expected{3, 4, 4, 5, 5, 5, 5, 5, 5, 5, 5, 5, 5, 6};
    EXPECT_EQ(expected, snapshot.cumulative);
    EXPECT_EQ(8u, snapshot.count);
    EXPECT_DOUBLE_EQ(0.0005 + 0.000500001 + 0.003 + 10 + 10.000000001 + 120, snapshot.sum);
}

TEST(LatencyHistogram, ThreadsObservingOneHistogramLoseNothingAndPerThreadHistogramsMergeToTheSame)
{
    constexpr int kThreads = 4;
    constexpr int kEach = 20'000;
    LatencyHistogram shared;
    std::vector<LatencyHistogram> own(kThreads);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kEach; ++i) {
                const auto elapsed = std::chrono::microseconds((i % 7) * 400 + t);
                shared.Observe(elapsed);
                own[static_cast<std::size_t>(t)].Observe(elapsed);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();

    HistogramSnapshot merged;
    for (const LatencyHistogram& histogram : own)
        Merge(merged, histogram.Snapshot());
    const HistogramSnapshot whole = shared.Snapshot();
    EXPECT_EQ(uint64_t{kThreads * kEach}, whole.count);
    EXPECT_EQ(whole.cumulative, merged.cumulative);
    EXPECT_EQ(whole.count, merged.count);
    EXPECT_DOUBLE_EQ(whole.sum, merged.sum);
}

TEST(LatencyHistogram, MergesOnlyHistogramsWithTheSameBuckets)
{
    HistogramSnapshot into{{1.0, 2.0}, {1, 2}, 3, 4.0};
    EXPECT_THROW(Merge(into, HistogramSnapshot{{1.0, 3.0}, {0, 0}, 0, 0}), std::logic_error);
    Merge(into, HistogramSnapshot{{1.0, 2.0}, {5, 5}, 6, 1.5});
    EXPECT_EQ((std::vector<uint64_t>{6, 7}), into.cumulative);
    EXPECT_EQ(9u, into.count);
    EXPECT_EQ(5.5, into.sum);
}
