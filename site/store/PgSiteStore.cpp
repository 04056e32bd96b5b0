#include "site/store/PgSiteStore.h"

#include "logon/AuthenticatorText.h"
#include "site/store/StoreRules.h"
#include "site/verifier/Identity.h"

#include <algorithm>
#include <span>

namespace {

constexpr PgSql kTables{R"(
CREATE TABLE site_header(
    application_id BIGINT NOT NULL,
    schema_version BIGINT NOT NULL
);
CREATE TABLE tokens(
    identity TEXT PRIMARY KEY,
    account TEXT NOT NULL,
    enrolled_at BIGINT NOT NULL,
    revoked_at BIGINT
);
CREATE TABLE used_strings(
    identity TEXT NOT NULL,
    seed BIGINT NOT NULL,
    accepted_at BIGINT NOT NULL,
    PRIMARY KEY(identity, seed)
);
CREATE TABLE sessions(
    token_hash BYTEA PRIMARY KEY,
    identity TEXT NOT NULL,
    opened_at BIGINT NOT NULL
);
CREATE INDEX sessions_by_identity ON sessions(identity);
CREATE INDEX sessions_by_age ON sessions(opened_at);
CREATE TABLE attempts(
    id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    at BIGINT NOT NULL,
    address TEXT NOT NULL,
    network TEXT NOT NULL,
    wide_network TEXT,
    identity TEXT,
    outcome TEXT NOT NULL
);
CREATE INDEX failures_by_address ON attempts(address, at) WHERE outcome <> 'accepted';
CREATE INDEX failures_by_network ON attempts(network, at) WHERE outcome <> 'accepted';
CREATE INDEX failures_by_wide_network ON attempts(wide_network, at) WHERE outcome <> 'accepted';
CREATE TABLE daily_counts(
    day BIGINT NOT NULL,
    network TEXT NOT NULL,
    outcome TEXT NOT NULL,
    count BIGINT NOT NULL,
    PRIMARY KEY(day, network, outcome)
);
CREATE TABLE brakes(
    network TEXT PRIMARY KEY,
    until BIGINT NOT NULL
);
CREATE TABLE clients(
    id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,
    name TEXT NOT NULL,
    key BYTEA NOT NULL,
    added_at BIGINT NOT NULL
);
CREATE TABLE nonces(
    client BIGINT NOT NULL,
    nonce TEXT NOT NULL,
    at BIGINT NOT NULL,
    PRIMARY KEY(client, nonce)
);
CREATE INDEX nonces_by_age ON nonces(at);
)",
                        Resend::Never};
// Schema 3: the mark of the request that used a string up (Offer), to find out after a lost
// connection whose acceptance a commit was. Made by the same statement for a new database and
// an older one, so that both end with the same columns in the same order.
constexpr PgSql kThirdSchema{"ALTER TABLE used_strings ADD COLUMN used_by BIGINT", Resend::Never};

// Two operators running init at once take turns.
constexpr PgSql kLockInit{"SELECT pg_advisory_xact_lock(hashtextextended('entravo-site init', 0))", Resend::Allowed};
constexpr PgSql kHeaderExists{
    "SELECT to_regclass('site_header') IS NOT NULL, (SELECT count(*) FROM pg_class WHERE relnamespace ="
    " current_schema()::regnamespace AND relkind IN ('r', 'p', 'v', 'm', 'f'))",
    Resend::Allowed};
constexpr PgSql kReadHeader{"SELECT application_id, schema_version FROM site_header", Resend::Allowed};
constexpr PgSql kSetVersion{"UPDATE site_header SET schema_version = $1", Resend::Allowed};
constexpr PgSql kWriteHeader{"INSERT INTO site_header(application_id, schema_version) VALUES($1, $2)", Resend::Never};

constexpr PgSql kFindTokenToChange{"SELECT account, revoked_at FROM tokens WHERE identity = $1 FOR UPDATE",
                                   Resend::Allowed};
constexpr PgSql kEnroll{"INSERT INTO tokens(identity, account, enrolled_at) VALUES($1, $2, $3)"
                        " ON CONFLICT(identity) DO UPDATE SET account = $2, enrolled_at = $3, revoked_at = NULL",
                        Resend::Allowed};
