#include "site/store/PgSiteStore.h"

#include "site/store/Replication.h"
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

// A string's whole check as one function of the server's, called once per offered string: one
// statement, so one round trip, in one transaction (the statement's own). Every budget of an
// origin lies within its widest network (an address within its network, an IPv6 /64 within its
// /48), so one lock on that network's key makes counting and charging one step for all of
// them, on every server; a function that may change rows takes a new snapshot for each of its
// statements, so the count after the lock sees every charge committed before it. A spent
// budget refuses the string whatever the search said: the refusal is counted for the day and the
// hour under the address or network whose budget is spent, and its brake set (newly only when it
// had run out). Otherwise a string that is not
// genuine is recorded as what it was; a genuine one is admitted: the token read under a share
// lock (a revocation waits for the admissions under way, then ends their sessions too), the
// string inserted into used_strings under the offer's mark only for an enrolled, unrevoked
// token, where of two servers offering it at once the second waits for the first one's commit
// and then inserts nothing, and the session opened and the sign-in recorded (in its row of the
// week) only for an inserted string; its attempt recorded with the verdict. Only what a genuine string brings is
// flushed before the answer: a refusal and a string that is not genuine turn synchronous_commit off for the
// transaction.
constexpr char kCheckFunction[] = "entravo_check_string";
constexpr char kCheckArguments[] =
    "from_address text, from_network text, from_wide_network text, window_start bigint, address_budget bigint,"
    " network_budget bigint, wide_budget bigint, checked_at bigint, today bigint, this_hour bigint, brake_until bigint,"
    " searched text, offered_identity text, offered_seed bigint, session_hash bytea, offer_mark bigint,"
    " sign_in_week bigint, sign_in_path text, sign_in_time text, OUT verdict text,"
    " OUT holder text, OUT spent text, OUT newly_braked boolean";

// The function's text with each outcome's name in braces: {accepted}, and what a sign-in adds
// to its row of the week in {add-sign-in}. A budget is spent when its
// last failure is there (OFFSET budget - 1; a budget is at least one), the widest first, each
// over an index of the failures alone ({failed} as the index says it); an IPv4 origin has no
// wide network.
constexpr char kCheckFunctionTemplate[] = R"(
DECLARE
    revoked bigint;
BEGIN
    PERFORM pg_advisory_xact_lock(hashtextextended(coalesce(from_wide_network, from_network), 0));
    IF from_wide_network IS NOT NULL THEN
        PERFORM FROM attempts WHERE wide_network = from_wide_network AND at >= window_start AND {failed}
            OFFSET wide_budget - 1 LIMIT 1;
        spent := CASE WHEN FOUND THEN from_wide_network END;
    END IF;
    IF spent IS NULL THEN
        PERFORM FROM attempts WHERE network = from_network AND at >= window_start AND {failed}
            OFFSET network_budget - 1 LIMIT 1;
        spent := CASE WHEN FOUND THEN from_network END;
    END IF;
    IF spent IS NULL THEN
        PERFORM FROM attempts WHERE address = from_address AND at >= window_start AND {failed}
            OFFSET address_budget - 1 LIMIT 1;
        spent := CASE WHEN FOUND THEN from_address END;
    END IF;
    newly_braked := false;
    IF spent IS NOT NULL THEN
        PERFORM set_config('synchronous_commit', 'off', true);
        verdict := {too-many-failures};
        INSERT INTO daily_counts(day, network, outcome, count) VALUES(today, spent, verdict, 1)
            ON CONFLICT(day, network, outcome) DO UPDATE SET count = daily_counts.count + 1;
        INSERT INTO hourly_counts(hour, outcome, count) VALUES(this_hour, verdict, 1)
            ON CONFLICT(hour, outcome) DO UPDATE SET count = hourly_counts.count + 1;
        INSERT INTO brakes(network, until) VALUES(spent, brake_until)
            ON CONFLICT(network) DO UPDATE SET until = excluded.until WHERE brakes.until < checked_at;
        newly_braked := FOUND;
        RETURN;
    END IF;
    IF searched IS NOT NULL THEN
        PERFORM set_config('synchronous_commit', 'off', true);
        verdict := searched;
    ELSE
        SELECT account, revoked_at INTO holder, revoked FROM tokens WHERE identity = offered_identity FOR SHARE;
        IF NOT FOUND THEN
            verdict := {not-enrolled};
        ELSIF revoked IS NOT NULL THEN
            verdict := {revoked};
        ELSE
            INSERT INTO used_strings(identity, seed, accepted_at, used_by)
                VALUES(offered_identity, offered_seed, checked_at, offer_mark) ON CONFLICT DO NOTHING;
            IF FOUND THEN
                verdict := {accepted};
                IF session_hash IS NOT NULL THEN
                    INSERT INTO sessions(token_hash, identity, opened_at)
                        VALUES(session_hash, offered_identity, checked_at);
                END IF;
                INSERT INTO sign_ins(week, identity, account, address, path, times, count)
                    VALUES(sign_in_week, offered_identity, holder, from_address, sign_in_path, sign_in_time, 1)
                    {add-sign-in};
            ELSE
                verdict := {already-used};
            END IF;
        END IF;
    END IF;
    INSERT INTO attempts(at, address, network, wide_network, identity, outcome)
        VALUES(checked_at, from_address, from_network, from_wide_network, offered_identity, verdict);
