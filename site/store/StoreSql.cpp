#include "site/store/StoreSql.h"

#include "site/store/StoreRules.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <utility>

namespace {

bool IsWordCharacter(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_';
}

// SQLite's words that PostgreSQL writes otherwise, each before any word it begins with.
constexpr std::pair<std::string_view, std::string_view> kPostgresWords[] = {
    {"INTEGER PRIMARY KEY", "BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY"},
    {"INTEGER", "BIGINT"},
    {"BLOB", "BYTEA"},
    {" WITHOUT ROWID", ""},
};

// Whether text begins with word as a whole: neither it nor the text goes on with a letter.
bool BeginsWithWord(std::string_view text, std::string_view word, bool afterWordCharacter)
{
    if (!text.starts_with(word) || (afterWordCharacter && IsWordCharacter(word.front())))
        return false;
    return text.size() == word.size() || !IsWordCharacter(word.back()) || !IsWordCharacter(text[word.size()]);
}

// Every outcome this release records.
constexpr Outcome kOutcomes[] = {Outcome::Accepted, Outcome::Malformed,   Outcome::NotGenuine,     Outcome::NotEnrolled,
                                 Outcome::Revoked,  Outcome::AlreadyUsed, Outcome::TooManyFailures};

// The outcomes the records may hold, as an SQL list: this release's, and 'pending', which
// earlier releases wrote for an attempt counted before its search and settled after it.
std::string RecordedOutcomes()
{
    std::string list;
    for (const Outcome outcome : kOutcomes)
        list += OutcomeLiteral(outcome) + ", ";
    return list + "'pending'";
}

// A failed attempt: the indexes of failures and the counts over them say it alike, or the
// indexes would not serve the counts.
std::string Failed()
{
    return "outcome <> " + OutcomeLiteral(Outcome::Accepted);
}

std::vector<std::string> MadeSchema()
{
    const std::string failed = " WHERE " + Failed();
    return {
        R"(
CREATE TABLE tokens(
    identity TEXT PRIMARY KEY,
    account TEXT NOT NULL,
    enrolled_at INTEGER NOT NULL,
    revoked_at INTEGER
) WITHOUT ROWID;
CREATE TABLE used_strings(
    identity TEXT NOT NULL,
    seed INTEGER NOT NULL,
    accepted_at INTEGER NOT NULL,
    PRIMARY KEY(identity, seed)
) WITHOUT ROWID;
CREATE TABLE sessions(
    token_hash BLOB PRIMARY KEY,
    identity TEXT NOT NULL,
    opened_at INTEGER NOT NULL
) WITHOUT ROWID;
)",
        // Attempts are kept one by one only while the budgets and the operator's summary need
        // them; then they become counts per day and network.
        R"(
CREATE INDEX sessions_by_identity ON sessions(identity);
CREATE INDEX sessions_by_age ON sessions(opened_at);
CREATE TABLE attempts(
    id INTEGER PRIMARY KEY,
    at INTEGER NOT NULL,
    address TEXT NOT NULL,
    network TEXT NOT NULL,
    wide_network TEXT,
    identity TEXT,
    outcome TEXT NOT NULL
);
CREATE INDEX failures_by_address ON attempts(address, at))" +
            failed + R"(;
CREATE INDEX failures_by_network ON attempts(network, at))" +
            failed + R"(;
CREATE INDEX failures_by_wide_network ON attempts(wide_network, at))" +
            failed + R"(;
CREATE TABLE daily_counts(
    day INTEGER NOT NULL,
    network TEXT NOT NULL,
    outcome TEXT NOT NULL,
    count INTEGER NOT NULL,
    PRIMARY KEY(day, network, outcome)
) WITHOUT ROWID;
CREATE TABLE brakes(
    network TEXT PRIMARY KEY,
    until INTEGER NOT NULL
) WITHOUT ROWID;
CREATE TABLE clients(
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    key BLOB NOT NULL,
    added_at INTEGER NOT NULL
);
CREATE TABLE nonces(
    client INTEGER NOT NULL,
    nonce TEXT NOT NULL,
    at INTEGER NOT NULL,
    PRIMARY KEY(client, nonce)
) WITHOUT ROWID;
CREATE INDEX nonces_by_age ON nonces(at);
)",
        // The mark of the request that used a string up (Offer), to find out after a lost
        // connection whose acceptance a commit was. Made by the same statement for a new store
        // and an older one, so that both end with the same columns and the same text.
        "ALTER TABLE used_strings ADD COLUMN used_by INTEGER",
        // What the operator sees: the accepted sign-ins, one row per token, account, address and
        // path a week with the week's times in it (SignInTimeText), so a year of them stays
        // small; attempts per hour for the last two days; the counts of what leaves no row of
        // its own and of the rows the clean-up removes; the accounts that see the admin page.
        R"(