constexpr PgSql kRevoke{"UPDATE tokens SET revoked_at = $2 WHERE identity = $1", Resend::Allowed};
constexpr PgSql kEndTokenSessions{"DELETE FROM sessions WHERE identity = $1", Resend::Allowed};
constexpr PgSql kListTokens{"SELECT identity, account, revoked_at IS NOT NULL FROM tokens ORDER BY identity",
                            Resend::Allowed};
constexpr PgSql kRecentAttempts{"SELECT at, address, identity, outcome FROM attempts ORDER BY id DESC LIMIT $1",
                                Resend::Allowed};
constexpr PgSql kFailuresByNetwork{"SELECT network, count(*), count(DISTINCT address), max(at) FROM attempts"
                                   " WHERE at >= $1 AND outcome <> 'accepted' GROUP BY network ORDER BY 2 DESC, 1",
                                   Resend::Allowed};
constexpr PgSql kDailyCounts{
    "SELECT day, network, outcome, count FROM daily_counts WHERE day >= $1 ORDER BY day DESC, count DESC, network",
    Resend::Allowed};

// Every budget of an origin lies within its widest network (an address within its network,
// an IPv6 /64 within its /48), so one lock on that network's key makes counting and charging
// one step for all of them, on every server. Read committed takes a new snapshot for each
// statement, so the count after the lock sees every charge committed before it. The lock is
// sent with BEGIN, in one round trip.
constexpr PgSql kBegin{"BEGIN", Resend::Allowed};
constexpr PgSql kUnflushed{"SET LOCAL synchronous_commit = off", Resend::Allowed};
constexpr PgSql kCommit{"COMMIT", Resend::Never};
// Taken on the origin's widest network, which holds all its budgets.
constexpr PgSql kLockOrigin{"SELECT pg_advisory_xact_lock(hashtextextended($1, 0))", Resend::Allowed};

const std::string& Widest(const Origin& origin)
{
    return origin.wideNetwork.empty() ? origin.network : origin.wideNetwork;
}

// Each budget is counted only as far as it reaches, over an index of the failures alone.
constexpr PgSql kCountFailures{
    "SELECT (SELECT count(*) FROM (SELECT 1 FROM attempts WHERE address = $1 AND at >= $4::bigint AND outcome <>"
    " 'accepted' LIMIT $5::bigint) AS a), (SELECT count(*) FROM (SELECT 1 FROM attempts WHERE network = $2 AND at >="
    " $4::bigint AND outcome <> 'accepted' LIMIT $6::bigint) AS n), (SELECT count(*) FROM (SELECT 1 FROM attempts"
    " WHERE wide_network = $3 AND at >= $4::bigint AND outcome <> 'accepted' LIMIT $7::bigint) AS w)",
    Resend::Allowed};
constexpr PgSql kRecordAttempt{"INSERT INTO attempts(at, address, network, wide_network, identity, outcome)"
                               " VALUES($1, $2, $3, $4, $5, $6)",
                               Resend::Never};
constexpr PgSql kCountToday{"INSERT INTO daily_counts(day, network, outcome, count) VALUES($1, $2, $3, 1)"
                            " ON CONFLICT(day, network, outcome) DO UPDATE SET count = daily_counts.count + 1",
                            Resend::Never};
// A row only when the network's brake is new or has run out: the first refusal of a window.
constexpr PgSql kBrake{"INSERT INTO brakes(network, until) VALUES($1, $2) ON CONFLICT(network)"
                       " DO UPDATE SET until = excluded.until WHERE brakes.until < $3 RETURNING 1",
                       Resend::Never};

// An admission as one statement: the token read under a share lock (a revocation waits for
// the admissions under way, then ends their sessions too); the string inserted into
// used_strings only for an enrolled, unrevoked token, where of two servers offering it at once
// the second waits for the first one's commit and then inserts nothing; the session opened only
// for an inserted string; the attempt recorded with the verdict. The string keeps the offer's
// mark ($8).
constexpr PgSql kAdmit{
    "WITH token AS (SELECT account, revoked_at FROM tokens WHERE identity = $1::text FOR SHARE),"
    " used AS (INSERT INTO used_strings(identity, seed, accepted_at, used_by) SELECT $1::text, $2::bigint, $3::bigint,"
    " $8::bigint FROM token WHERE revoked_at IS NULL ON CONFLICT DO NOTHING RETURNING 1),"
    " opened AS (INSERT INTO sessions(token_hash, identity, opened_at) SELECT $4::bytea, $1::text, $3::bigint"
    " FROM used WHERE $4::bytea IS NOT NULL),"
    " verdict AS (SELECT CASE WHEN NOT EXISTS (SELECT FROM token) THEN 'not-enrolled'"
    " WHEN EXISTS (SELECT FROM token WHERE revoked_at IS NOT NULL) THEN 'revoked'"
    " WHEN EXISTS (SELECT FROM used) THEN 'accepted' ELSE 'already-used' END AS outcome),"
    " recorded AS (INSERT INTO attempts(at, address, network, wide_network, identity, outcome)"
    " SELECT $3::bigint, $5::text, $6::text, $7::text, $1::text, verdict.outcome FROM verdict)"
    " SELECT verdict.outcome, (SELECT account FROM token) FROM verdict",
    Resend::Never};