END
)";

std::string CheckFunctionBody()
{
    std::string body = kCheckFunctionTemplate;
    const auto fill = [&](const std::string& name, const std::string& text) {
        for (std::size_t at = body.find(name); at != std::string::npos; at = body.find(name, at + text.size()))
            body.replace(at, name.size(), text);
    };
    fill("{failed}", "outcome <> " + OutcomeLiteral(Outcome::Accepted));
    fill("{add-sign-in}", PostgresDialect(SignInUpsert()));
    for (const Outcome outcome :
         {Outcome::Accepted, Outcome::NotEnrolled, Outcome::Revoked, Outcome::AlreadyUsed, Outcome::TooManyFailures})
        fill("{" + std::string(OutcomeName(outcome)) + "}", OutcomeLiteral(outcome));
    return body;
}

// The function's text as the server keeps it (its prosrc), and the statement that makes it.
const std::string& CheckFunctionText()
{
    static const std::string body = CheckFunctionBody();
    return body;
}

const std::string& MakeCheckFunctionText()
{
    static const std::string text = "CREATE OR REPLACE FUNCTION " + std::string(kCheckFunction) + "(" +
                                    kCheckArguments + ") LANGUAGE plpgsql AS $body$" + CheckFunctionText() + "$body$";
    return text;
}

constexpr PgSql kCheck{
    "SELECT verdict, holder, spent, newly_braked FROM entravo_check_string($1::text, $2::text,"
    " $3::text, $4::bigint, $5::bigint, $6::bigint, $7::bigint, $8::bigint, $9::bigint, $10::bigint,"
    " $11::bigint, $12::text, $13::text, $14::bigint, $15::bytea, $16::bigint, $17::bigint, $18::text,"
    " $19::text)",
    Resend::Never};
// Whether the schema's function is this release's.
constexpr PgSql kCheckFunctionCurrent{"SELECT EXISTS (SELECT FROM pg_proc WHERE proname = $1 AND pronamespace ="
                                      " current_schema()::regnamespace AND prosrc = $2)",
                                      Resend::Allowed};

bool CheckFunctionCurrent(PgConnection& connection)
{
    return connection.Run(kCheckFunctionCurrent, {kCheckFunction, CheckFunctionText()}).Boolean(0, 0);
}

void MakeCheckFunction(PgConnection& connection)
{
    connection.Execute({MakeCheckFunctionText().c_str(), Resend::Never});
}

// Whose a used string is, and its token's account: asked after a lost connection.
constexpr PgSql kFindUse{"SELECT used_by, (SELECT account FROM tokens WHERE identity = $1) FROM used_strings"
                         " WHERE identity = $1 AND seed = $2",
                         Resend::Allowed};
