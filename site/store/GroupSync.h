#pragma once
// Group commit for the threads of one process: a commit that must reach the disk waits for a
// sync of the log that began after it. While one thread syncs, the threads that commit
// meanwhile wait, and the next sync serves them all at once, so the disk's slow flush is paid
// once per group rather than once per commit.
#include <condition_variable>
#include <cstdint>
#include <mutex>

class GroupSync {
public:
    // Call after a commit: returns once a sync that began after the call has succeeded. The
    // caller runs sync itself when no other thread is syncing. When sync throws, the exception
    // goes to the thread that ran it and the other waiters run a sync of their own.
    template <typename Sync>
    void Await(Sync&& sync)
    {
        std::unique_lock lock(m_mutex);
        const uint64_t mine = ++m_committed;
        while (m_synced < mine) {
            if (m_syncing) {
                m_changed.wait(lock);
                continue;
            }
            m_syncing = true;
            const uint64_t covered = m_committed;
            lock.unlock();
            try {
                sync();
            } catch (...) {
                lock.lock();
                m_syncing = false;
                m_changed.notify_all();
                throw;
            }
            lock.lock();
            m_syncing = false;
            m_synced = covered;
            m_changed.notify_all();
        }
    }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_committed = 0; // commits that asked for a sync
    uint64_t m_synced = 0;    // of those, the ones a finished sync covers
    bool m_syncing = false;
};