// Whose a used string is, and its token's account: asked after a lost connection.
constexpr PgSql kFindUse{"SELECT used_by, (SELECT account FROM tokens WHERE identity = $1) FROM used_strings"
                         " WHERE identity = $1 AND seed = $2",
                         Resend::Allowed};
constexpr PgSql kFindSession{"SELECT account, identity FROM sessions JOIN tokens USING(identity)"
                             " WHERE token_hash = $1 AND opened_at >= $2 AND revoked_at IS NULL",
                             Resend::Allowed};
constexpr PgSql kEndSession{"DELETE FROM sessions WHERE token_hash = $1", Resend::Allowed};

// Removing and counting in one statement: of two servers tidying at once, each folds only the
// rows it removed itself, so no attempt is counted twice. Ids grow with time, so the oldest
// rows are the first ones: a round reads that many and no more, however many are recent. The
// rows are picked into an array so that the plan prepared once (which cannot know the limit)
// finds them by key rather than by reading the whole table.
constexpr PgSql kFoldAttempts{
    "WITH folded AS (DELETE FROM attempts WHERE id = ANY (ARRAY(SELECT id FROM attempts ORDER BY id LIMIT $2"
    " FOR UPDATE SKIP LOCKED)) AND at < $1 RETURNING at, network, outcome),"
    " counted AS (INSERT INTO daily_counts(day, network, outcome, count)"
    " SELECT at - at % 86400, network, outcome, count(*) FROM folded GROUP BY 1, 2, 3"
    " ON CONFLICT(day, network, outcome) DO UPDATE SET count = daily_counts.count + excluded.count)"
    " SELECT count(*) FROM folded",
    Resend::Never};
constexpr PgSql kEndOldSessions{
    "DELETE FROM sessions WHERE token_hash = ANY"
    " (ARRAY(SELECT token_hash FROM sessions WHERE opened_at < $1 ORDER BY opened_at LIMIT $2))",
    Resend::Allowed};
constexpr PgSql kDropOldBrakes{"DELETE FROM brakes WHERE until < $1", Resend::Allowed};
constexpr PgSql kDropOldDays{"DELETE FROM daily_counts WHERE day < $1", Resend::Allowed};
constexpr PgSql kDropOldNonces{"DELETE FROM nonces WHERE at < $1", Resend::Allowed};

constexpr PgSql kClientKey{"SELECT encode(key, 'hex') FROM clients WHERE id = $1", Resend::Allowed};
// A row only when the nonce is new or was last seen long enough ago; of two servers seeing the
// same nonce at once, the second waits for the first one's commit and then changes nothing.
constexpr PgSql kUseNonce{"INSERT INTO nonces(client, nonce, at) VALUES($1, $2, $3) ON CONFLICT(client, nonce)"
                          " DO UPDATE SET at = excluded.at WHERE nonces.at < $4",
                          Resend::Never};
constexpr PgSql kFindClient{"SELECT id FROM clients WHERE key = $1", Resend::Allowed};
constexpr PgSql kAddClient{"INSERT INTO clients(name, key, added_at) VALUES($1, $2, $3) RETURNING id", Resend::Never};
constexpr PgSql kListClients{"SELECT id, name, added_at FROM clients ORDER BY id", Resend::Allowed};
constexpr PgSql kRemoveClient{"DELETE FROM clients WHERE id = $1", Resend::Never};
constexpr PgSql kRemoveClientNonces{"DELETE FROM nonces WHERE client = $1", Resend::Allowed};
// Deletes by key: each changes nothing when run again.
constexpr PgSql kForgetToken[] = {{"DELETE FROM sessions WHERE identity = $1", Resend::Allowed},
                                  {"DELETE FROM used_strings WHERE identity = $1", Resend::Allowed},
                                  {"DELETE FROM attempts WHERE identity = $1", Resend::Allowed},
                                  {"DELETE FROM tokens WHERE identity = $1", Resend::Allowed}};