CREATE TABLE sign_ins(
    week INTEGER NOT NULL,
    identity TEXT NOT NULL,
    account TEXT NOT NULL,
    address TEXT NOT NULL,
    path TEXT NOT NULL,
    times TEXT NOT NULL,
    count INTEGER NOT NULL,
    PRIMARY KEY(week, identity, account, address, path)
) WITHOUT ROWID;
CREATE TABLE hourly_counts(
    hour INTEGER NOT NULL,
    outcome TEXT NOT NULL,
    count INTEGER NOT NULL,
    PRIMARY KEY(hour, outcome)
) WITHOUT ROWID;
CREATE TABLE counters(
    name TEXT NOT NULL,
    label TEXT NOT NULL,
    count INTEGER NOT NULL,
    PRIMARY KEY(name, label)
) WITHOUT ROWID;
CREATE TABLE admins(
    account TEXT PRIMARY KEY,
    granted_at INTEGER NOT NULL
) WITHOUT ROWID;
)",
        // The OpenID Connect provider: its applications (redirect URIs separated by spaces,
        // which none may hold), its secrets (the subject key), its signing keys (the one that
        // signs now has signing = 1, which only one can have), the sign-ins it waits for, and the
        // codes and access tokens it issued, each kept only as a hash.
        R"(
CREATE TABLE oidc_clients(
    id TEXT PRIMARY KEY,
    name TEXT NOT NULL,
    redirect_uris TEXT NOT NULL,
    secret_hash BLOB,
    added_at INTEGER NOT NULL
) WITHOUT ROWID;
CREATE TABLE oidc_secrets(
    name TEXT PRIMARY KEY,
    value BLOB NOT NULL
) WITHOUT ROWID;
CREATE TABLE oidc_keys(
    kid TEXT PRIMARY KEY,
    jwk TEXT NOT NULL,
    made_at INTEGER NOT NULL,
    retired_at INTEGER,
    signing INTEGER UNIQUE
) WITHOUT ROWID;
CREATE TABLE oidc_pending(
    pending_hash BLOB PRIMARY KEY,
    request TEXT NOT NULL,
    requested_at INTEGER NOT NULL,
    expires_at INTEGER NOT NULL,
    continued_at INTEGER
) WITHOUT ROWID;
CREATE INDEX oidc_pending_by_age ON oidc_pending(expires_at);
CREATE TABLE oidc_codes(
    code_hash BLOB PRIMARY KEY,
    client TEXT NOT NULL,
    redirect_uri TEXT NOT NULL,
    challenge TEXT NOT NULL,
    nonce TEXT NOT NULL,
    scope TEXT NOT NULL,
    identity TEXT NOT NULL,
    auth_time INTEGER NOT NULL,
    expires_at INTEGER NOT NULL,
    used_at INTEGER
) WITHOUT ROWID;
CREATE INDEX oidc_codes_by_identity ON oidc_codes(identity);
CREATE INDEX oidc_codes_by_age ON oidc_codes(expires_at);
CREATE TABLE oidc_access_tokens(
    token_hash BLOB PRIMARY KEY,
    code_hash BLOB NOT NULL,
    client TEXT NOT NULL,
    identity TEXT NOT NULL,
    expires_at INTEGER NOT NULL
) WITHOUT ROWID;
CREATE INDEX oidc_access_tokens_by_code ON oidc_access_tokens(code_hash);
CREATE INDEX oidc_access_tokens_by_identity ON oidc_access_tokens(identity);
CREATE INDEX oidc_access_tokens_by_age ON oidc_access_tokens(expires_at);
)",
    };
}

// Each budget is counted only as far as it reaches, over an index of the failures alone.
std::string CountFailures()
{
    const auto counted = [failed = Failed()](std::string_view column, char key, char limit, char alias) {
        return std::string("(SELECT count(*) FROM (SELECT 1 FROM attempts WHERE ") + std::string(column) + " = ?" +
               key + " AND at >= ?4 AND " + failed + " LIMIT ?" + limit + ") AS " + alias + ")";
    };
    return "SELECT " + counted("address", '1', '5', 'a') + ", " + counted("network", '2', '6', 'n') + ", " +
           counted("wide_network", '3', '7', 'w');
}