// Removing and counting in one statement: of two servers tidying at once, each folds only the
// rows it removed itself, so no attempt is counted twice. Ids grow with time, so the oldest
// rows are the first ones: a round reads that many and no more, however many are recent. The
// rows are picked into an array so that the plan prepared once (which cannot know the limit)
// finds them by key rather than by reading the whole table. Counted per day ($3 seconds long),
// and those made since $4 per hour ($5 seconds) too.
constexpr PgSql kFoldAttempts{
    "WITH folded AS (DELETE FROM attempts WHERE id = ANY (ARRAY(SELECT id FROM attempts ORDER BY id LIMIT $2"
    " FOR UPDATE SKIP LOCKED)) AND at < $1 RETURNING at, network, outcome),"
    " counted AS (INSERT INTO daily_counts(day, network, outcome, count)"
    " SELECT at - at % $3, network, outcome, count(*) FROM folded GROUP BY 1, 2, 3"
    " ON CONFLICT(day, network, outcome) DO UPDATE SET count = daily_counts.count + excluded.count),"
    " hourly AS (INSERT INTO hourly_counts(hour, outcome, count)"
    " SELECT at - at % $5, outcome, count(*) FROM folded WHERE at >= $4 GROUP BY 1, 2"
    " ON CONFLICT(hour, outcome) DO UPDATE SET count = hourly_counts.count + excluded.count)"
    " SELECT count(*) FROM folded",
    Resend::Never};

constexpr PgSql kFindClient{"SELECT id FROM clients WHERE key = $1", Resend::Allowed};
constexpr PgSql kVacuum{
    "VACUUM attempts, sessions, daily_counts, hourly_counts, brakes, sign_ins, oidc_pending, oidc_codes,"
    " oidc_access_tokens",
    Resend::Allowed};
constexpr PgSql kFootprint{"SELECT coalesce(sum(pg_total_relation_size(oid)), 0) FROM pg_class WHERE relnamespace ="
                           " current_schema()::regnamespace AND relkind = 'r'",
                           Resend::Allowed};

// Every table, index and function of the current schema, one line each, to compare against the
// ones this release makes (a function by its arguments and a digest of its text).
constexpr PgSql kListSchema{
    "SELECT 'table ' || c.relname || ': ' || string_agg(a.attname || ' ' || format_type(a.atttypid, a.atttypmod) ||"
    " CASE WHEN a.attnotnull THEN ' not null' ELSE '' END, ', ' ORDER BY a.attnum) FROM pg_class c JOIN"
    " pg_attribute a ON a.attrelid = c.oid WHERE c.relnamespace = current_schema()::regnamespace AND c.relkind ="
    " 'r' AND a.attnum > 0 AND NOT a.attisdropped GROUP BY c.relname"
    " UNION ALL SELECT 'index ' || indexname || ': ' || replace(indexdef, schemaname || '.', '') FROM pg_indexes"
    " WHERE schemaname = current_schema()"
    " UNION ALL SELECT 'function ' || proname || '(' || pg_get_function_arguments(oid) || '): ' || md5(prosrc) FROM"
    " pg_proc WHERE pronamespace = current_schema()::regnamespace ORDER BY 1",
    Resend::Allowed};
// What check warns about: the standbys the server streams to (a role without pg_read_all_stats
// sees their names only), and synchronous_commit as this connection has it and as roles and
// databases are given it (ALTER ROLE, ALTER DATABASE), for this database or every one.
constexpr PgSql kStandbys{"SELECT application_name, sync_state FROM pg_stat_replication ORDER BY 1", Resend::Allowed};
constexpr PgSql kCommitHere{"SELECT current_setting('synchronous_standby_names'), current_user,"
                            " current_setting('synchronous_commit')",
                            Resend::Allowed};
constexpr PgSql kCommitGiven{
    "SELECT CASE WHEN s.setrole = 0 THEN 'every role' ELSE 'role ' || r.rolname END || CASE WHEN s.setdatabase = 0"
    " THEN ' in every database' ELSE ' in database ' || current_database() END, split_part(c, '=', 2)"
    " FROM pg_db_role_setting s LEFT JOIN pg_roles r ON r.oid = s.setrole, unnest(s.setconfig) AS c"
    " WHERE s.setdatabase IN (0, (SELECT oid FROM pg_database WHERE datname = current_database()))"
    " AND c LIKE 'synchronous_commit=%' ORDER BY 1",
    Resend::Allowed};

