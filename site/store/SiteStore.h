#pragma once
// What the login page needs from the site's records, kept narrow so that one store can serve
// several web servers (see ARCHITECTURE.md). Every call is one step of its own: a string is
// accepted at most once, and a failure budget is never overspent, even when several processes
// call at the same moment.
#include "logon/Authenticator.h"
#include "site/store/ProviderRecords.h"
#include "site/verifier/AuthenticatorVerifier.h"

#include <array>
#include <cstdint>
#include <functional>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// The store could not be read or written; the message names the store and says why.
class StoreError : public std::runtime_error {
public:
    // Temporary troubles (busy, a full disk, a lost connection) pass by themselves: the page
    // asks the visitor to come back; nothing was changed. Broken needs the operator.
    // Unresolved: a change was sent and the store was lost before it said whether it made it,
    // and it stayed away too long to be asked.
    enum class Kind { Broken, Busy, Full, Unreachable, Unresolved };

    explicit StoreError(const std::string& message, Kind kind = Kind::Broken)
        : std::runtime_error(message), m_kind(kind)
    {
    }
    Kind kind() const { return m_kind; }
    // As the counts label it: broken, busy, full, unreachable, unresolved.
    std::string_view KindName() const;
    bool temporary() const { return m_kind == Kind::Busy || m_kind == Kind::Full || m_kind == Kind::Unreachable; }

private:
    Kind m_kind;
};

// How one sign-in attempt ended.
enum class Outcome { Accepted, Malformed, NotGenuine, NotEnrolled, Revoked, AlreadyUsed, TooManyFailures };

// As the operator reads it: one lower-case word.
std::string_view OutcomeName(Outcome outcome);

// A time of the records (seconds since 1970) as the operator and the API write it: UTC, by
// default ISO 8601 ("2027-01-15T08:00:00Z").
std::string UtcText(int64_t at, const char* format = "%Y-%m-%dT%H:%M:%SZ");

// Where a request came from, as the failure budgets count it: the address, its network (IPv4
// /24, IPv6 /64) and, for IPv6, the wider network (/48). All canonical text.
struct Origin {
    std::string address;
    std::string network;
    std::string wideNetwork; // empty for IPv4
};

// Failures each origin may have within the window before it is refused unchecked.
struct Budgets {
    int64_t windowSeconds = 60;
    int address = 20;
    int network = 50;      // IPv4 /24, IPv6 /64
    int wideNetwork = 100; // IPv6 /48
};

// What the origin's budgets said of an offered string: when one is spent, the string is refused
// unchecked and no attempt is recorded.
struct Gate {
    std::string exhausted;       // when refused: the address or network whose budget is spent
    bool network = false;        // exhausted is a network, not the address itself
    bool newlyExhausted = false; // its first refusal in this window: log it once
};

// The network of every text that is not an address (Origin): one for all such text.
inline constexpr std::string_view kNotAnAddressNetwork = "not-an-address";

// A session is known only by the SHA-256 of its token, so the store never holds a token.
using SessionHash = std::array<uint8_t, 32>;

// An application that asks the site to verify strings signs its requests with this key.
using ClientKey = std::array<uint8_t, 32>;

struct ApiClient {
    int64_t id = 0;
    std::string name;
    int64_t addedAt = 0;
};

struct SessionHolder {
    std::string account;
    RomBytes identity{};
    int64_t openedAt = 0; // when the token signed in
};

// Where an accepted sign-in came through: the login page, the verification API, or an
// application signed in through OpenID Connect.
enum class SignInPath { Page, Api, Oidc };

// As the records and the operator write it: page, api, oidc.
std::string_view SignInPathWord(SignInPath path);
// Where a sign-in through the OpenID Connect provider came from, as its record and log line
// name it: the application that redeemed the code (as client:N names an API client).
inline std::string ProviderSignInOrigin(std::string_view clientId)
{
    return "oidc:" + std::string(clientId);
}

// Who offers a string. The mark is fresh random bits of the request's own (the hash of the
// session it would open): kept with the string it uses up, so that a request that lost the
// store's answer can tell its own acceptance from another's. A logon opens its session under
// the mark; an application checks the string for itself and opens none. An acceptance is
// recorded as a sign-in through path.
struct Offer {
    SessionHash mark{};
    bool opensSession = false;
    SignInPath path = SignInPath::Page;
};