constexpr PgSql kVacuum{"VACUUM attempts, sessions, daily_counts, brakes", Resend::Allowed};
constexpr PgSql kFootprint{"SELECT coalesce(sum(pg_total_relation_size(oid)), 0) FROM pg_class WHERE relnamespace ="
                           " current_schema()::regnamespace AND relkind = 'r'",
                           Resend::Allowed};

// Every table and index of the current schema, one line each, to compare against the ones this
// release makes.
constexpr PgSql kListSchema{
    "SELECT 'table ' || c.relname || ': ' || string_agg(a.attname || ' ' || format_type(a.atttypid, a.atttypmod) ||"
    " CASE WHEN a.attnotnull THEN ' not null' ELSE '' END, ', ' ORDER BY a.attnum) FROM pg_class c JOIN"
    " pg_attribute a ON a.attrelid = c.oid WHERE c.relnamespace = current_schema()::regnamespace AND c.relkind ="
    " 'r' AND a.attnum > 0 AND NOT a.attisdropped GROUP BY c.relname"
    " UNION ALL SELECT 'index ' || indexname || ': ' || replace(indexdef, schemaname || '.', '') FROM pg_indexes"
    " WHERE schemaname = current_schema() ORDER BY 1",
    Resend::Allowed};
// The checks of rows written in the server's dialect, besides the portable ones.
constexpr PgSql kRowChecks[] = {
    {"SELECT 'token ' || quote_literal(identity) || ' is not 16 upper-case hexadecimal digits' FROM tokens WHERE"
     " identity !~ '^[0-9A-F]{16}$'",
     Resend::Allowed},
    {"SELECT 'token ' || identity || ' has no account' FROM tokens WHERE account = ''", Resend::Allowed},
    {"SELECT 'used string of ' || quote_literal(identity) || ' has a seed out of range: ' || seed FROM used_strings"
     " WHERE seed < 0 OR seed > 2147483647",
     Resend::Allowed},
    {"SELECT 'session of ' || identity || ' has a damaged token hash' FROM sessions WHERE octet_length(token_hash) <> "
     "32",
     Resend::Allowed},
    {"SELECT 'client ' || id || ' has a damaged key' FROM clients WHERE octet_length(key) <> 32", Resend::Allowed},
    {"SELECT 'attempt ' || id || ' has an unknown outcome ' || quote_literal(outcome) FROM attempts WHERE outcome NOT "
     "IN"
     " ('accepted', 'malformed', 'not-genuine', 'not-enrolled', 'revoked', 'already-used', 'too-many-failures',"
     " 'pending')",
     Resend::Allowed},
};

// The schema version of a database of ours that this release can work with.
int64_t CheckHeader(PgConnection& connection, bool current)
{
    const std::string& name = connection.Name();
    const PgResult header = connection.Run(kReadHeader);
    if (header.Rows() != 1 || header.Integer(0, 0) != kApplicationId)
        throw StoreError(name + " is not a site database");
    const int64_t version = header.Integer(0, 1);
    if (version > kSchemaVersion)
        throw StoreError(name + " was made by a newer entravo-site (schema " + std::to_string(version) + ")");
    if (current && version < kSchemaVersion)
        throw StoreError(name + " is a site database of an older release (schema " + std::to_string(version) +
                         "); bring it up to date with: entravo-site init");
    return version;
}

// The outcomes an admission ends with, by the names the statement gives them.
Outcome OutcomeNamed(const std::string& name)
{
    for (const Outcome outcome : {Outcome::Accepted, Outcome::NotEnrolled, Outcome::Revoked, Outcome::AlreadyUsed}) {
        if (OutcomeName(outcome) == name)
            return outcome;
    }
    throw StoreError("unexpected outcome of an admission: " + name);
}

std::optional<std::string> IdentityText(const std::optional<RomBytes>& identity)
{
    return identity ? std::optional(FormatIdentity(*identity)) : std::nullopt;
}

std::optional<std::string> Present(const std::string& text)
{
    return text.empty() ? std::nullopt : std::optional(text);
}

std::span<const uint8_t> Bytes(const SessionHash& hash)
{
    return {hash.data(), hash.size()};
}

