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

    // lows[first[b] ... first[b + 1]) are the lows in bucket b.
    std::array<uint32_t, kBucketCount + 1> first;
    std::array<uint16_t, kLowCount> lows;
};

constexpr LowBucketTable BuildLowBucketTable()
{
    LowBucketTable table{};
    for (uint32_t low = 0; low < LowBucketTable::kLowCount; ++low)
        ++table.first[LowBucketTable::Bucket(low) + 1];
    for (uint32_t bucket = 0; bucket < LowBucketTable::kBucketCount; ++bucket)
        table.first[bucket + 1] += table.first[bucket];
    std::array<uint32_t, LowBucketTable::kBucketCount> next{};
    for (uint32_t bucket = 0; bucket < LowBucketTable::kBucketCount; ++bucket)
        next[bucket] = table.first[bucket];
    for (uint32_t low = 0; low < LowBucketTable::kLowCount; ++low)
        table.lows[next[LowBucketTable::Bucket(low)]++] = static_cast<uint16_t>(low);
    return table;
}

// Defined in one source file so the compiler evaluates it once per build.
extern const LowBucketTable kLowBucketTable;