// What became of one offered string.
struct StringCheck {
    Outcome outcome = Outcome::Malformed;
    std::optional<RomBytes> identity; // whenever the string decodes
    std::string account;              // when accepted
    Gate gate;                        // TooManyFailures: which budget is spent
    // The verdict stands (it is what the store holds), but the store met a fault once it was
    // decided: why, for the log; and whether the store must be opened afresh before the next.
    std::string fault;
    bool storeFailed = false;
};

// The search that tells whether the offered string is genuine. It needs only the string: the
// SQLite store runs it once the origin's budgets are gauged, so a spent budget costs no search;
// the PostgreSQL store runs it first, so that its check is one round trip, and a spent budget
// refuses the string whatever it found.
using Search = std::function<Verification()>;

// Counts by what they count and a label, as the metrics show them: ("checked", "accepted").
using Counts = std::map<std::pair<std::string, std::string>, int64_t>;

// What the counts count (StoreFigures): the store's own, and those the login page's processes
// add in batches: the API's answers by status, session checks by answer, store errors by kind.
inline constexpr std::string_view kCheckedCount = "checked";
inline constexpr std::string_view kRefusedCount = "refused";
inline constexpr std::string_view kTokensCount = "tokens";
inline constexpr std::string_view kSessionsCount = "sessions";
inline constexpr std::string_view kUsedStringsCount = "used_strings";
inline constexpr std::string_view kApiCallCount = "api";
inline constexpr std::string_view kSessionCheckCount = "session_check";
inline constexpr std::string_view kStoreErrorCount = "store_error";

// What the store holds of the site's activity for its metrics, all read at one moment: strings
// checked ever, by outcome ("checked"); attempts refused unchecked ever, by the kind of budget
// spent ("refused": "address" or "network"); tokens by state ("tokens": "active", "revoked"); live
// sessions ("sessions") and used strings ("used_strings"), each labelled ""; and every count
// added by AddCounts, under its own name. Counts that only grow never fall: records that the
// clean-up or a probe removes leave their counts behind. bytes: the store's size.
struct StoreFigures {
    Counts counts;
    int64_t bytes = 0;
};

// One hour's or one day's attempts; the store may leave out slots without any.
struct Activity {
    int64_t at = 0; // any time within the slot, seconds since 1970
    int64_t signIns = 0;
    int64_t failures = 0; // strings checked and refused
    int64_t refusals = 0; // attempts refused unchecked because the origin's budget was spent
};

struct TokenEntry {
    std::string identity;
    std::string account;
    bool revoked = false;
    std::optional<int64_t> lastSignIn; // the latest kept in the sign-in record
};

// An address or network whose failure budget was spent, refusing attempts unchecked.
struct BudgetEntry {
    std::string origin;
    std::string kind; // "address" or "network"
    int64_t refusals = 0;
    int64_t lastDay = 0; // 00:00 UTC of the latest day with refusals
};

// One accepted sign-in. A token that signs in very often from one address through one path in
// one week keeps the times of its latest kMostSignInTimes there; earlier, on the oldest entry
// kept of them, says how many of that week came before it without their times.
struct SignInEntry {
    int64_t at = 0;
    std::string account;
    std::string identity;
    std::string address;
    SignInPath path = SignInPath::Page;
    int64_t earlier = 0;
};

// What the admin page shows: attempts per hour and per day since the times given, tokens with
// their latest sign-ins, the budgets spent lately and the latest sign-ins, newest first.
struct SiteOverview {
    std::vector<Activity> hourly;
    std::vector<Activity> daily;
    std::vector<TokenEntry> tokens;
    std::vector<BudgetEntry> budgets;
    std::vector<SignInEntry> signIns;
};

// What the admin page asks for besides the tokens.
struct OverviewRequest {
    int64_t hourlySince = 0;
    int64_t dailySince = 0;
    int64_t budgetsSince = 0;
    int64_t budgets = 0; // at most this many
    int64_t signIns = 0; // the latest this many
};

enum class RevokeResult { Revoked, NotEnrolled, AlreadyRevoked };

class SiteStore {
public:
    virtual ~SiteStore() = default;