// The kind of budget a refusal's daily count is for: networks are written with their prefix
// length (198.51.100.0/24), addresses without.
std::string BudgetKind()
{
    return "CASE WHEN network LIKE '%/%' OR network = '" + std::string(kNotAnAddressNetwork) +
           "' THEN 'network' ELSE 'address' END";
}

// Counts added to the ones kept under the same name and label.
const std::string kAddToCounters = " ON CONFLICT(name, label) DO UPDATE SET count = counters.count + excluded.count";

// A count's name (SiteStore.h) quoted for SQL.
std::string Named(std::string_view name)
{
    return "'" + std::string(name) + "'";
}

// What the attempts of a token (?1) count, kept before they go.
StoreStatement KeepCountsOfToken()
{
    return {"INSERT INTO counters(name, label, count) SELECT " + Named(kCheckedCount) +
                ", outcome, count(*) FROM attempts WHERE identity = ?1 GROUP BY outcome" + kAddToCounters,
            Resend::Never};
}

// What the daily counts before ?1 count, kept before they go: every attempt by its outcome, and
// the refusals by the kind of budget spent.
std::vector<StoreStatement> KeepCountsOfDays()
{
    return {{"INSERT INTO counters(name, label, count) SELECT " + Named(kCheckedCount) +
                 ", outcome, sum(count) FROM daily_counts WHERE day < ?1 GROUP BY outcome" + kAddToCounters,
             Resend::Never},
            {"INSERT INTO counters(name, label, count) SELECT " + Named(kRefusedCount) + ", " + BudgetKind() +
                 ", sum(count) FROM daily_counts WHERE day < ?1 AND outcome = " +
                 OutcomeLiteral(Outcome::TooManyFailures) + " GROUP BY 2" + kAddToCounters,
             Resend::Never}};
}

// Everything the metrics read, in one statement so that it is one moment's: the clean-up moves
// attempts into the daily counts and those into the counters, and a count read across them
// must not catch it half way.
std::string Figures()
{
    return "SELECT " + Named(kCheckedCount) +
           ", outcome, sum(n) FROM (SELECT outcome, count(*) AS n FROM attempts GROUP BY outcome"
           " UNION ALL SELECT outcome, sum(count) FROM daily_counts GROUP BY outcome) AS checked GROUP BY outcome"
           " UNION ALL SELECT " +
           Named(kRefusedCount) + ", " + BudgetKind() +
           ", sum(count) FROM daily_counts WHERE outcome = " + OutcomeLiteral(Outcome::TooManyFailures) +
           " GROUP BY 2"
           " UNION ALL SELECT name, label, count FROM counters"
           " UNION ALL SELECT " +
           Named(kTokensCount) +
           ", CASE WHEN revoked_at IS NULL THEN 'active' ELSE 'revoked' END, count(*) FROM tokens GROUP BY 2"
           " UNION ALL SELECT " +
           Named(kSessionsCount) +
           ", '', count(*) FROM sessions JOIN tokens USING(identity) WHERE opened_at >= ?1 AND revoked_at IS NULL"
           " UNION ALL SELECT " +
           Named(kUsedStringsCount) + ", '', count(*) FROM used_strings";
}

// Attempts per slot of ?2 seconds from ?1 on, by outcome: the counts kept per slot (hourly or
// daily counts), and the attempts not yet counted there.
std::string Activity(std::string_view counted, std::string_view slot)
{
    return "SELECT " + std::string(slot) + ", outcome, sum(count) FROM " + std::string(counted) + " WHERE " +
           std::string(slot) +
           " >= ?1 GROUP BY 1, 2"
           " UNION ALL SELECT at - at % ?2, outcome, count(*) FROM attempts WHERE at >= ?1 GROUP BY 1, 2";
}

// A row whose hash (or key) in column is not the 32 bytes of a SHA-256, when it has one.
StoreStatement DamagedHashes(const std::string& line, const std::string& table, const std::string& column)
{
    const std::string bytes = std::to_string(kHashBytes);
    return {"SELECT " + line + " FROM " + table + " WHERE " + column + " IS NOT NULL AND (typeof(" + column +
                ") <> 'blob' OR length(" + column + ") <> " + bytes + ")",
            "SELECT " + line + " FROM " + table + " WHERE octet_length(" + column + ") <> " + bytes, Resend::Allowed};
}