std::optional<std::span<const uint8_t>> SessionBytes(const std::optional<SessionHash>& hash)
{
    return hash ? std::optional(Bytes(*hash)) : std::nullopt;
}

std::vector<std::string> Lines(const PgResult& result)
{
    std::vector<std::string> lines;
    for (int row = 0; row < result.Rows(); ++row)
        lines.push_back(result.Text(row, 0));
    return lines;
}

// The objects this release makes, made in a schema of their own that is never committed.
constexpr PgSql kExpectedSchema{"CREATE SCHEMA entravo_expected; SET LOCAL search_path TO entravo_expected",
                                Resend::Never};

std::vector<std::string> ExpectedObjects(PgConnection& connection)
{
    PgTransaction transaction(connection);
    connection.Execute(kExpectedSchema);
    connection.Execute(kTables);
    connection.Execute(kThirdSchema);
    return Lines(connection.Run(kListSchema));
}

std::string Named(const std::string& object)
{
    return object.substr(0, object.find(':'));
}

PgStatement CountStatement(const Origin& origin, int64_t now, const Budgets& budgets)
{
    return {kCountFailures,
            {origin.address, origin.network, Present(origin.wideNetwork), now - budgets.windowSeconds,
             int64_t{budgets.address}, int64_t{budgets.network}, int64_t{budgets.wideNetwork}}};
}

std::string SpentOf(const PgResult& counted, const Origin& origin, const Budgets& budgets)
{
    return SpentBudget(origin, budgets, counted.Integer(0, 0), counted.Integer(0, 1), counted.Integer(0, 2));
}

PgStatement RecordStatement(const Origin& origin, int64_t now, Outcome outcome, const std::optional<RomBytes>& identity)
{
    return {kRecordAttempt,
            {now, origin.address, origin.network, Present(origin.wideNetwork), IdentityText(identity),
             OutcomeName(outcome)}};
}

// A string's admission that records its attempt, from origin, with the outcome.
PgStatement AdmitStatement(const RomBytes& identity, uint32_t seed, int64_t at, const Offer& offer,
                           const Origin& origin)
{
    return {kAdmit,
            {FormatIdentity(identity), int64_t{seed}, at,
             SessionBytes(offer.opensSession ? std::optional(offer.mark) : std::nullopt), origin.address,
             origin.network, Present(origin.wideNetwork), MarkOf(offer.mark)}};
}

Admission AdmissionOf(const PgResult& admitted)
{
    const Outcome outcome = OutcomeNamed(admitted.Text(0, 0));
    return {outcome, outcome == Outcome::Accepted ? admitted.Text(0, 1) : std::string()};
}

// Rolls back a transaction that the batches of a store call began and did not end.
struct EndTransaction {
    PgConnection& connection;
    ~EndTransaction() { connection.RollBackIfOpen(); }
};

} // namespace

InitResult PgSiteStore::Initialise(const std::string& address)
{
    PgConnection connection(address);
    PgTransaction transaction(connection);
    connection.Run(kLockInit);
    const PgResult found = connection.Run(kHeaderExists);
    InitResult result = InitResult::Created;
    if (found.Boolean(0, 0)) {
        if (CheckHeader(connection, false) == kSchemaVersion)
            return InitResult::AlreadyThere;
        connection.Execute(kThirdSchema);
        connection.Run(kSetVersion, {kSchemaVersion});
        result = InitResult::Migrated;
    } else {
        if (found.Integer(0, 1) != 0)
            throw StoreError(connection.Name() +
                             " is not a site database (it holds other tables; nothing was changed)");
        connection.Execute(kTables);
        connection.Execute(kThirdSchema);
        connection.Run(kWriteHeader, {kApplicationId, kSchemaVersion});
    }
    transaction.Commit();
    return result;
}

PgSiteStore PgSiteStore::Open(const std::string& address, StoreUse use)
{
    PgConnection connection(address);
    if (!connection.Run(kHeaderExists).Boolean(0, 0))
        throw StoreError(connection.Name() + " is not a site database (make one with: entravo-site init)");
    CheckHeader(connection, true);
    if (use == StoreUse::LongLived) {
        for (const auto& [sql, parameters] : {std::pair{kBegin, 0},
                                              {kLockOrigin, 1},
                                              {kCountFailures, 7},
                                              {kRecordAttempt, 6},
                                              {kAdmit, 8},
                                              {kUnflushed, 0},
                                              {kCommit, 0},
                                              {kFindSession, 2}})
            connection.Prepared(sql, parameters);
    }
    return PgSiteStore(std::move(connection));
}

