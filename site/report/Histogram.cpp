#include "site/report/Histogram.h"

#include <algorithm>
#include <stdexcept>

void Merge(HistogramSnapshot& into, const HistogramSnapshot& from)
{
    if (into.bounds.empty() && into.count == 0) {
        into = from;
        return;
    }
    if (into.bounds != from.bounds || into.cumulative.size() != from.cumulative.size())
        throw std::logic_error("histograms with different buckets cannot be merged");
    for (std::size_t i = 0; i < into.cumulative.size(); ++i)
        into.cumulative[i] += from.cumulative[i];
    into.count += from.count;
    into.sum += from.sum;
}

void LatencyHistogram::Observe(std::chrono::nanoseconds elapsed) noexcept
{
    const int64_t nanoseconds = std::max<int64_t>(elapsed.count(), 0);
    // A bucket holds what is at or below its bound: the first bound not below the time.
    const auto bound =
        std::lower_bound(kBoundsMicroseconds.begin(), kBoundsMicroseconds.end(), nanoseconds,
                         [](int64_t microseconds, int64_t value) { return microseconds * 1000 < value; });
    m_counts[static_cast<std::size_t>(bound - kBoundsMicroseconds.begin())].fetch_add(1, std::memory_order_relaxed);
    m_nanoseconds.fetch_add(static_cast<uint64_t>(nanoseconds), std::memory_order_relaxed);
}

HistogramSnapshot LatencyHistogram::Snapshot() const
{
    HistogramSnapshot snapshot;
    uint64_t running = 0;
    for (std::size_t i = 0; i < kBoundsMicroseconds.size(); ++i) {
        running += m_counts[i].load(std::memory_order_relaxed);
        snapshot.bounds.push_back(static_cast<double>(kBoundsMicroseconds[i]) / 1e6);
        snapshot.cumulative.push_back(running);
    }
    // The count is the buckets' own total, so it always equals the last bucket plus what lies
    // above it, even while other threads observe.
    snapshot.count = running + m_counts.back().load(std::memory_order_relaxed);
    snapshot.sum = static_cast<double>(m_nanoseconds.load(std::memory_order_relaxed)) / 1e9;
    return snapshot;
}