// The checks of rows, each dialect's own where a column of a SQLite table may hold a value of
// any type.
std::vector<StoreStatement> RowChecks()
{
    const std::string digits = std::to_string(kIdentityDigits);
    const std::string seed = std::to_string(kGreatestSeed);
    const std::string hashBytes = std::to_string(kHashBytes);
    const std::string keyBytes = std::to_string(kKeyBytes);
    return {
        {"SELECT 'used string of ' || identity || ' (seed ' || seed || ') has no token row' FROM used_strings"
         " WHERE identity NOT IN (SELECT identity FROM tokens)",
         Resend::Allowed},
        {"SELECT 'session of ' || identity || ' has no token row' FROM sessions"
         " WHERE identity NOT IN (SELECT identity FROM tokens)",
         Resend::Allowed},
        {"SELECT 'token ' || quote(identity) || ' is not " + digits +
             " upper-case hexadecimal digits' FROM tokens WHERE length(identity) <> " + digits +
             " OR identity GLOB '*[^0-9A-F]*'",
         "SELECT 'token ' || quote_literal(identity) || ' is not " + digits +
             " upper-case hexadecimal digits' FROM tokens WHERE identity !~ '^[0-9A-F]{" + digits + "}$'",
         Resend::Allowed},
        {"SELECT 'token ' || identity || ' has no account' FROM tokens WHERE typeof(account) <> 'text' OR account "
         "= ''",
         "SELECT 'token ' || identity || ' has no account' FROM tokens WHERE account = ''", Resend::Allowed},
        {"SELECT 'used string of ' || quote(identity) || ' has a seed out of range: ' || quote(seed) FROM "
         "used_strings"
         " WHERE typeof(seed) <> 'integer' OR seed < 0 OR seed > " +
             seed,
         "SELECT 'used string of ' || quote_literal(identity) || ' has a seed out of range: ' || seed FROM "
         "used_strings"
         " WHERE seed < 0 OR seed > " +
             seed,
         Resend::Allowed},
        // A string is accepted at a time of the clock's: one before 1970 is damage, and damage
        // there may have changed its seed too.
        {"SELECT 'used string of ' || quote(identity) || ' (seed ' || quote(seed) || ') has an impossible time: ' ||"
         " quote(accepted_at) FROM used_strings WHERE typeof(accepted_at) <> 'integer' OR accepted_at < 0",
         "SELECT 'used string of ' || quote_literal(identity) || ' (seed ' || seed || ') has an impossible time: ' ||"
         " accepted_at FROM used_strings WHERE accepted_at < 0",
         Resend::Allowed},
        {"SELECT 'session of ' || identity || ' has a damaged token hash' FROM sessions WHERE typeof(token_hash) <>"
         " 'blob' OR length(token_hash) <> " +
             hashBytes,
         "SELECT 'session of ' || identity || ' has a damaged token hash' FROM sessions WHERE "
         "octet_length(token_hash)"
         " <> " +
             hashBytes,
         Resend::Allowed},
        {"SELECT 'client ' || id || ' has a damaged key' FROM clients WHERE typeof(key) <> 'blob' OR length(key) "
         "<> " +
             keyBytes,
         "SELECT 'client ' || id || ' has a damaged key' FROM clients WHERE octet_length(key) <> " + keyBytes,
         Resend::Allowed},
        {"SELECT 'attempt ' || id || ' has an unknown outcome ''' || outcome || '''' FROM attempts"
         " WHERE outcome NOT IN (" +
             RecordedOutcomes() + ")",
         Resend::Allowed},
        DamagedHashes("'OpenID Connect client ' || id || ' has a damaged secret hash'", "oidc_clients", "secret_hash"),
        DamagedHashes("'the OpenID Connect subject key is damaged'", "oidc_secrets", "value"),
        DamagedHashes("'a code of ' || identity || ' has a damaged hash'", "oidc_codes", "code_hash"),
        DamagedHashes("'an access token of ' || identity || ' has a damaged hash'", "oidc_access_tokens", "token_hash"),
        DamagedHashes("'a pending sign-in has a damaged hash'", "oidc_pending", "pending_hash"),
    };
}

// The tables the steps make, in their order: the name after each CREATE TABLE [IF NOT EXISTS].
std::vector<TableCopy> MadeTableCopies()
{
    constexpr std::string_view kCreate = "CREATE TABLE ";
    std::vector<TableCopy> copies;
    for (const std::string& step : SchemaSteps()) {
        for (std::size_t at = step.find(kCreate); at != std::string::npos; at = step.find(kCreate, at)) {
            at += kCreate.size();
            if (constexpr std::string_view kIfNew = "IF NOT EXISTS "; step.compare(at, kIfNew.size(), kIfNew) == 0)
                at += kIfNew.size();
            const std::size_t end =
                std::find_if_not(step.begin() + static_cast<std::ptrdiff_t>(at), step.end(), IsWordCharacter) -
                step.begin();
            const std::string table = step.substr(at, end - at);
            copies.push_back({table,
                              {"SELECT * FROM " + table, Resend::Allowed},
                              {"SELECT 1 FROM " + table + " LIMIT 1", Resend::Allowed}});
        }
    }
    return copies;
}