// A copy's reads, all of one moment; sent as the transaction's first statement.
constexpr PgSql kReadOneMoment{"SET TRANSACTION ISOLATION LEVEL REPEATABLE READ, READ ONLY", Resend::Never};
// Rows copied in with their ids leave an identity column's sequence where it was: set it to
// the greatest id, so that the next row takes the one after (or the first, in an empty table).
constexpr PgSql kIdentitiesAfterCopy{
    "DO $$DECLARE c record; greatest_id bigint; BEGIN"
    " FOR c IN SELECT table_name, column_name FROM information_schema.columns"
    " WHERE table_schema = current_schema() AND is_identity = 'YES' LOOP"
    " EXECUTE format('SELECT max(%I) FROM %I', c.column_name, c.table_name) INTO greatest_id;"
    " PERFORM setval(pg_get_serial_sequence(format('%I', c.table_name), c.column_name), coalesce(greatest_id, 1),"
    " greatest_id IS NOT NULL);"
    " END LOOP; END$$",
    Resend::Never};

// The schema version of a database of ours that this release can work with.
int64_t SchemaVersionOf(PgConnection& connection, bool mustBeCurrent)
{
    const PgResult header = connection.Run(kReadHeader);
    const bool one = header.Rows() == 1;
    const int64_t version = one ? header.Integer(0, 1) : 0;
    CheckHeader(connection.Name(), one ? header.Integer(0, 0) : 0, version, mustBeCurrent);
    return version;
}

// The outcomes a check ends with, by the names the function gives them.
Outcome OutcomeNamed(const std::string& name)
{
    for (const Outcome outcome : {Outcome::Accepted, Outcome::Malformed, Outcome::NotGenuine, Outcome::NotEnrolled,
                                  Outcome::Revoked, Outcome::AlreadyUsed, Outcome::TooManyFailures}) {
        if (OutcomeName(outcome) == name)
            return outcome;
    }
    throw StoreError("unexpected outcome of a check: " + name);
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
    MakeCheckFunction(connection);
    return Lines(connection.Run(kListSchema));
}

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
    int Columns() const override { return m_result.Columns(); }
    SqlValue Value(int column) const override { return m_result.Value(m_row, column); }

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

// The check's function is the PostgreSQL store's own part of the schema: made with the tables,
// and made again by the first init of a release that writes it otherwise.
InitResult PgSiteStore::Initialise(const std::string& address)
{
    PgConnection connection(address);
    PgTransaction transaction(connection, Durability::Durable);
    connection.Run(kLockInit);
    const PgResult found = connection.Run(kHeaderExists);
    InitResult result = InitResult::Created;
    if (found.Boolean(0, 0)) {
        const int64_t version = SchemaVersionOf(connection, false);
        result = InitResult::AlreadyThere;
        if (version != kSchemaVersion) {
            MakeSchema(connection, version);
            connection.Run(kSetVersion, {kSchemaVersion});
            result = InitResult::Migrated;
        }
    } else {
        if (found.Integer(0, 1) != 0)
            throw StoreError(connection.Name() +
                             " is not a site database (it holds other tables; nothing was changed)");
        connection.Execute(kHeaderTable);
        MakeSchema(connection, 0);
        connection.Run(kWriteHeader, {kApplicationId, kSchemaVersion});
    }
    if (!CheckFunctionCurrent(connection)) {
        MakeCheckFunction(connection);
        if (result == InitResult::AlreadyThere)
            result = InitResult::Migrated;
    }
    if (result == InitResult::AlreadyThere)
        return result;
    transaction.Commit();
    return result;
}

PgSiteStore PgSiteStore::Open(const std::string& address, StoreUse use)
{
    PgConnection connection(address);
    if (!connection.Run(kHeaderExists).Boolean(0, 0))
        throw StoreError(connection.Name() + " is not a site database (make one with: entravo-site init)");
    SchemaVersionOf(connection, true);
    if (!CheckFunctionCurrent(connection))
        throw StoreError(connection.Name() + " lacks this release's " + kCheckFunction +
                         " (bring it up to date with: entravo-site init)");
    if (use == StoreUse::LongLived) {
        connection.Prepared(kCheck, 19);
        connection.Prepared(Statements().findSession, 2);
    }
    return PgSiteStore(std::move(connection));
}

