#pragma once
// What the site's two stores (the SQLite file and the PostgreSQL database) hold alike besides
// their SQL (StoreSql.h): how a store is known as ours, its schema's version, how long records
// are kept, the order of a string's check, and how a store's header and schema are judged. Only
// the stores include this.
#include "site/store/SiteStore.h"
#include "site/verifier/Identity.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <string>
#include <tuple>
#include <vector>

// "EnSt": how a store is known as ours before any table is read.
inline constexpr int64_t kApplicationId = 0x456E5374;
// Raised with every change to the tables (a step of SchemaSteps); initialising brings older
// stores up to it.
inline constexpr int64_t kSchemaVersion = 5;
// How long a store that lost its connection while committing tries to reach the database
// again to find out whether the commit was made, before it answers that it cannot tell.
inline constexpr int kResolveSeconds = 5;

inline constexpr int64_t kDailyKeepSeconds = kDailyKeepDays * kSecondsPerDay;
// Rows one round of the clean-up removes at most: small enough that a request that tidies up
// notices no delay; a prune goes in larger rounds.
inline constexpr int64_t kTidyRows = 128;
inline constexpr int64_t kPruneRows = 2000;

// The sizes the checks of rows hold columns to: an identity's hexadecimal digits, a session
// hash's and a client key's bytes, and the greatest seed (its top bit never shows).
inline constexpr std::size_t kIdentityDigits = 2 * std::tuple_size_v<RomBytes>;
inline constexpr std::size_t kHashBytes = std::tuple_size_v<SessionHash>;
inline constexpr std::size_t kKeyBytes = std::tuple_size_v<ClientKey>;
inline constexpr int64_t kGreatestSeed = 0x7FFFFFFF;

// Refuses a store that is not ours (its header has another application id, or none), an
// unfinished one, one made by a newer release, and, when it must be current, one that an older
// release made and `entravo-site init` has not brought up to date. name is for the message.
void CheckHeader(const std::string& name, int64_t applicationId, int64_t version, bool mustBeCurrent);

// What a store's `check` says of its schema: each object of this release's (expected) that it
// lacks or holds otherwise, and each it holds that this release does not make. An object is one
// line: its kind and name, a colon, then what defines it.
std::vector<std::string> SchemaFaults(const std::vector<std::string>& expected, const std::vector<std::string>& found);

// Values as the stores' statements take them: an identity when there is one, text that is
// NULL when empty (an IPv4 origin's wide network), a session hash's bytes.
inline std::optional<std::string> IdentityText(const std::optional<RomBytes>& identity)
{
    return identity ? std::optional(FormatIdentity(*identity)) : std::nullopt;
}

inline std::optional<std::string> Present(const std::string& text)
{
    return text.empty() ? std::nullopt : std::optional(text);
}

inline std::span<const uint8_t> Bytes(const SessionHash& hash)
{
    return {hash.data(), hash.size()};
}

// The offer's mark as a used string keeps it: its first eight bytes, as a whole number. The
// bits are random, so two requests offering the same string share them with odds of 2^-64.
inline int64_t MarkOf(const SessionHash& mark)
{
    uint64_t bits = 0;
    for (std::size_t i = 0; i < sizeof bits; ++i)
        bits = bits << 8 | mark[i];
    return static_cast<int64_t>(bits);
}

// The week of a sign-in's row: its start, in seconds since 1970.
inline int64_t SignInWeek(int64_t at)
{
    return at - at % kSignInWeekSeconds;
}
// A sign-in's time as its row of the week keeps it (sign_ins.times): the seconds since the week
// began in four letters of a 64-letter alphabet in ASCII order, most significant first.
inline constexpr std::size_t kSignInTimeLength = 4;
std::string SignInTimeText(int64_t at);
// The times in a row's text, in the order they were added; letters that are not its own are
// skipped as a whole time.
std::vector<int64_t> SignInTimes(int64_t week, std::string_view text);

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

// The order of a check made statement by statement (the SQLite store's CheckString), within the
// store's own transaction: the origin's budgets first (gauge, which counts a refusal and returns
// the Gate), and only while they hold the search. A string that is not genuine is recorded by
// fail(outcome, identity); a genuine one is admitted by admit(verification), which records its
// attempt and returns the Admission. The PostgreSQL store's function decides alike.
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