StoreStatements MadeStatements()
{
    return {
        .findToken = {"SELECT account, revoked_at FROM tokens WHERE identity = ?1",
                      "SELECT account, revoked_at FROM tokens WHERE identity = $1 FOR UPDATE", Resend::Allowed},
        .enroll = {"INSERT INTO tokens(identity, account, enrolled_at) VALUES(?1, ?2, ?3) ON CONFLICT(identity)"
                   " DO UPDATE SET account = ?2, enrolled_at = ?3, revoked_at = NULL",
                   Resend::Allowed},
        .revoke = {"UPDATE tokens SET revoked_at = ?2 WHERE identity = ?1", Resend::Allowed},
        .endTokenSessions = {"DELETE FROM sessions WHERE identity = ?1", Resend::Allowed},
        .listTokens = {"SELECT identity, account, revoked_at FROM tokens ORDER BY identity", Resend::Allowed},
        .isUsed = {"SELECT 1 FROM used_strings WHERE identity = ?1 AND seed = ?2", Resend::Allowed},
        .recentAttempts = {"SELECT at, address, identity, outcome FROM attempts ORDER BY id DESC LIMIT ?1",
                           Resend::Allowed},
        .failuresByNetwork = {"SELECT network, count(*), count(DISTINCT address), max(at) FROM attempts WHERE at >= ?1"
                              " AND " +
                                  Failed() + " GROUP BY network ORDER BY 2 DESC, 1",
                              Resend::Allowed},
        // The attempts not yet folded into the day's counts are counted too, or the last hour's
        // failures would be missing.
        .dailyCounts = {"SELECT day, network, outcome, sum(count) FROM (SELECT day, network, outcome, count"
                        " FROM daily_counts WHERE day >= ?1 UNION ALL SELECT at - at % " +
                            std::to_string(kSecondsPerDay) +
                            ", network, outcome, count(*) FROM attempts WHERE at >= ?1 GROUP BY 1, 2, 3) AS counted"
                            " GROUP BY 1, 2, 3 ORDER BY 1 DESC, 4 DESC, 2",
                        Resend::Allowed},
        .countFailures = {CountFailures(), Resend::Allowed},
        .recordAttempt = {"INSERT INTO attempts(at, address, network, wide_network, identity, outcome)"
                          " VALUES(?1, ?2, ?3, ?4, ?5, ?6)",
                          Resend::Never},
        .countToday = {"INSERT INTO daily_counts(day, network, outcome, count) VALUES(?1, ?2, ?3, 1)"
                       " ON CONFLICT(day, network, outcome) DO UPDATE SET count = daily_counts.count + 1",
                       Resend::Never},
        .countHour = {"INSERT INTO hourly_counts(hour, outcome, count) VALUES(?1, ?2, 1)"
                      " ON CONFLICT(hour, outcome) DO UPDATE SET count = hourly_counts.count + 1",
                      Resend::Never},
        .recordSignIn = {"INSERT INTO sign_ins(week, identity, account, address, path, times, count)"
                         " VALUES(?1, ?2, ?3, ?4, ?5, ?6, 1)" +
                             SignInUpsert(),
                         Resend::Never},
        // A row only when the network's brake is new or has run out: the first refusal of a window.
        .brake = {"INSERT INTO brakes(network, until) VALUES(?1, ?2) ON CONFLICT(network)"
                  " DO UPDATE SET until = excluded.until WHERE brakes.until < ?3",
                  Resend::Never},
        .findSession = {"SELECT account, identity, opened_at FROM sessions JOIN tokens USING(identity)"
                        " WHERE token_hash = ?1 AND opened_at >= ?2 AND revoked_at IS NULL",
                        Resend::Allowed},
        .endSession = {"DELETE FROM sessions WHERE token_hash = ?1", Resend::Allowed},
        .clientKey = {"SELECT hex(key) FROM clients WHERE id = ?1",
                      "SELECT encode(key, 'hex') FROM clients WHERE id = $1", Resend::Allowed},
        // A row only when the nonce is new or was last seen long enough ago; of two servers seeing
        // the same nonce at once, the second waits for the first one's commit and then changes
        // nothing.
        .useNonce = {"INSERT INTO nonces(client, nonce, at) VALUES(?1, ?2, ?3) ON CONFLICT(client, nonce)"
                     " DO UPDATE SET at = excluded.at WHERE nonces.at < ?4",
                     Resend::Never},
        .addClient = {"INSERT INTO clients(name, key, added_at) VALUES(?1, ?2, ?3) RETURNING id", Resend::Never},
        .listClients = {"SELECT id, name, added_at FROM clients ORDER BY id", Resend::Allowed},
        // Never sent again: a second run would say that there was no such client.
        .removeClient = {"DELETE FROM clients WHERE id = ?1", Resend::Never},
        .removeClientNonces = {"DELETE FROM nonces WHERE client = ?1", Resend::Allowed},
        .findProviderClient = {"SELECT id, name, redirect_uris, hex(secret_hash), added_at FROM oidc_clients"
                               " WHERE id = ?1",
                               "SELECT id, name, redirect_uris, encode(secret_hash, 'hex'), added_at FROM oidc_clients"
                               " WHERE id = $1",
                               Resend::Allowed},
        .listProviderClients = {"SELECT id, name, redirect_uris, hex(secret_hash), added_at FROM oidc_clients"
                                " ORDER BY added_at, id",
                                "SELECT id, name, redirect_uris, encode(secret_hash, 'hex'), added_at FROM oidc_clients"
                                " ORDER BY added_at, id",
                                Resend::Allowed},
        // The id is random: a row already there is this statement's own, sent again.
        .addProviderClient = {"INSERT INTO oidc_clients(id, name, redirect_uris, secret_hash, added_at)"
                              " VALUES(?1, ?2, ?3, ?4, ?5) ON CONFLICT DO NOTHING",
                              Resend::Allowed},
        .removeProviderClient = {"DELETE FROM oidc_clients WHERE id = ?1", Resend::Never},
        .removeProviderClientCodes = {"DELETE FROM oidc_codes WHERE client = ?1", Resend::Allowed},
        .removeProviderClientTokens = {"DELETE FROM oidc_access_tokens WHERE client = ?1", Resend::Allowed},
        .subjectKey = {"SELECT hex(value) FROM oidc_secrets WHERE name = 'subject'",
                       "SELECT encode(value, 'hex') FROM oidc_secrets WHERE name = 'subject'", Resend::Allowed},
        .addSubjectKey = {"INSERT INTO oidc_secrets(name, value) VALUES('subject', ?1) ON CONFLICT DO NOTHING",
                          Resend::Allowed},
        .providerKeys = {"SELECT kid, jwk, made_at, retired_at FROM oidc_keys"
                         " ORDER BY retired_at IS NULL DESC, retired_at DESC, kid",
                         Resend::Allowed},
        // Nothing when a key signs already (its signing is 1 too).
        .addProviderKey = {"INSERT INTO oidc_keys(kid, jwk, made_at, signing) VALUES(?1, ?2, ?3, 1)"
                           " ON CONFLICT DO NOTHING",
                           Resend::Allowed},
        .retireProviderKey = {"UPDATE oidc_keys SET retired_at = ?1, signing = NULL WHERE signing = 1",
                              Resend::Allowed},
        .awaitSignIn = {"INSERT INTO oidc_pending(pending_hash, request, requested_at, expires_at)"
                        " VALUES(?1, ?2, ?3, ?4) ON CONFLICT DO NOTHING",
                        Resend::Allowed},
        .findPending = {"SELECT request, requested_at, continued_at FROM oidc_pending"
                        " WHERE pending_hash = ?1 AND expires_at > ?2",
                        Resend::Allowed},
        // Never sent again: a second run would find the request taken on, by itself.
        .continuePending = {"UPDATE oidc_pending SET continued_at = ?2"
                            " WHERE pending_hash = ?1 AND continued_at IS NULL AND expires_at > ?2",
                            Resend::Never},
        .addCode = {"INSERT INTO oidc_codes(code_hash, client, redirect_uri, challenge, nonce, scope, identity,"
                    " auth_time, expires_at) VALUES(?1, ?2, ?3, ?4, ?5, ?6, ?7, ?8, ?9) ON CONFLICT DO NOTHING",
                    Resend::Allowed},
        .claimCode = {"UPDATE oidc_codes SET used_at = ?2 WHERE code_hash = ?1 AND used_at IS NULL"
                      " RETURNING client, redirect_uri, challenge, nonce, scope, identity, auth_time, expires_at",
                      Resend::Never},
        .findCode = {"SELECT 1 FROM oidc_codes WHERE code_hash = ?1", Resend::Allowed},
        .revokeCodeTokens = {"DELETE FROM oidc_access_tokens WHERE code_hash = ?1", Resend::Allowed},
        // A revocation waits for the redemption under way, then ends its access token too.
        .activeAccount = {"SELECT account FROM tokens WHERE identity = ?1 AND revoked_at IS NULL",
                          "SELECT account FROM tokens WHERE identity = $1 AND revoked_at IS NULL FOR SHARE",
                          Resend::Allowed},
        .addAccessToken = {"INSERT INTO oidc_access_tokens(token_hash, code_hash, client, identity, expires_at)"
                           " VALUES(?1, ?2, ?3, ?4, ?5)",
                           Resend::Never},
        .findAccessToken = {"SELECT account, identity FROM oidc_access_tokens JOIN tokens USING(identity)"
                            " WHERE token_hash = ?1 AND expires_at > ?2 AND revoked_at IS NULL",
                            Resend::Allowed},
        .endTokenCodes = {"DELETE FROM oidc_codes WHERE identity = ?1", Resend::Allowed},
        .endTokenAccessTokens = {"DELETE FROM oidc_access_tokens WHERE identity = ?1", Resend::Allowed},
        // Deletes by key: each changes nothing when run again. What the attempts count is kept first.
        .forgetToken = {KeepCountsOfToken(),
                        {"DELETE FROM sessions WHERE identity = ?1", Resend::Allowed},
                        {"DELETE FROM used_strings WHERE identity = ?1", Resend::Allowed},
                        {"DELETE FROM attempts WHERE identity = ?1", Resend::Allowed},
                        {"DELETE FROM sign_ins WHERE identity = ?1", Resend::Allowed},
                        {"DELETE FROM oidc_codes WHERE identity = ?1", Resend::Allowed},
                        {"DELETE FROM oidc_access_tokens WHERE identity = ?1", Resend::Allowed},
                        {"DELETE FROM tokens WHERE identity = ?1", Resend::Allowed}},
        // PostgreSQL picks the sessions into an array, so that the plan prepared once (which cannot
        // know the limit) finds them by key rather than by reading the whole table.
        .endOldSessions = {"DELETE FROM sessions WHERE token_hash IN"
                           " (SELECT token_hash FROM sessions WHERE opened_at < ?1 ORDER BY opened_at LIMIT ?2)",
                           "DELETE FROM sessions WHERE token_hash = ANY"
                           " (ARRAY(SELECT token_hash FROM sessions WHERE opened_at < $1 ORDER BY opened_at LIMIT $2))",
                           Resend::Allowed},
        .dropOldBrakes = {"DELETE FROM brakes WHERE until < ?1", Resend::Allowed},
        .dropOldNonces = {"DELETE FROM nonces WHERE at < ?1", Resend::Allowed},
        .keepCountsOfDays = KeepCountsOfDays(),
        .dropOldDays = {"DELETE FROM daily_counts WHERE day < ?1", Resend::Allowed},
        .dropOldHours = {"DELETE FROM hourly_counts WHERE hour < ?1", Resend::Allowed},
        .dropOldSignIns = {"DELETE FROM sign_ins WHERE week < ?1", Resend::Allowed},
        .figures = {Figures(), Resend::Allowed},
        .addCount = {"INSERT INTO counters(name, label, count) VALUES(?1, ?2, ?3)" + kAddToCounters, Resend::Never},
        .hourlyActivity = {Activity("hourly_counts", "hour"), Resend::Allowed},
        .dailyActivity = {Activity("daily_counts", "day"), Resend::Allowed},
        .spentBudgets = {"SELECT network, " + BudgetKind() +
                             ", sum(count), max(day) FROM daily_counts WHERE outcome = " +
                             OutcomeLiteral(Outcome::TooManyFailures) +
                             " AND day >= ?1 GROUP BY network ORDER BY 4 DESC, 3 DESC, 1 LIMIT ?2",
                         Resend::Allowed},
        // The rows of the weeks that hold the latest ?3 + 1 rows, and so at least as many sign-ins.
        .signIns = {"SELECT week, identity, account, address, path, times, count FROM sign_ins WHERE week >= ?1"
                    " AND account = coalesce(?2, account) AND week >= coalesce((SELECT week FROM sign_ins"
                    " WHERE account = coalesce(?2, account) ORDER BY week DESC LIMIT 1 OFFSET ?3), 0)",
                    Resend::Allowed},
        .lastSignIns = {"SELECT s.identity, s.week, s.times FROM sign_ins AS s JOIN (SELECT identity, max(week) AS"
                        " week FROM sign_ins GROUP BY identity) AS last ON s.identity = last.identity AND"
                        " s.week = last.week",
                        Resend::Allowed},
        .isAdmin = {"SELECT 1 FROM admins WHERE account = ?1", Resend::Allowed},
        .grantAdmin = {"INSERT INTO admins(account, granted_at) VALUES(?1, ?2) ON CONFLICT(account) DO NOTHING",
                       Resend::Allowed},
        .revokeAdmin = {"DELETE FROM admins WHERE account = ?1", Resend::Allowed},
        .listAdmins = {"SELECT account, granted_at FROM admins ORDER BY account", Resend::Allowed},
        .dropOldProviderRecords = {{"DELETE FROM oidc_pending WHERE expires_at < ?1", Resend::Allowed},
                                   {"DELETE FROM oidc_codes WHERE expires_at < ?1", Resend::Allowed},
                                   {"DELETE FROM oidc_access_tokens WHERE expires_at < ?1", Resend::Allowed},
                                   {"DELETE FROM oidc_keys WHERE retired_at < ?1", Resend::Allowed}},
        .rowChecks = RowChecks(),
    };
}

} // namespace