    // One offered string, start to end, in one step however many processes check at once: the
    // origin's address and networks gauged against their budgets within the window ending at
    // now (a spent budget refuses it whatever the search says: counted per day, not kept one by
    // one), and a string the search found genuine admitted once (opening the offer's session
    // when it asks for one) or recorded as what it was. The verdict is what the store holds: when the store's answer is
    // lost after a change was sent, the store finds out what became of it before it answers.
    // StoreError means that nothing of the offer was kept (Unresolved: that the store could not
    // find out).
    virtual StringCheck CheckString(const Origin& origin, int64_t now, const Budgets& budgets, const Search& search,
                                    const Offer& offer) = 0;
    // Who holds a session opened at or after openedSince, while its token stays enrolled as it
    // was when the session opened (revoking or enrolling again ends every session before).
    virtual std::optional<SessionHolder> FindSession(const SessionHash& session, int64_t openedSince) = 0;
    virtual void EndSession(const SessionHash& session) = 0;
    virtual std::optional<ClientKey> ClientKeyOf(int64_t client) = 0;
    // True the first time within kNonceKeepSeconds that the client sends this nonce.
    virtual bool UseNonce(int64_t client, std::string_view nonce, int64_t now) = 0;
    // A small, bounded share of the clean-up: attempts older than kAttemptKeepSeconds become
    // counts per day and network, expired sessions, brakes and nonces go, and the provider's
    // records kProviderKeepSeconds after they ran out. Called now and then.
    virtual void Tidy(int64_t now) = 0;

    // The store's figures for the metrics (StoreFigures), sessions counted live at now.
    virtual StoreFigures Figures(int64_t now) = 0;
    // Adds to the counts the store keeps, in one unsynced transaction: the counts of what
    // leaves no record of its own, which the web server's processes write in batches.
    virtual void AddCounts(const Counts& counts) = 0;

    // The admin page's: whether the account was granted it, what it shows, and its Revoke
    // buttons. Revoking ends the token's sessions at once, and the provider's codes and access
    // tokens of them.
    virtual bool IsAdmin(std::string_view account) = 0;
    virtual SiteOverview Overview(const OverviewRequest& request) = 0;
    virtual RevokeResult Revoke(const RomBytes& identity, int64_t now) = 0;
    // The OpenID Connect provider's records (ProviderRecords.h).
    virtual std::optional<ProviderClient> FindProviderClient(std::string_view id) = 0;
    // The subject key and every signing key not yet forgotten.
    virtual ProviderKeys ReadProviderKeys() = 0;
    // The subject key and the first signing key, each kept only when the store has none yet: of
    // two processes that start the provider at once, the first one's are kept.
    virtual void StartProvider(const ProviderHash& subjectKey, const ProviderKey& firstKey) = 0;
    virtual void AwaitSignIn(const ProviderHash& pending, std::string_view request, int64_t now, int64_t expiresAt) = 0;
    // A waiting request that has not run out.
    virtual std::optional<PendingAuthorization> FindPendingAuthorization(const ProviderHash& pending, int64_t now) = 0;
    // The code kept; with a pending request, only by the first call that takes that request on
    // (false for every later one, which keeps nothing), however many tabs and servers try.
    virtual bool IssueCode(const ProviderCode& code, const std::optional<ProviderHash>& pending, int64_t now) = 0;
    // A code's use in one step: the first use is judged by the caller and used up whatever the
    // judgement, the access token it issues kept with it; a later use revokes that token. A code
    // whose token was revoked, or that ran out and was forgotten, is unknown.
    virtual CodeRedemption RedeemCode(const ProviderHash& code, int64_t now, const CodeJudgement& judge) = 0;
    // Who an access token that has not run out speaks for, while its token stays enrolled.
    virtual std::optional<SessionHolder> FindAccessToken(const ProviderHash& token, int64_t now) = 0;
};

// How long attempts are kept one by one (the operator's summary reaches this far back).
inline constexpr int64_t kAttemptKeepSeconds = 60 * 60;
// Older attempts are counted per day (UTC) and network, and the counts kept for a year and a
// bit, for comparisons with the same time last year.
inline constexpr int64_t kSecondsPerDay = 24 * 60 * 60;
inline constexpr int64_t kDailyKeepDays = 400;
// Attempts per hour are kept for the admin page's last 48 hours, and the sign-ins as long as
// the daily counts: kept by the week, each week until its last day is that old.
inline constexpr int64_t kSecondsPerHour = 60 * 60;
inline constexpr int64_t kHourlyKeepSeconds = 49 * kSecondsPerHour;
inline constexpr int64_t kSignInKeepDays = kDailyKeepDays;
inline constexpr int64_t kSignInWeekSeconds = 7 * kSecondsPerDay;
// The times kept of one token's sign-ins from one address through one path in one week: some
// thirty a day, a row that stays within one page of the store.
inline constexpr int64_t kMostSignInTimes = 200;
// How long a session lasts; after that the store forgets it.
inline constexpr int64_t kSessionLifetimeSeconds = 12 * 60 * 60;
// How far a signed request's time may be from the site's clock for it to be answered.
inline constexpr int64_t kRequestSkewSeconds = 5 * 60;
// How long an application's request nonce is remembered: as long as a request with it can be
// answered (within the skew either side of the time it was first seen), so a captured request
// never works again.
inline constexpr int64_t kNonceKeepSeconds = 2 * kRequestSkewSeconds;

