#include "site/store/GroupSync.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <stdexcept>
#include <thread>
#include <vector>

namespace {

// Each thread "commits" (counts a write), then waits for the disk. A sync makes durable what
// was written when it began; no waiter may return before a sync covering its own write.
TEST(GroupSyncTest, NoCommitReturnsBeforeASyncThatBeganAfterIt)
{
    GroupSync group;
    std::atomic<int> written{0};
    std::atomic<int> durable{0};
    std::atomic<int> early{0};
    constexpr int kThreads = 8;
    constexpr int kCommits = 200;
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&] {
            for (int i = 0; i < kCommits; ++i) {
                const int mine = ++written;
                group.Await([&] {
                    const int covered = written.load();
                    std::this_thread::sleep_for(std::chrono::microseconds(50));
                    int seen = durable.load();
                    while (seen < covered && !durable.compare_exchange_weak(seen, covered)) {
                    }
                });
                if (durable.load() < mine)
                    ++early;
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(0, early.load());
}

// Linux reports a failed write-back once: a later sync of the same file may succeed though the
// earlier pages never reached the disk. So once a sync failed, none runs again, and every commit
// that no sync had covered before the failure hears of it, whenever it comes.
TEST(GroupSyncTest, AFailedSyncIsNeverRunAgainAndEveryCommitItLeftUncoveredHearsOfIt)
{
    GroupSync group;
    int syncs = 0;
    group.Await([&] { ++syncs; });
    std::atomic<bool> failing{false};
    std::atomic<int> heard{0};
    std::vector<std::thread> waiters;
    std::thread first([&] {
        try {
            group.Await([&] {
                ++syncs;
                failing = true;
                // Long enough for the other commits to queue behind this sync.
                std::this_thread::sleep_for(std::chrono::milliseconds(20));
                throw std::runtime_error("the disk failed");
            });
        } catch (const std::runtime_error&) {
            ++heard;
        }
    });
    while (!failing)
        std::this_thread::yield();
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] {
            try {
                group.Await([&] { ++syncs; });
            } catch (const std::runtime_error&) {
                ++heard;
            }
        });
    first.join();
    for (std::thread& waiter : waiters)
        waiter.join();
    EXPECT_THROW(group.Await([&] { ++syncs; }), std::runtime_error);
    EXPECT_EQ(2, syncs);
    EXPECT_EQ(5, heard.load());
}

} // namespace
