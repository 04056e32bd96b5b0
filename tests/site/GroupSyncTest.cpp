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

TEST(GroupSyncTest, AFailedSyncReachesItsCallerAndTheNextCommitSyncsAgain)
{
    GroupSync group;
    int syncs = 0;
    EXPECT_THROW(group.Await([&] {
        ++syncs;
        throw std::runtime_error("the disk failed");
    }),
                 std::runtime_error);
    group.Await([&] { ++syncs; });
    EXPECT_EQ(2, syncs);
}

} // namespace