PgSiteStore::PgSiteStore(PgConnection connection) : m_connection(std::move(connection)) {}

// One transaction, two round trips: the origin's lock and its count, then (after the search)
// the outcome recorded with the admission and the commit, flushed only for an admission. No
// other server charges the origin meanwhile. A connection lost before the second round trip
// leaves nothing behind; one lost during it may have left the commit made (AdmitOnce).
StringCheck PgSiteStore::CheckString(const Origin& origin, int64_t now, const Budgets& budgets, const Search& search,
                                     const Offer& offer)
{
    const EndTransaction ending{m_connection};
    return CheckOffered(
        [&] { return Gauge(origin, now, budgets); }, search,
        [&](Outcome outcome, const std::optional<RomBytes>& identity) {
            m_connection.RunTogether(
                {RecordStatement(origin, now, outcome, identity), {kUnflushed, {}}, {kCommit, {}}});
        },
        [&](const Verification& genuine) { return AdmitOnce(*genuine.identity, genuine.seed, now, offer, origin); });
}

// The first round trip: the transaction begun, the origin's lock taken and its budgets counted;
// a refusal is counted and committed at once.
Gate PgSiteStore::Gauge(const Origin& origin, int64_t now, const Budgets& budgets)
{
    const auto counted =
        m_connection.RunTogether({{kBegin, {}}, {kLockOrigin, {Widest(origin)}}, CountStatement(origin, now, budgets)});
    const std::string spent = SpentOf(counted[2], origin, budgets);
    return spent.empty() ? Gate{} : RefuseAndCommit(origin, spent, now, budgets);
}

Admission PgSiteStore::AdmitOnce(const RomBytes& identity, uint32_t seed, int64_t now, const Offer& offer,
                                 const Origin& origin)
{
    try {
        return AdmissionOf(
            m_connection.RunTogether({AdmitStatement(identity, seed, now, offer, origin), {kCommit, {}}})[0]);
    } catch (const StoreError& error) {
        if (!m_connection.Lost())
            throw;
        return AdmissionAfterLoss(identity, seed, offer, error);
    }
}

// The server may have committed the admission before the connection was lost, so the answer is
// asked of the string itself, on a new connection: used under this offer's mark, it is this
// request's acceptance (its session opened with it); under another's, it is used up; not used,
// nothing of this request was kept and the visitor may try again. While the server stays away
// nobody can tell, and the answer must say so.
Admission PgSiteStore::AdmissionAfterLoss(const RomBytes& identity, uint32_t seed, const Offer& offer,
                                          const StoreError& loss)
{
    const auto unresolved = [&](const std::string& why) {
        return StoreError(std::string(loss.what()) + " as the string's acceptance was committed, and " + why +
                              ": whether it was made is not known",
                          StoreError::Kind::Unresolved);
    };
    PgResult use = [&] {
        try {
            m_connection.Reconnect(kResolveSeconds);
            return m_connection.Run(kFindUse, {FormatIdentity(identity), int64_t{seed}});
        } catch (const StoreError& away) {
            throw unresolved(std::string("asking again failed (") + away.what() + ")");
        }
    }();
    if (use.Rows() == 0)
        throw loss;
    if (!use.IsNull(0, 0) && use.Integer(0, 0) == MarkOf(offer.mark))
        return {Outcome::Accepted, use.Text(0, 1)};
    return {Outcome::AlreadyUsed, {}};
}

// Within the transaction that holds the origin's lock: the refusal counted for the day and, for
// a network, its brake set (newly only when it had run out); then the commit.
Gate PgSiteStore::RefuseAndCommit(const Origin& origin, const std::string& spent, int64_t now, const Budgets& budgets)
{
    Gate gate;
    gate.exhausted = spent;
    const int64_t day = now - now % kSecondsPerDay;
    const std::string_view refused = OutcomeName(Outcome::TooManyFailures);
    if (spent == origin.address) {
        m_connection.RunTogether({{kCountToday, {day, origin.network, refused}}, {kUnflushed, {}}, {kCommit, {}}});
        return gate;
    }
    const auto braked = m_connection.RunTogether({{kCountToday, {day, spent, refused}},
                                                  {kBrake, {spent, now + budgets.windowSeconds, now}},
                                                  {kUnflushed, {}},
                                                  {kCommit, {}}});
    gate.networkNewlyExhausted = braked[1].Rows() > 0;
    return gate;
}

