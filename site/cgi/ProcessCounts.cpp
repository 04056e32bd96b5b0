#include "site/cgi/ProcessCounts.h"

#include <atomic>
#include <mutex>
#include <string>
#include <utility>

namespace {

struct Pending {
    std::mutex lock;
    Counts counts;
};

Pending& ThisProcess()
{
    static Pending pending;
    return pending;
}

std::atomic<const LatencyHistogram*> g_answerTimes{nullptr};

} // namespace

void CountEvent(std::string_view name, std::string_view label)
{
    Pending& pending = ThisProcess();
    const std::lock_guard hold(pending.lock);
    ++pending.counts[{std::string(name), std::string(label)}];
}

void WriteCounts(SiteStore& store)
{
    Pending& pending = ThisProcess();
    Counts counts;
    {
        const std::lock_guard hold(pending.lock);
        counts = std::exchange(pending.counts, {});
    }
    if (counts.empty())
        return;
    try {
        store.AddCounts(counts);
    } catch (const StoreError& error) {
        if (error.kind() != StoreError::Kind::Unresolved) {
            const std::lock_guard hold(pending.lock);
            for (const auto& [name, count] : counts)
                pending.counts[name] += count;
        }
        throw;
    }
}

bool CountsPending()
{
    Pending& pending = ThisProcess();
    const std::lock_guard hold(pending.lock);
    return !pending.counts.empty();
}

void KeepAnswerTimes(const LatencyHistogram* histogram)
{
    g_answerTimes = histogram;
}

const LatencyHistogram* AnswerTimes()
{
    return g_answerTimes;
}
