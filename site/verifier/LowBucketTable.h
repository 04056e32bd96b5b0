#pragma once
// The seed search writes the state at the first visible draw as high * 2^16 + low. Two steps
// later the output is (a2 * high + Bucket(low)) mod 2^15, so for a given high the lows that fit
// the next visible byte are those whose bucket lies in one or two ranges. This table lists all
// 65536 lows sorted by bucket (a counting sort), so each range is one contiguous slice.
//
// It is built by the compiler: a CGI process verifies a single string, and building the table
// at start-up would cost every process more than the search itself.
#include "site/verifier/Generator.h"

#include <array>
#include <cstdint>

struct LowBucketTable {
    static constexpr uint32_t kLowCount = 1u << 16;
    static constexpr uint32_t kBucketCount = generator::kOutputMask + 1;
    static constexpr generator::Jump kTwoSteps = generator::JumpOf(2);

    static constexpr uint32_t Bucket(uint32_t low)
    {
        return generator::Output(kTwoSteps.multiplier * low + kTwoSteps.increment);
    }

    // lows[Begin(b) ... Begin(b + 1)) are the lows in bucket b.
    constexpr uint32_t Begin(uint32_t bucket) const { return bucket == kBucketCount ? kLowCount : first[bucket]; }

    // 16-bit offsets keep the table at 192 KB: a new process maps every page it touches, and
    // the search touches most of them.
    std::array<uint16_t, kBucketCount> first;
    std::array<uint16_t, kLowCount> lows;
};

constexpr LowBucketTable BuildLowBucketTable()
{
    constexpr uint32_t kBuckets = LowBucketTable::kBucketCount;
    std::array<uint32_t, kBuckets + 1> begin{};
    for (uint32_t low = 0; low < LowBucketTable::kLowCount; ++low)
        ++begin[LowBucketTable::Bucket(low) + 1];
    for (uint32_t bucket = 0; bucket < kBuckets; ++bucket)
        begin[bucket + 1] += begin[bucket];
    // Every start fits in 16 bits as long as the last bucket is not empty; otherwise the
    // compiler stops here.
    if (begin[kBuckets - 1] >= LowBucketTable::kLowCount)
        throw "the last bucket is empty: 16-bit offsets do not suffice";

    LowBucketTable table{};
    std::array<uint32_t, kBuckets> next{};
    for (uint32_t bucket = 0; bucket < kBuckets; ++bucket) {
        table.first[bucket] = static_cast<uint16_t>(begin[bucket]);
        next[bucket] = begin[bucket];
    }
    for (uint32_t low = 0; low < LowBucketTable::kLowCount; ++low)
        table.lows[next[LowBucketTable::Bucket(low)]++] = static_cast<uint16_t>(low);
    return table;
}

// Defined in one source file so the compiler evaluates it once per build.
extern const LowBucketTable kLowBucketTable;