std::optional<SessionHolder> PgSiteStore::FindSession(const SessionHash& session, int64_t openedSince)
{
    const PgResult found = m_connection.Run(kFindSession, {Bytes(session), openedSince});
    if (found.Rows() == 0)
        return std::nullopt;
    const auto identity = ParseIdentity(found.Text(0, 1));
    if (!identity)
        return std::nullopt;
    return SessionHolder{found.Text(0, 0), *identity};
}

void PgSiteStore::EndSession(const SessionHash& session)
{
    m_connection.Run(kEndSession, {Bytes(session)});
}

PruneReport PgSiteStore::TidyRound(int64_t now, int64_t rows)
{
    PgTransaction transaction(m_connection, Durability::Unflushed);
    PruneReport report;
    report.attemptsFolded = m_connection.Run(kFoldAttempts, {now - kAttemptKeepSeconds, rows}).Integer(0, 0);
    report.sessionsEnded = m_connection.Run(kEndOldSessions, {now - kSessionLifetimeSeconds, rows}).Affected();
    m_connection.Run(kDropOldBrakes, {now});
    m_connection.Run(kDropOldDays, {now - kDailyKeepSeconds});
    m_connection.Run(kDropOldNonces, {now - kNonceKeepSeconds});
    transaction.Commit();
    return report;
}

std::optional<ClientKey> PgSiteStore::ClientKeyOf(int64_t client)
{
    const PgResult found = m_connection.Run(kClientKey, {client});
    if (found.Rows() == 0)
        return std::nullopt;
    const auto key = ParseHexBytes<std::tuple_size_v<ClientKey>>(found.Text(0, 0));
    if (!key)
        throw StoreError(m_connection.Name() + ": the key of client " + std::to_string(client) + " is damaged");
    return *key;
}

bool PgSiteStore::UseNonce(int64_t client, std::string_view nonce, int64_t now)
{
    return m_connection.Run(kUseNonce, {client, nonce, now, now - kNonceKeepSeconds}).Affected() > 0;
}

// A client is made once: should the connection be lost after its row was sent, its key (random,
// and the client's alone) tells on a new connection whether the row was made.
int64_t PgSiteStore::AddClient(std::string_view name, const ClientKey& key, int64_t now)
{
    const std::span<const uint8_t> bytes(key.data(), key.size());
    try {
        return m_connection.Run(kAddClient, {name, bytes, now}).Integer(0, 0);
    } catch (const StoreError& error) {
        if (!m_connection.Lost())
            throw;
        PgResult made = [&] {
            try {
                m_connection.Reconnect(kResolveSeconds);
                return m_connection.Run(kFindClient, {bytes});
            } catch (const StoreError& away) {
                throw StoreError(std::string(error.what()) + " as the client was added, and asking again failed (" +
                                     away.what() + "): whether it was made is not known",
                                 StoreError::Kind::Unresolved);
            }
        }();
        if (made.Rows() == 0)
            throw;
        return made.Integer(0, 0);
    }
}

std::vector<ApiClient> PgSiteStore::Clients()
{
    std::vector<ApiClient> clients;
    const PgResult rows = m_connection.Run(kListClients);
    for (int row = 0; row < rows.Rows(); ++row)
        clients.push_back({rows.Integer(row, 0), rows.Text(row, 1), rows.Integer(row, 2)});
    return clients;
}

bool PgSiteStore::RemoveClient(int64_t client)
{
    PgTransaction transaction(m_connection);
    const bool removed = m_connection.Run(kRemoveClient, {client}).Affected() > 0;
    m_connection.Run(kRemoveClientNonces, {client});
    transaction.Commit();
    return removed;
}

void PgSiteStore::Forget(const RomBytes& identity)
{
    const std::string key = FormatIdentity(identity);
    PgTransaction transaction(m_connection);
    for (const PgSql& statement : kForgetToken)
        m_connection.Run(statement, {key});
    transaction.Commit();
}

void PgSiteStore::Tidy(int64_t now)
{
    TidyRound(now, kTidyRows);
}