PgSiteStore::PgSiteStore(PgConnection connection) : SqlSiteStore(connection.Name()), m_connection(std::move(connection))
{
}

// The search needs only the string, so it runs first, outside the transaction, and the store is
// sent its verdict: the whole check is then one statement, one round trip. A spent budget
// refuses the string all the same, so a refused request costs its search. A connection lost
// during the statement may have left its commit made: for a genuine string, the string itself
// is asked (AdmissionAfterLoss); any other verdict leaves nothing a visitor could miss.
StringCheck PgSiteStore::CheckString(const Origin& origin, int64_t now, const Budgets& budgets, const Search& search,
                                     const Offer& offer)
{
    const Verification verification = search();
    const bool genuine = verification.verdict == Verdict::Genuine;
    // NULL for a genuine string, else the outcome it is recorded with.
    const SqlValue searched =
        genuine ? SqlValue(std::nullopt)
                : SqlValue(OutcomeName(verification.verdict == Verdict::Malformed ? Outcome::Malformed
                                                                                  : Outcome::NotGenuine));
    StringCheck check;
    try {
        const PgResult checked = m_connection.Run(
            kCheck, {origin.address, origin.network, Present(origin.wideNetwork), now - budgets.windowSeconds,
                     int64_t{budgets.address}, int64_t{budgets.network}, int64_t{budgets.wideNetwork}, now,
                     now - now % kSecondsPerDay, now - now % kSecondsPerHour, now + budgets.windowSeconds, searched,
                     IdentityText(verification.identity), int64_t{verification.seed},
                     SessionBytes(offer.opensSession ? std::optional(offer.mark) : std::nullopt), MarkOf(offer.mark),
                     SignInWeek(now), SignInPathWord(offer.path), SignInTimeText(now)});
        check.outcome = OutcomeNamed(checked.Text(0, 0));
        if (check.outcome == Outcome::TooManyFailures) {
            check.gate.exhausted = checked.Text(0, 2);
            check.gate.network = check.gate.exhausted != origin.address;
            check.gate.newlyExhausted = checked.Boolean(0, 3);
            return check;
        }
        check.account = check.outcome == Outcome::Accepted ? checked.Text(0, 1) : std::string();
    } catch (const StoreError& error) {
        if (!genuine || !m_connection.AnswerLost())
            throw;
        const Admission admission = AdmissionAfterLoss(*verification.identity, verification.seed, offer, error);
        check.outcome = admission.outcome;
        check.account = admission.account;
    }
    check.identity = verification.identity;
    return check;
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

std::vector<std::string> PgSiteStore::Warnings()
{
    Replication replication;
    const PgResult standbys = m_connection.Run(kStandbys);
    for (int row = 0; row < standbys.Rows(); ++row)
        replication.standbys.push_back({standbys.Text(row, 0), standbys.OptionalText(row, 1)});
    const PgResult here = m_connection.Run(kCommitHere);
    replication.synchronousStandbyNames = here.Text(0, 0);
    replication.commitSettings.push_back({"this connection (role " + here.Text(0, 1) + ")", here.Text(0, 2)});
    const PgResult given = m_connection.Run(kCommitGiven);
    for (int row = 0; row < given.Rows(); ++row)
        replication.commitSettings.push_back({given.Text(row, 0), given.Text(row, 1)});
    return ReplicationWarnings(replication);
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

std::unique_ptr<SqlTransaction> PgSiteStore::BeginReading()
{
    auto transaction = std::make_unique<Transaction>(m_connection, Durability::Durable);
    m_connection.Execute(kReadOneMoment);
    return transaction;
}

void PgSiteStore::CopiedIn()
{
    m_connection.Execute(kIdentitiesAfterCopy);
}

int64_t PgSiteStore::FoldAttempts(int64_t before, int64_t hourlySince, int64_t rows)
{
    return m_connection.Run(kFoldAttempts, {before, rows, kSecondsPerDay, hourlySince, kSecondsPerHour}).Integer(0, 0);
}

void PgSiteStore::ReadAside(const StoreStatement& statement, SqlValues parameters, const RowReader& read)
{
    Read(statement, parameters, read);
}

int64_t PgSiteStore::Footprint()
{
    return m_connection.Run(kFootprint).Integer(0, 0);
}
