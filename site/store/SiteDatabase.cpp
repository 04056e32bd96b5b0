#include "site/store/SiteDatabase.h"

#include "site/verifier/Identity.h"

#include <sys/stat.h>

#include <algorithm>

namespace {

// "EnSt" in the file header: how a file is known as ours before any table is read.
constexpr int64_t kApplicationId = 0x456E5374;
// Raised with every change to the tables, so a later release can migrate an older file.
constexpr int64_t kSchemaVersion = 1;

constexpr char kSchema[] = R"(
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
CREATE TABLE attempts(
    at INTEGER NOT NULL,
    address TEXT NOT NULL,
    identity TEXT,
    outcome TEXT NOT NULL
);
CREATE INDEX failures_by_address ON attempts(address, at) WHERE outcome <> 'accepted';
)";

constexpr char kReadHeader[] =
    "SELECT (SELECT application_id FROM pragma_application_id), (SELECT user_version FROM pragma_user_version),"
    " (SELECT count(*) FROM sqlite_schema)";
constexpr char kFindToken[] = "SELECT account, revoked_at FROM tokens WHERE identity = ?1";
constexpr char kEnroll[] = "INSERT INTO tokens(identity, account, enrolled_at) VALUES(?1, ?2, ?3)"
                           " ON CONFLICT(identity) DO UPDATE SET account = ?2, enrolled_at = ?3, revoked_at = NULL";
constexpr char kRevoke[] = "UPDATE tokens SET revoked_at = ?2 WHERE identity = ?1";
constexpr char kListTokens[] = "SELECT identity, account, revoked_at IS NOT NULL FROM tokens ORDER BY identity";
constexpr char kRecentAttempts[] = "SELECT at, address, identity, outcome FROM attempts ORDER BY rowid DESC LIMIT ?1";
constexpr char kCountFailures[] =
    "SELECT count(*) FROM (SELECT 1 FROM attempts WHERE address = ?1 AND at >= ?2 AND outcome <> 'accepted' LIMIT ?3)";
constexpr char kInsertAttempt[] = "INSERT INTO attempts(at, address, identity, outcome) VALUES(?1, ?2, ?3, ?4)";
constexpr char kUseString[] =
    "INSERT INTO used_strings(identity, seed, accepted_at) VALUES(?1, ?2, ?3) ON CONFLICT DO NOTHING";
constexpr char kOpenSession[] = "INSERT INTO sessions(token_hash, identity, opened_at) VALUES(?1, ?2, ?3)";
constexpr char kSessionAccount[] = "SELECT account FROM sessions JOIN tokens USING(identity)"
                                   " WHERE token_hash = ?1 AND opened_at >= ?2 AND revoked_at IS NULL";

struct Header {
    int64_t applicationId;
    int64_t schemaVersion;
    int64_t objects;
};

Header ReadHeader(SqliteConnection& connection)
{
    Query query(connection, kReadHeader);
    query.Step();
    return {query.Integer(0), query.Integer(1), query.Integer(2)};
}

void CheckIsOurs(const Header& header, const std::string& path)
{
    if (header.applicationId != kApplicationId)
        throw StoreError(path + " is not a site database");
    if (header.schemaVersion > kSchemaVersion)
        throw StoreError(path + " was made by a newer entravo-site (schema " + std::to_string(header.schemaVersion) +
                         ")");
    if (header.schemaVersion < kSchemaVersion)
        throw StoreError(path + " is an unfinished site database (schema " + std::to_string(header.schemaVersion) +
                         ")");
}

bool Exists(const std::string& path)
{
    struct stat info {};
    return stat(path.c_str(), &info) == 0;
}

// Each login page process opens the database for a single request, usually while no other
// process has it open. Such a first connection rebuilds the log's index by reading the whole
// log, and forgets which part of it was already copied into the database, so the log would
// never start over and every request would read more of it. Hence: no checkpoint when a
// process closes the database (that would cost two syncs per request), and a checkpoint that
// empties the log once it holds this many pages.
constexpr int kCheckpointPages = 64;

