#pragma once
// What the site's two stores (the SQLite file and the PostgreSQL database) hold alike: how a
// store is known as ours, its schema's version, how long records are kept, and the checks of
// rows that read the same in both dialects. Only the stores include this.
#include "site/store/SiteStore.h"

#include <cstdint>
#include <string>

// "EnSt": how a store is known as ours before any table is read.
inline constexpr int64_t kApplicationId = 0x456E5374;
// Raised with every change to the tables; initialising brings older stores up to it.
inline constexpr int64_t kSchemaVersion = 3;
// How long a store that lost its connection while committing tries to reach the database
// again to find out whether the commit was made, before it answers that it cannot tell.
inline constexpr int kResolveSeconds = 5;

inline constexpr int64_t kSecondsPerDay = 24 * 60 * 60;
// Counts per day are kept for a year and a bit, for comparisons with the same time last year.
inline constexpr int64_t kDailyKeepSeconds = 400 * kSecondsPerDay;
// Rows one round of the clean-up removes at most: small enough that a request that tidies up
// notices no delay; a prune goes in larger rounds.
inline constexpr int64_t kTidyRows = 128;
inline constexpr int64_t kPruneRows = 2000;

// Rows that break the rules the program keeps, each query giving one line per fault; each store
// adds the checks its own dialect writes differently.
inline constexpr const char* kPortableRowChecks[] = {
    "SELECT 'used string of ' || identity || ' (seed ' || seed || ') has no token row' FROM used_strings"
    " WHERE identity NOT IN (SELECT identity FROM tokens)",
    "SELECT 'session of ' || identity || ' has no token row' FROM sessions WHERE identity NOT IN (SELECT identity"
    " FROM tokens)",
};

// The offer's mark as a used string keeps it: its first eight bytes, as a whole number. The
// bits are random, so two requests offering the same string share them with odds of 2^-64.
inline int64_t MarkOf(const SessionHash& mark)
{
    uint64_t bits = 0;
    for (std::size_t i = 0; i < sizeof bits; ++i)
        bits = bits << 8 | mark[i];
    return static_cast<int64_t>(bits);
}

// The budget that failures counted within the window have spent, the widest first: its
// address or network, or nothing while every budget holds.
inline std::string SpentBudget(const Origin& origin, const Budgets& budgets, int64_t addressFailures,
                               int64_t networkFailures, int64_t wideFailures)
{
    if (wideFailures >= budgets.wideNetwork)
        return origin.wideNetwork;
    if (networkFailures >= budgets.network)
        return origin.network;
    if (addressFailures >= budgets.address)
        return origin.address;
    return {};
}
