#pragma once
// Group commit for the threads of one process: a commit that must reach the disk waits for a
// sync of the log that began after it. While one thread syncs, the threads that commit
// meanwhile wait, and the next sync serves them all at once, so the disk's slow flush is paid
// once per group rather than once per commit.
//
// A sync that fails is never run again. Linux reports a failed write-back once, to the sync that
// meets it, and marks the pages clean: a later sync of the same file succeeds though those pages
// never reached the disk. So from the first failure on, every commit that no sync had covered
// before it hears of that failure, and only a store opened afresh (whose checkpoint writes the
// log's pages into the database file again) can say that they are on the disk.
#include <atomic>
#include <cassert>
#include <condition_variable>
#include <cstdint>
#include <exception>
#include <mutex>

class GroupSync {
public:
    // Call after a commit: returns once a sync that began after the call has succeeded. The
    // caller runs sync itself when no other thread is syncing. When a sync has failed (this
    // caller's or another's) the failure is thrown instead, and sync is not run again.
    template <typename Sync>
    void Await(Sync&& sync)
    {
        std::unique_lock lock(m_mutex);
        const uint64_t mine = ++m_committed;
        while (m_synced < mine) {
            if (m_failure)
                std::rethrow_exception(m_failure);
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
                m_failure = std::current_exception();
                m_failed = true;
                m_changed.notify_all();
                throw;
            }
            lock.lock();
            assert(!m_failure && covered <= m_committed);
            m_syncing = false;
            m_synced = covered;
            m_changed.notify_all();
        }
    }

    // A sync has failed: nothing committed after the last good sync is known to be on the disk.
    bool Failed() const { return m_failed; }

private:
    std::mutex m_mutex;
    std::condition_variable m_changed;
    uint64_t m_committed = 0; // commits that asked for a sync
    uint64_t m_synced = 0;    // of those, the ones a finished sync covers
    bool m_syncing = false;
    std::exception_ptr m_failure;
    std::atomic<bool> m_failed{false};
};