int CheckpointWhenLong(void*, sqlite3* database, const char* name, int pages)
{
    // Busy or not, the next commit tries again.
    if (pages < kCheckpointPages)
        return SQLITE_OK;
    // Never wait for readers to leave: while a truncating checkpoint waits it holds every writer
    // back, and under steady load those waits pile up into long queues. One try per commit.
    sqlite3_busy_handler(database, nullptr, nullptr);
    sqlite3_wal_checkpoint_v2(database, name, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    sqlite3_busy_handler(database, RetryAfterPause, nullptr);
    return SQLITE_OK;
}

void ApplyConnectionSettings(SqliteConnection& connection)
{
    // With write-ahead logging a commit needs no sync; it is durable once the log is
    // checkpointed, and a crash of the program never loses it.
    connection.Execute("PRAGMA synchronous = NORMAL");
    sqlite3_db_config(connection.Get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_wal_hook(connection.Get(), CheckpointWhenLong, nullptr);
}

} // namespace

bool IsValidAccount(std::string_view account)
{
    return !account.empty() && account.size() <= kMaxAccountLength &&
           std::none_of(account.begin(), account.end(), [](char c) {
               const auto byte = static_cast<unsigned char>(c);
               return byte < 0x20 || byte == 0x7F;
           });
}

InitResult SiteDatabase::Initialise(const std::string& path)
{
    SqliteConnection connection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    {
        ImmediateTransaction transaction(connection);
        const Header header = ReadHeader(connection);
        if (header.applicationId == kApplicationId) {
            CheckIsOurs(header, path);
            return InitResult::AlreadyThere;
        }
        if (header.applicationId != 0 || header.objects != 0)
            throw StoreError(path + " is not a site database (it holds other data; nothing was changed)");
        connection.Execute(kSchema);
        connection.Execute(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
        connection.Execute(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
        transaction.Commit();
    }
    // Lasts with the file: every later connection reads and writes through the log.
    connection.Execute("PRAGMA journal_mode = WAL");
    return InitResult::Created;
}

SiteDatabase SiteDatabase::Open(const std::string& path)
{
    if (!Exists(path))
        throw StoreError("no site database at " + path + " (make one with: entravo-site init)");
    SqliteConnection connection(path, SQLITE_OPEN_READWRITE);
    CheckIsOurs(ReadHeader(connection), path);
    ApplyConnectionSettings(connection);
    return SiteDatabase(std::move(connection));
}

SiteDatabase::SiteDatabase(SqliteConnection connection) : m_connection(std::move(connection)) {}

EnrollResult SiteDatabase::Enroll(const RomBytes& identity, std::string_view account, int64_t now)
{
    const std::string key = FormatIdentity(identity);
    ImmediateTransaction transaction(m_connection);
    {
        Query find(m_connection, kFindToken);
        find.Bind(1, key);
        if (find.Step() && !find.OptionalInteger(1))
            return EnrollResult::AlreadyEnrolled;
    }
    Query(m_connection, kEnroll).Bind(1, key).Bind(2, account).Bind(3, now).Run();
    transaction.Commit();
    return EnrollResult::Enrolled;
}

RevokeResult SiteDatabase::Revoke(const RomBytes& identity, int64_t now)
{
    const std::string key = FormatIdentity(identity);
    ImmediateTransaction transaction(m_connection);
    {
        Query find(m_connection, kFindToken);
        find.Bind(1, key);
        if (!find.Step())
            return RevokeResult::NotEnrolled;
        if (find.OptionalInteger(1))
            return RevokeResult::AlreadyRevoked;
    }
    Query(m_connection, kRevoke).Bind(1, key).Bind(2, now).Run();
    transaction.Commit();
    return RevokeResult::Revoked;
}

std::vector<TokenEntry> SiteDatabase::Tokens()
{
    std::vector<TokenEntry> tokens;
    Query query(m_connection, kListTokens);
    while (query.Step())
        tokens.push_back({query.Text(0), query.Text(1), query.Integer(2) != 0});
    return tokens;
}

std::vector<AttemptEntry> SiteDatabase::RecentAttempts(int count)
{
    std::vector<AttemptEntry> attempts;
    Query query(m_connection, kRecentAttempts);
    query.Bind(1, int64_t{count});
    while (query.Step())
        attempts.push_back({query.Integer(0), query.Text(1), query.OptionalText(2), query.Text(3)});
    return attempts;
}

int SiteDatabase::CountFailures(std::string_view address, int64_t since, int limit)
{
    Query query(m_connection, kCountFailures);
    query.Bind(1, address).Bind(2, since).Bind(3, int64_t{limit});
    query.Step();
    return static_cast<int>(query.Integer(0));
}

void SiteDatabase::Record(const Attempt& attempt)
{
    Query insert(m_connection, kInsertAttempt);
    insert.Bind(1, attempt.at).Bind(2, attempt.address).Bind(4, OutcomeName(attempt.outcome));
    if (attempt.identity)
        insert.Bind(3, FormatIdentity(*attempt.identity));
    else
        insert.BindNull(3);
    insert.Run();
}

Admission SiteDatabase::Admit(const Claim& claim)
{
    const std::string key = FormatIdentity(claim.identity);
    ImmediateTransaction transaction(m_connection);
    Admission admission;
    {
        Query find(m_connection, kFindToken);
        find.Bind(1, key);
        if (!find.Step())
            admission.outcome = Outcome::NotEnrolled;
        else if (find.OptionalInteger(1))
            admission.outcome = Outcome::Revoked;
        else
            admission = {Outcome::Accepted, find.Text(0)};
    }
    if (admission.outcome == Outcome::Accepted) {
        Query(m_connection, kUseString).Bind(1, key).Bind(2, int64_t{claim.seed}).Bind(3, claim.at).Run();
        if (sqlite3_changes(m_connection.Get()) == 0) {
            admission = {Outcome::AlreadyUsed, {}};
        } else {
            Query(m_connection, kOpenSession).Bind(1, claim.session).Bind(2, key).Bind(3, claim.at).Run();
        }
    }
    Record({claim.at, claim.address, claim.identity, admission.outcome});
    transaction.Commit();
    return admission;
}

std::optional<std::string> SiteDatabase::SessionAccount(const SessionHash& session, int64_t openedSince)
{
    Query query(m_connection, kSessionAccount);
    query.Bind(1, session).Bind(2, openedSince);
    if (!query.Step())
        return std::nullopt;
    return query.Text(0);
}