PruneReport PgSiteStore::Prune(int64_t now)
{
    const int64_t before = m_connection.Run(kFootprint).Integer(0, 0);
    PruneReport total;
    for (;;) {
        const PruneReport round = TidyRound(now, kPruneRows);
        total.attemptsFolded += round.attemptsFolded;
        total.sessionsEnded += round.sessionsEnded;
        if (round.attemptsFolded < kPruneRows && round.sessionsEnded < kPruneRows)
            break;
    }
    // A plain vacuum makes the space reusable and gives back what is free at the tables' ends.
    m_connection.Execute(kVacuum);
    const int64_t after = m_connection.Run(kFootprint).Integer(0, 0);
    total.bytesFreed = std::max<int64_t>(0, before - after);
    return total;
}

EnrollResult PgSiteStore::Enroll(const RomBytes& identity, std::string_view account, int64_t now)
{
    const std::string key = FormatIdentity(identity);
    PgTransaction transaction(m_connection);
    const PgResult token = m_connection.Run(kFindTokenToChange, {key});
    if (token.Rows() == 1 && token.IsNull(0, 1))
        return EnrollResult::AlreadyEnrolled;
    m_connection.Run(kEnroll, {key, account, now});
    m_connection.Run(kEndTokenSessions, {key});
    transaction.Commit();
    return EnrollResult::Enrolled;
}

RevokeResult PgSiteStore::Revoke(const RomBytes& identity, int64_t now)
{
    const std::string key = FormatIdentity(identity);
    PgTransaction transaction(m_connection);
    const PgResult token = m_connection.Run(kFindTokenToChange, {key});
    if (token.Rows() == 0)
        return RevokeResult::NotEnrolled;
    if (!token.IsNull(0, 1))
        return RevokeResult::AlreadyRevoked;
    m_connection.Run(kRevoke, {key, now});
    m_connection.Run(kEndTokenSessions, {key});
    transaction.Commit();
    return RevokeResult::Revoked;
}

std::vector<TokenEntry> PgSiteStore::Tokens()
{
    std::vector<TokenEntry> tokens;
    const PgResult rows = m_connection.Run(kListTokens);
    for (int row = 0; row < rows.Rows(); ++row)
        tokens.push_back({rows.Text(row, 0), rows.Text(row, 1), rows.Boolean(row, 2)});
    return tokens;
}

std::vector<AttemptEntry> PgSiteStore::RecentAttempts(int count)
{
    std::vector<AttemptEntry> attempts;
    const PgResult rows = m_connection.Run(kRecentAttempts, {int64_t{count}});
    for (int row = 0; row < rows.Rows(); ++row)
        attempts.push_back({rows.Integer(row, 0), rows.Text(row, 1), rows.OptionalText(row, 2), rows.Text(row, 3)});
    return attempts;
}

std::vector<NetworkFailures> PgSiteStore::FailuresByNetwork(int64_t since)
{
    std::vector<NetworkFailures> networks;
    const PgResult rows = m_connection.Run(kFailuresByNetwork, {since});
    for (int row = 0; row < rows.Rows(); ++row)
        networks.push_back({rows.Text(row, 0), rows.Integer(row, 1), rows.Integer(row, 2), rows.Integer(row, 3)});
    return networks;
}

std::vector<DailyCount> PgSiteStore::DailyCounts(int64_t since)
{
    std::vector<DailyCount> counts;
    const PgResult rows = m_connection.Run(kDailyCounts, {since - since % kSecondsPerDay});
    for (int row = 0; row < rows.Rows(); ++row)
        counts.push_back({rows.Integer(row, 0), rows.Text(row, 1), rows.Text(row, 2), rows.Integer(row, 3)});
    return counts;
}

std::vector<std::string> PgSiteStore::Check()
{
    std::vector<std::string> faults;
    const std::vector<std::string> expected = ExpectedObjects(m_connection);
    const std::vector<std::string> found = Lines(m_connection.Run(kListSchema));
    for (const std::string& object : expected) {
        if (std::find(found.begin(), found.end(), object) == found.end())
            faults.push_back("missing or changed: " + Named(object));
    }
    for (const std::string& object : found) {
        if (std::find(expected.begin(), expected.end(), object) == expected.end())
            faults.push_back("not made by entravo-site: " + Named(object));
    }
    const auto report = [&](const PgSql& check) {
        const std::vector<std::string> lines = Lines(m_connection.Run(check));
        faults.insert(faults.end(), lines.begin(), lines.end());
    };
    for (const char* check : kPortableRowChecks)
        report({check, Resend::Allowed});
    for (const PgSql& check : kRowChecks)
        report(check);
    return faults;
}