// How long the process that opens a store keeps it: for one request (login.cgi, the
// operator's command) or for request after request (login.fcgi).
enum class StoreUse { OneRequest, LongLived };

// What the operator's command needs besides: enrolment, the records, and the upkeep.
enum class InitResult { Created, AlreadyThere, Migrated };
enum class EnrollResult { Enrolled, AlreadyEnrolled };

// An account that may see the admin page.
struct AdminEntry {
    std::string account;
    int64_t grantedAt = 0;
};

struct AttemptEntry {
    int64_t at = 0;
    std::string address;
    std::optional<std::string> identity;
    std::string outcome;
};

// Failures of one network within the last minutes.
struct NetworkFailures {
    std::string network;
    int64_t failures = 0;
    int64_t addresses = 0;
    int64_t last = 0;
};

// One day's attempts of one network with one outcome (refusals of a spent budget included).
struct DailyCount {
    int64_t day = 0; // seconds since 1970 at 00:00 UTC
    std::string network;
    std::string outcome;
    int64_t count = 0;
};

struct PruneReport {
    int64_t attemptsFolded = 0;
    int64_t sessionsEnded = 0;
    int64_t bytesFreed = 0;
};

class OperatorStore : public SiteStore {
public:
    // A revoked token can be enrolled again, for any account; its old sessions stay ended.
    virtual EnrollResult Enroll(const RomBytes& identity, std::string_view account, int64_t now) = 0;
    // Without their latest sign-ins.
    virtual std::vector<TokenEntry> Tokens() = 0;
    // Accepted sign-ins at or after since, of account when one is given, newest first, at most
    // most of them.
    virtual std::vector<SignInEntry> SignIns(int64_t since, const std::optional<std::string>& account,
                                             int64_t most) = 0;
    // False when the account already had it, or did not have it.
    virtual bool GrantAdmin(std::string_view account, int64_t now) = 0;
    virtual bool RevokeAdmin(std::string_view account) = 0;
    virtual std::vector<AdminEntry> Admins() = 0;
    // Newest first.
    virtual std::vector<AttemptEntry> RecentAttempts(int count) = 0;
    // Most failures first.
    virtual std::vector<NetworkFailures> FailuresByNetwork(int64_t since) = 0;
    // Newest day first, the attempts not yet folded into them included.
    virtual std::vector<DailyCount> DailyCounts(int64_t since) = 0;
    // All of Tidy's work at once, and the space it frees given back; works on a full disk.
    virtual PruneReport Prune(int64_t now) = 0;
    // One line per fault found; none when the store is sound.
    virtual std::vector<std::string> Check() = 0;
    // What the operator may have chosen but should know, one line each: a database whose
    // acceptances can be lost on failover (site/store/Replication.h).
    virtual std::vector<std::string> Warnings() = 0;
    // The new client's id; one client however the store's answer is lost.
    virtual int64_t AddClient(std::string_view name, const ClientKey& key, int64_t now) = 0;
    virtual std::vector<ApiClient> Clients() = 0;
    // False when there was no such client.
    virtual bool RemoveClient(int64_t client) = 0;
    // The provider's applications; an id is drawn at random, so a new one never meets an old.
    virtual void AddProviderClient(const ProviderClient& client) = 0;
    // The oldest first.
    virtual std::vector<ProviderClient> ProviderClients() = 0;
    // With its codes and access tokens; false when there was no such client.
    virtual bool RemoveProviderClient(std::string_view id) = 0;
    // The signing key retired (published while the ID tokens it signed live) and next made the
    // key that signs.
    virtual void RotateProviderKey(const ProviderKey& next, int64_t now) = 0;
    // Removes the token and every record of it: its used strings, sessions, attempts, sign-ins,
    // codes and access tokens (what the attempts count stays, without it). Only for the probe's
    // throwaway tokens: a real token's used strings must stay, or its strings would work again.
    virtual void Forget(const RomBytes& identity) = 0;
};
