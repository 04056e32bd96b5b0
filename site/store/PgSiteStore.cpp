#include "site/store/PgSiteStore.h"

#include "site/verifier/Identity.h"

#include <algorithm>
#include <span>

namespace {

// Stands in for the header of a SQLite file: one row.
constexpr PgSql kHeaderTable{"CREATE TABLE site_header(application_id BIGINT NOT NULL, schema_version BIGINT NOT NULL)",
                             Resend::Never};

// Two operators running init at once take turns.
constexpr PgSql kLockInit{"SELECT pg_advisory_xact_lock(hashtextextended('entravo-site init', 0))", Resend::Allowed};
constexpr PgSql kHeaderExists{
    "SELECT to_regclass('site_header') IS NOT NULL, (SELECT count(*) FROM pg_class WHERE relnamespace ="
    " current_schema()::regnamespace AND relkind IN ('r', 'p', 'v', 'm', 'f'))",
    Resend::Allowed};
constexpr PgSql kReadHeader{"SELECT application_id, schema_version FROM site_header", Resend::Allowed};
constexpr PgSql kSetVersion{"UPDATE site_header SET schema_version = $1", Resend::Allowed};
constexpr PgSql kWriteHeader{"INSERT INTO site_header(application_id, schema_version) VALUES($1, $2)", Resend::Never};

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

// An admission as one statement: the token read under a share lock (a revocation waits for
// the admissions under way, then ends their sessions too); the string inserted into
// used_strings only for an enrolled, unrevoked token, where of two servers offering it at once
// the second waits for the first one's commit and then inserts nothing; the session opened only
// for an inserted string; the attempt recorded with the verdict. The string keeps the offer's
// mark ($8).
std::string AdmissionVerdict()
{
    return "CASE WHEN NOT EXISTS (SELECT FROM token) THEN " + OutcomeLiteral(Outcome::NotEnrolled) +
           " WHEN EXISTS (SELECT FROM token WHERE revoked_at IS NOT NULL) THEN " + OutcomeLiteral(Outcome::Revoked) +
           " WHEN EXISTS (SELECT FROM used) THEN " + OutcomeLiteral(Outcome::Accepted) + " ELSE " +
           OutcomeLiteral(Outcome::AlreadyUsed) + " END";
}
const std::string kAdmitText =
    "WITH token AS (SELECT account, revoked_at FROM tokens WHERE identity = $1::text FOR SHARE),"
    " used AS (INSERT INTO used_strings(identity, seed, accepted_at, used_by) SELECT $1::text, $2::bigint, $3::bigint,"
    " $8::bigint FROM token WHERE revoked_at IS NULL ON CONFLICT DO NOTHING RETURNING 1),"
    " opened AS (INSERT INTO sessions(token_hash, identity, opened_at) SELECT $4::bytea, $1::text, $3::bigint"
    " FROM used WHERE $4::bytea IS NOT NULL),"
    " verdict AS (SELECT " +
    AdmissionVerdict() +
    " AS outcome),"
    " recorded AS (INSERT INTO attempts(at, address, network, wide_network, identity, outcome)"
    " SELECT $3::bigint, $5::text, $6::text, $7::text, $1::text, verdict.outcome FROM verdict)"
    " SELECT verdict.outcome, (SELECT account FROM token) FROM verdict";
const PgSql kAdmit{kAdmitText.c_str(), Resend::Never};
// Whose a used string is, and its token's account: asked after a lost connection.
constexpr PgSql kFindUse{"SELECT used_by, (SELECT account FROM tokens WHERE identity = $1) FROM used_strings"
                         " WHERE identity = $1 AND seed = $2",
                         Resend::Allowed};
// Removing and counting in one statement: of two servers tidying at once, each folds only the
// rows it removed itself, so no attempt is counted twice. Ids grow with time, so the oldest
// rows are the first ones: a round reads that many and no more, however many are recent. The
// rows are picked into an array so that the plan prepared once (which cannot know the limit)
// finds them by key rather than by reading the whole table. Counted per day ($3 seconds long).
constexpr PgSql kFoldAttempts{
    "WITH folded AS (DELETE FROM attempts WHERE id = ANY (ARRAY(SELECT id FROM attempts ORDER BY id LIMIT $2"
    " FOR UPDATE SKIP LOCKED)) AND at < $1 RETURNING at, network, outcome),"
    " counted AS (INSERT INTO daily_counts(day, network, outcome, count)"
    " SELECT at - at % $3, network, outcome, count(*) FROM folded GROUP BY 1, 2, 3"
    " ON CONFLICT(day, network, outcome) DO UPDATE SET count = daily_counts.count + excluded.count)"
    " SELECT count(*) FROM folded",
    Resend::Never};

constexpr PgSql kFindClient{"SELECT id FROM clients WHERE key = $1", Resend::Allowed};
constexpr PgSql kVacuum{"VACUUM attempts, sessions, daily_counts, brakes, oidc_pending, oidc_codes, oidc_access_tokens",
                        Resend::Allowed};
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
// The schema version of a database of ours that this release can work with.
int64_t SchemaVersionOf(PgConnection& connection, bool mustBeCurrent)
{
    const PgResult header = connection.Run(kReadHeader);
    const bool one = header.Rows() == 1;
    const int64_t version = one ? header.Integer(0, 1) : 0;
    CheckHeader(connection.Name(), one ? header.Integer(0, 0) : 0, version, mustBeCurrent);
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

// Runs the schema's steps from the one after version on.
void MakeSchema(PgConnection& connection, int64_t version)
{
    const std::vector<std::string>& steps = SchemaSteps();
    for (auto step = steps.begin() + version; step != steps.end(); ++step) {
        const std::string sql = PostgresDialect(*step);
        connection.Execute({sql.c_str(), Resend::Never});
    }
}

std::vector<std::string> ExpectedObjects(PgConnection& connection)
{
    PgTransaction transaction(connection, Durability::Durable);
    connection.Execute(kExpectedSchema);
    connection.Execute(kHeaderTable);
    MakeSchema(connection, 0);
    return Lines(connection.Run(kListSchema));
}

PgStatement CountStatement(const Origin& origin, int64_t now, const Budgets& budgets)
{
    return {Statements().countFailures,
            {origin.address, origin.network, Present(origin.wideNetwork), now - budgets.windowSeconds,
             int64_t{budgets.address}, int64_t{budgets.network}, int64_t{budgets.wideNetwork}}};
}

std::string SpentOf(const PgResult& counted, const Origin& origin, const Budgets& budgets)
{
    return SpentBudget(origin, budgets, counted.Integer(0, 0), counted.Integer(0, 1), counted.Integer(0, 2));
}

PgStatement RecordStatement(const Origin& origin, int64_t now, Outcome outcome, const std::optional<RomBytes>& identity)
{
    return {Statements().recordAttempt,
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

// A row of the server's answer as the stores' shared calls read it.
class ResultRow final : public SqlRow {
public:
    ResultRow(const PgResult& result, int row) : m_result(result), m_row(row) {}
    int64_t Integer(int column) const override { return m_result.Integer(m_row, column); }
    std::optional<int64_t> OptionalInteger(int column) const override
    {
        return m_result.OptionalInteger(m_row, column);
    }
    std::string Text(int column) const override { return m_result.Text(m_row, column); }
    std::optional<std::string> OptionalText(int column) const override { return m_result.OptionalText(m_row, column); }

private:
    const PgResult& m_result;
    int m_row;
};

void ReadRows(const PgResult& result, const RowReader& read)
{
    for (int row = 0; read && row < result.Rows(); ++row)
        read(ResultRow(result, row));
}

class Transaction final : public SqlTransaction {
public:
    Transaction(PgConnection& connection, Durability durability)
        : m_connection(connection), m_transaction(connection, durability)
    {
    }
    int64_t Run(const StoreStatement& statement, SqlValues parameters, const RowReader& read) override
    {
        const PgResult result = m_connection.Run(statement, parameters);
        ReadRows(result, read);
        return result.Affected();
    }
    void Commit() override { m_transaction.Commit(); }

private:
    PgConnection& m_connection;
    PgTransaction m_transaction;
};

} // namespace

InitResult PgSiteStore::Initialise(const std::string& address)
{
    PgConnection connection(address);
    PgTransaction transaction(connection, Durability::Durable);
    connection.Run(kLockInit);
    const PgResult found = connection.Run(kHeaderExists);
    InitResult result = InitResult::Created;
    if (found.Boolean(0, 0)) {
        const int64_t version = SchemaVersionOf(connection, false);
        if (version == kSchemaVersion)
            return InitResult::AlreadyThere;
        MakeSchema(connection, version);
        connection.Run(kSetVersion, {kSchemaVersion});
        result = InitResult::Migrated;
    } else {
        if (found.Integer(0, 1) != 0)
            throw StoreError(connection.Name() +
                             " is not a site database (it holds other tables; nothing was changed)");
        connection.Execute(kHeaderTable);
        MakeSchema(connection, 0);
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
    SchemaVersionOf(connection, true);
    if (use == StoreUse::LongLived) {
        for (const auto& [sql, parameters] : {std::pair{kBegin, 0},
                                              {kLockOrigin, 1},
                                              {Statements().countFailures, 7},
                                              {Statements().recordAttempt, 6},
                                              {kAdmit, 8},
                                              {kUnflushed, 0},
                                              {kCommit, 0},
                                              {Statements().findSession, 2}})
            connection.Prepared(sql, parameters);
    }
    return PgSiteStore(std::move(connection));
}

PgSiteStore::PgSiteStore(PgConnection connection) : SqlSiteStore(connection.Name()), m_connection(std::move(connection))
{
}

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
        m_connection.RunTogether(
            {{Statements().countToday, {day, origin.network, refused}}, {kUnflushed, {}}, {kCommit, {}}});
        return gate;
    }
    const auto braked = m_connection.RunTogether({{Statements().countToday, {day, spent, refused}},
                                                  {Statements().brake, {spent, now + budgets.windowSeconds, now}},
                                                  {kUnflushed, {}},
                                                  {kCommit, {}}});
    gate.networkNewlyExhausted = braked[1].Affected() > 0;
    return gate;
}

bool PgSiteStore::UseNonce(int64_t client, std::string_view nonce, int64_t now)
{
    return m_connection.Run(Statements().useNonce, {client, nonce, now, now - kNonceKeepSeconds}).Affected() > 0;
}

// A client is made once: should the connection be lost after its row was sent, its key (random,
// and the client's alone) tells on a new connection whether the row was made.
int64_t PgSiteStore::AddClient(std::string_view name, const ClientKey& key, int64_t now)
{
    const std::span<const uint8_t> bytes(key.data(), key.size());
    try {
        return m_connection.Run(Statements().addClient, {name, bytes, now}).Integer(0, 0);
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

PruneReport PgSiteStore::Prune(int64_t now)
{
    const int64_t before = m_connection.Run(kFootprint).Integer(0, 0);
    PruneReport total = TidyAll(now, [] {});
    // A plain vacuum makes the space reusable and gives back what is free at the tables' ends.
    m_connection.Execute(kVacuum);
    const int64_t after = m_connection.Run(kFootprint).Integer(0, 0);
    total.bytesFreed = std::max<int64_t>(0, before - after);
    return total;
}

std::vector<std::string> PgSiteStore::Check()
{
    std::vector<std::string> faults = SchemaFaults(ExpectedObjects(m_connection), Lines(m_connection.Run(kListSchema)));
    const std::vector<std::string> rows = RowFaults();
    faults.insert(faults.end(), rows.begin(), rows.end());
    return faults;
}

void PgSiteStore::Read(const StoreStatement& statement, SqlValues parameters, const RowReader& read)
{
    ReadRows(m_connection.Run(statement, parameters), read);
}

// A statement alone is a transaction of its own, flushed unless it is told otherwise.
int64_t PgSiteStore::Change(Durability durability, const StoreStatement& statement, SqlValues parameters)
{
    if (durability == Durability::Durable)
        return m_connection.Run(statement, parameters).Affected();
    Transaction transaction(m_connection, durability);
    const int64_t changed = transaction.Run(statement, parameters, {});
    transaction.Commit();
    return changed;
}

std::unique_ptr<SqlTransaction> PgSiteStore::Begin(Durability durability)
{
    return std::make_unique<Transaction>(m_connection, durability);
}

int64_t PgSiteStore::FoldAttempts(int64_t before, int64_t rows)
{
    return m_connection.Run(kFoldAttempts, {before, rows, kSecondsPerDay}).Integer(0, 0);
}
