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

inline constexpr int64_t kDailyKeepSeconds = kDailyKeepDays * kSecondsPerDay;
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

// What became of a genuine string offered to the store.
struct Admission {
    Outcome outcome = Outcome::NotEnrolled; // Accepted, NotEnrolled, Revoked or AlreadyUsed
    std::string account;                    // when accepted
};

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

// The order of every store's CheckString, within the store's own transaction: the origin's
// budgets first (gauge, which counts a refusal and returns the Gate), and only while they hold
// the search. A string that is not genuine is recorded by fail(outcome, identity); a genuine one
// is admitted by admit(verification), which records its attempt and returns the Admission.
template <typename Gauge, typename Fail, typename Admit>
StringCheck CheckOffered(Gauge gauge, const Search& search, Fail fail, Admit admit)
{
    StringCheck check;
    check.gate = gauge();
    if (!check.gate.exhausted.empty()) {
        check.outcome = Outcome::TooManyFailures;
        return check;
    }
    const Verification verification = search();
    check.identity = verification.identity;
    if (verification.verdict != Verdict::Genuine) {
        check.outcome = verification.verdict == Verdict::Malformed ? Outcome::Malformed : Outcome::NotGenuine;
        fail(check.outcome, verification.identity);
        return check;
    }
    const Admission admission = admit(verification);
    check.outcome = admission.outcome;
    check.account = admission.account;
    return check;
}