std::string PostgresDialect(std::string_view sqlite)
{
    std::string postgres;
    for (std::size_t at = 0; at < sqlite.size();) {
        const std::string_view rest = sqlite.substr(at);
        if (rest.front() == '\'') {
            const std::size_t close = rest.find('\'', 1);
            const std::size_t length = close == std::string_view::npos ? rest.size() : close + 1;
            postgres += rest.substr(0, length);
            at += length;
            continue;
        }
        if (rest.front() == '?' && rest.size() > 1 && rest[1] >= '0' && rest[1] <= '9') {
            postgres += '$';
            ++at;
            continue;
        }
        const bool afterWordCharacter = at > 0 && IsWordCharacter(sqlite[at - 1]);
        const auto word = std::find_if(std::begin(kPostgresWords), std::end(kPostgresWords), [&](const auto& word) {
            return BeginsWithWord(rest, word.first, afterWordCharacter);
        });
        if (word != std::end(kPostgresWords)) {
            postgres += word->second;
            at += word->first.size();
            continue;
        }
        postgres += rest.front();
        ++at;
    }
    return postgres;
}

StoreStatement::StoreStatement(std::string text, Resend resend)
    : sqlite(std::move(text)), postgres(PostgresDialect(sqlite)), resend(resend)
{
}

StoreStatement::StoreStatement(std::string sqlite, std::string postgres, Resend resend)
    : sqlite(std::move(sqlite)), postgres(std::move(postgres)), resend(resend)
{
}

std::string SignInUpsert()
{
    return " ON CONFLICT(week, identity, account, address, path) DO UPDATE SET times = CASE WHEN"
           " length(sign_ins.times) >= " +
           std::to_string(kMostSignInTimes * kSignInTimeLength) + " THEN substr(sign_ins.times, " +
           std::to_string(kSignInTimeLength + 1) +
           ") ELSE sign_ins.times END || excluded.times, count = sign_ins.count + 1";
}

std::string OutcomeLiteral(Outcome outcome)
{
    return "'" + std::string(OutcomeName(outcome)) + "'";
}

const std::vector<std::string>& SchemaSteps()
{
    static const std::vector<std::string> steps = MadeSchema();
    return steps;
}

const std::vector<TableCopy>& TableCopies()
{
    static const std::vector<TableCopy> copies = MadeTableCopies();
    return copies;
}

const StoreStatement& InsertRow(const std::string& table, std::size_t columns)
{
    static std::mutex guard;
    static std::map<std::pair<std::string, std::size_t>, StoreStatement> made;
    const std::lock_guard lock(guard);
    const auto key = std::make_pair(table, columns);
    if (const auto found = made.find(key); found != made.end())
        return found->second;
    std::string values;
    for (std::size_t column = 1; column <= columns; ++column)
        values += (column > 1 ? ", ?" : "?") + std::to_string(column);
    const std::string sqlite = "INSERT INTO " + table + " VALUES(" + values + ")";
    const std::string postgres =
        PostgresDialect("INSERT INTO " + table + " OVERRIDING SYSTEM VALUE VALUES(" + values + ")");
    // Never sent again: a row inserted twice would be refused by its key, or kept twice.
    return made.try_emplace(key, sqlite, postgres, Resend::Never).first->second;
}

const StoreStatements& Statements()
{
    static const StoreStatements statements = MadeStatements();
    return statements;
}
