#include "site/store/SqliteSiteStore.h"

#include "site/store/StoreRules.h"
#include "site/verifier/Identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <algorithm>
#include <span>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace {

// Attempts are kept one by one only while the budgets and the operator's summary need them;
// then they become counts per day and network. A charged attempt is 'pending' until settled,
// and counts as a failure meanwhile, so a burst cannot slip through while it is verified.
constexpr char kFirstTables[] = R"(
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
)";
constexpr char kSecondTables[] = R"(
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
CREATE INDEX failures_by_address ON attempts(address, at) WHERE outcome <> 'accepted';
CREATE INDEX failures_by_network ON attempts(network, at) WHERE outcome <> 'accepted';
CREATE INDEX failures_by_wide_network ON attempts(wide_network, at) WHERE outcome <> 'accepted';
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
)";
// Schema 3: the mark of the request that used a string up (Offer), as the PostgreSQL store keeps
// it. Made by the same statement for a new file and an older one, so both read the same.
constexpr char kThirdTables[] = "ALTER TABLE used_strings ADD COLUMN used_by INTEGER";

// Schema 1 kept every attempt with its address only; its attempts become today's view of the
// new table (network = address: the old rows cannot be split any better).
constexpr char kSetAsideFirstAttempts[] = R"(
ALTER TABLE attempts RENAME TO attempts_1;
DROP INDEX failures_by_address;
)";
constexpr char kMoveFirstAttempts[] = R"(
INSERT INTO attempts(at, address, network, identity, outcome)
    SELECT at, address, address, identity, outcome FROM attempts_1 ORDER BY rowid;
DROP TABLE attempts_1;
)";

constexpr char kReadHeader[] =
    "SELECT (SELECT application_id FROM pragma_application_id), (SELECT user_version FROM pragma_user_version),"
    " (SELECT count(*) FROM sqlite_schema)";
constexpr char kFindToken[] = "SELECT account, revoked_at FROM tokens WHERE identity = ?1";
constexpr char kEnroll[] = "INSERT INTO tokens(identity, account, enrolled_at) VALUES(?1, ?2, ?3)"
                           " ON CONFLICT(identity) DO UPDATE SET account = ?2, enrolled_at = ?3, revoked_at = NULL";
constexpr char kRevoke[] = "UPDATE tokens SET revoked_at = ?2 WHERE identity = ?1";
constexpr char kEndTokenSessions[] = "DELETE FROM sessions WHERE identity = ?1";
constexpr char kListTokens[] = "SELECT identity, account, revoked_at IS NOT NULL FROM tokens ORDER BY identity";
constexpr char kRecentAttempts[] = "SELECT at, address, identity, outcome FROM attempts ORDER BY id DESC LIMIT ?1";
constexpr char kFailuresByNetwork[] = "SELECT network, count(*), count(DISTINCT address), max(at) FROM attempts"
                                      " WHERE at >= ?1 AND outcome <> 'accepted' GROUP BY network ORDER BY 2 DESC, 1";
constexpr char kDailyCounts[] =
    "SELECT day, network, outcome, count FROM daily_counts WHERE day >= ?1 ORDER BY day DESC, count DESC, network";

// Each budget is counted only as far as it reaches, over an index of the failures alone.
constexpr char kCountFailures[] =
    "SELECT (SELECT count(*) FROM (SELECT 1 FROM attempts WHERE address = ?1 AND at >= ?4 AND outcome <> 'accepted'"
    " LIMIT ?5)), (SELECT count(*) FROM (SELECT 1 FROM attempts WHERE network = ?2 AND at >= ?4 AND outcome <>"
    " 'accepted' LIMIT ?6)), (SELECT count(*) FROM (SELECT 1 FROM attempts WHERE wide_network = ?3 AND at >= ?4 AND"
    " outcome <> 'accepted' LIMIT ?7))";
constexpr char kRecordAttempt[] = "INSERT INTO attempts(at, address, network, wide_network, outcome, identity)"
                                  " VALUES(?1, ?2, ?3, ?4, ?5, ?6)";
constexpr char kCountToday[] = "INSERT INTO daily_counts(day, network, outcome, count) VALUES(?1, ?2, ?3, 1)"
                               " ON CONFLICT DO UPDATE SET count = count + 1";
// A row only when the network's brake is new or has run out: the first refusal of a window.
constexpr char kBrake[] = "INSERT INTO brakes(network, until) VALUES(?1, ?2) ON CONFLICT(network)"
                          " DO UPDATE SET until = excluded.until WHERE brakes.until < ?3";

constexpr char kUseString[] = "INSERT INTO used_strings(identity, seed, accepted_at, used_by) VALUES(?1, ?2, ?3, ?4)"
                              " ON CONFLICT DO NOTHING";
constexpr char kOpenSession[] = "INSERT INTO sessions(token_hash, identity, opened_at) VALUES(?1, ?2, ?3)";
constexpr char kFindSession[] = "SELECT account, identity FROM sessions JOIN tokens USING(identity)"
                                " WHERE token_hash = ?1 AND opened_at >= ?2 AND revoked_at IS NULL";
constexpr char kEndSession[] = "DELETE FROM sessions WHERE token_hash = ?1";
constexpr char kClientKey[] = "SELECT key FROM clients WHERE id = ?1";
// A row only when the nonce is new or was last seen long enough ago.
constexpr char kUseNonce[] = "INSERT INTO nonces(client, nonce, at) VALUES(?1, ?2, ?3) ON CONFLICT"
                             " DO UPDATE SET at = excluded.at WHERE nonces.at < ?4";
constexpr char kAddClient[] = "INSERT INTO clients(name, key, added_at) VALUES(?1, ?2, ?3)";
constexpr char kListClients[] = "SELECT id, name, added_at FROM clients ORDER BY id";
constexpr char kRemoveClient[] = "DELETE FROM clients WHERE id = ?1";
constexpr const char* kForgetToken[] = {
    "DELETE FROM sessions WHERE identity = ?1", "DELETE FROM used_strings WHERE identity = ?1",
    "DELETE FROM attempts WHERE identity = ?1", "DELETE FROM tokens WHERE identity = ?1"};
constexpr char kDropOldNonces[] = "DELETE FROM nonces WHERE at < ?1";

// The oldest rows first, a bounded number per round (ids grow with time).
constexpr char kFoldAttempts[] =
    "INSERT INTO daily_counts(day, network, outcome, count)"
    " SELECT at - at % 86400, network, outcome, count(*) FROM attempts"
    " WHERE id IN (SELECT id FROM attempts ORDER BY id LIMIT ?2) AND at < ?1 GROUP BY 1, 2, 3"
    " ON CONFLICT DO UPDATE SET count = count + excluded.count";
constexpr char kDropFolded[] =
    "DELETE FROM attempts WHERE id IN (SELECT id FROM attempts ORDER BY id LIMIT ?2) AND at < ?1";
constexpr char kEndOldSessions[] =
    "DELETE FROM sessions WHERE token_hash IN"
    " (SELECT token_hash FROM sessions WHERE opened_at < ?1 ORDER BY opened_at LIMIT ?2)";
constexpr char kDropOldBrakes[] = "DELETE FROM brakes WHERE until < ?1";
constexpr char kDropOldDays[] = "DELETE FROM daily_counts WHERE day < ?1";

// Space set aside beside the database, given back by a prune so that it can work on a full
// disk: deleting rows writes to the log before anything is freed.
constexpr uintmax_t kReserveBytes = 1 << 20;

struct Header {
    int64_t applicationId;
    int64_t schemaVersion;
    int64_t objects;
};

Header ReadHeader(SqliteConnection& connection)
{
    SqliteQuery query(connection, kReadHeader);
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
    if (header.schemaVersion == 0)
        throw StoreError(path + " is an unfinished site database (schema 0)");
}

void CheckIsCurrent(const Header& header, const std::string& path)
{
    CheckIsOurs(header, path);
    if (header.schemaVersion < kSchemaVersion)
        throw StoreError(path + " is a site database of an older release (schema " +
                         std::to_string(header.schemaVersion) + "); bring it up to date with: entravo-site init");
}

// A missing file and a folder that cannot be entered look alike to SQLite; not to the operator.
void CheckReachable(const std::string& path)
{
    struct stat info {};
    if (stat(path.c_str(), &info) == 0)
        return;
    if (errno == EACCES)
        throw StoreError("cannot enter the folder of " + path +
                         " (permission denied: the web server's user needs to enter and write it)");
    throw StoreError("no site database at " + path + " (make one with: entravo-site init)");
}

// The database is the web server's user's to write and its group's to read, no one else's.
// SQLite makes the log and shared-memory files beside it with its mode.
constexpr mode_t kDatabaseMode = 0640;

// A new database file starts with that mode, whatever the process's umask allows.
void MakeClosedFile(const std::string& path)
{
    const int file = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, kDatabaseMode);
    if (file >= 0)
        close(file);
}

// An older database (made 0644 by earlier releases), its log and shared memory narrowed to it.
void NarrowMode(const std::string& path)
{
    for (const std::string& file : {path, path + "-wal", path + "-shm"}) {
        struct stat info {};
        if (stat(file.c_str(), &info) != 0 || (info.st_mode & 0777 & ~kDatabaseMode) == 0)
            continue;
        if (chmod(file.c_str(), info.st_mode & kDatabaseMode) != 0)
            throw StoreError("cannot close " + file + " to others: " + std::strerror(errno));
    }
}

std::string ReservePath(const std::string& path)
{
    return path + "-reserve";
}

// Set aside only while the disk has plenty of room: a prune on a full disk gives the reserve
// back, and must not take it again before the disk has room to spare.
constexpr uintmax_t kRoomForReserve = 8 * kReserveBytes;

uintmax_t RoomBeside(const std::string& path)
{
    struct statvfs info {};
    const std::string folder = std::filesystem::path(path).parent_path().string();
    if (statvfs(folder.empty() ? "." : folder.c_str(), &info) != 0)
        return 0;
    return uintmax_t{info.f_bavail} * info.f_frsize;
}

// Best effort: with no room for the reserve there is nothing to set aside.
void MakeReserve(const std::string& path)
{
    const std::string reserve = ReservePath(path);
    if (std::filesystem::exists(reserve) || RoomBeside(path) < kRoomForReserve)
        return;
    const int file = open(reserve.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600);
    if (file < 0)
        return;
    const bool made = posix_fallocate(file, 0, static_cast<off_t>(kReserveBytes)) == 0;
    close(file);
    if (!made)
        unlink(reserve.c_str());
}

std::uintmax_t SizeOf(const std::string& path)
{
    std::error_code error;
    const auto size = std::filesystem::file_size(path, error);
    return error ? 0 : size;
}

std::uintmax_t FootprintOf(const SqliteConnection& connection)
{
    return SizeOf(connection.FilePath()) + SizeOf(connection.LogPath()) + SizeOf(ReservePath(connection.FilePath()));
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

void ApplyConnectionSettings(SqliteConnection& connection, StoreUse use)
{
    // With write-ahead logging a commit needs no sync; it is durable once the log is
    // checkpointed, and a crash of the program never loses it. What a power cut must not undo
    // (an acceptance, an enrolment, a revocation) is committed durably (see the README).
    connection.Execute("PRAGMA synchronous = NORMAL");
    connection.Execute("PRAGMA cell_size_check = ON");
    // A long-lived process keeps its index of the log: SQLite's own checkpoints, which never
    // wait and are a few times rarer, suit it.
    if (use == StoreUse::LongLived)
        return;
    sqlite3_db_config(connection.Get(), SQLITE_DBCONFIG_NO_CKPT_ON_CLOSE, 1, nullptr);
    sqlite3_wal_hook(connection.Get(), CheckpointWhenLong, nullptr);
}

int64_t FreePages(SqliteConnection& connection)
{
    SqliteQuery count(connection, "PRAGMA freelist_count");
    count.Step();
    return count.Integer(0);
}

void SetHeader(SqliteConnection& connection)
{
    connection.Execute(("PRAGMA application_id = " + std::to_string(kApplicationId)).c_str());
    connection.Execute(("PRAGMA user_version = " + std::to_string(kSchemaVersion)).c_str());
}

std::optional<std::string> IdentityText(const std::optional<RomBytes>& identity)
{
    return identity ? std::optional(FormatIdentity(*identity)) : std::nullopt;
}

SqliteQuery& BindOptional(SqliteQuery& query, int index, const std::optional<std::string>& text)
{
    return text ? query.Bind(index, *text) : query.BindNull(index);
}

SqliteQuery& BindOptional(SqliteQuery& query, int index, const std::string& text)
{
    return text.empty() ? query.BindNull(index) : query.Bind(index, text);
}

// Every object of the schema, as this release makes it, to compare a file's against.
using SchemaObjects = std::vector<std::string>;
constexpr char kListSchema[] =
    "SELECT type || ' ' || name || ' ' || coalesce(sql, '') FROM sqlite_schema ORDER BY type, name";

SchemaObjects ObjectsOf(SqliteConnection& connection)
{
    SchemaObjects objects;
    SqliteQuery query(connection, kListSchema);
    while (query.Step())
        objects.push_back(query.Text(0));
    return objects;
}

SchemaObjects ExpectedObjects()
{
    SqliteConnection fresh(":memory:", SQLITE_OPEN_READWRITE);
    fresh.Execute(kFirstTables);
    fresh.Execute(kSecondTables);
    fresh.Execute(kThirdTables);
    return ObjectsOf(fresh);
}

// The checks of rows written in SQLite's dialect, besides the portable ones.
constexpr const char* kRowChecks[] = {
    "SELECT 'token ' || quote(identity) || ' is not 16 upper-case hexadecimal digits' FROM tokens WHERE"
    " length(identity) <> 16 OR identity GLOB '*[^0-9A-F]*'",
    "SELECT 'token ' || identity || ' has no account' FROM tokens WHERE typeof(account) <> 'text' OR account = ''",
    "SELECT 'used string of ' || quote(identity) || ' has a seed out of range: ' || quote(seed) FROM used_strings"
    " WHERE typeof(seed) <> 'integer' OR seed < 0 OR seed > 2147483647",
    "SELECT 'session of ' || identity || ' has a damaged token hash' FROM sessions WHERE typeof(token_hash) <> 'blob'"
    " OR length(token_hash) <> 32",
    "SELECT 'client ' || id || ' has a damaged key' FROM clients WHERE typeof(key) <> 'blob' OR length(key) <> 32",
    "SELECT 'attempt ' || id || ' has an unknown outcome ' || quote(outcome) FROM attempts WHERE outcome NOT IN"
    " ('accepted', 'malformed', 'not-genuine', 'not-enrolled', 'revoked', 'already-used', 'too-many-failures',"
    " 'pending')",
};

// Every row of a query with at most one parameter, each read into a Row.
template <typename Row, typename Read>
std::vector<Row> Rows(SqliteConnection& connection, const char* sql, std::optional<int64_t> parameter, Read read)
{
    std::vector<Row> rows;
    SqliteQuery query(connection, sql);
    if (parameter)
        query.Bind(1, *parameter);
    while (query.Step())
        rows.push_back(read(query));
    return rows;
}

// After a failed sync. A checkpoint through a new connection copies every page of the log into
// the database file, syncs that file and empties the log: its success proves that everything
// committed is on the disk, whatever became of the log's own pages. Its descriptors are new,
// so the failure the old ones met says nothing about them.
void WriteLogIntoFile(SqliteConnection& connection)
{
    const int code = sqlite3_wal_checkpoint_v2(connection.Get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    if (code != SQLITE_OK)
        connection.Fail(code);
}

enum class Opening { Plain, AfterFailedSync };

std::shared_ptr<SqliteConnection> Connect(const std::string& path, StoreUse use, Opening opening = Opening::Plain)
{
    CheckReachable(path);
    auto connection = std::make_shared<SqliteConnection>(path, SQLITE_OPEN_READWRITE);
    CheckIsCurrent(ReadHeader(*connection), path);
    ApplyConnectionSettings(*connection, use);
    if (opening == Opening::AfterFailedSync)
        WriteLogIntoFile(*connection);
    return connection;
}

// The one connection of this process to path for long-lived use, made by the first opener,
// and made again (the log written into the file first) by the first opener after its sync
// failed. One connection keeps its cache of pages warm: SQLite empties a connection's cache
// whenever another one has written, so connections of their own would each read every page
// afresh. Keyed by the path as given; two spellings of one file only share less.
std::shared_ptr<SqliteConnection> SharedConnection(const std::string& path)
{
    static std::mutex registryLock;
    static std::map<std::string, std::weak_ptr<SqliteConnection>> registry;
    const std::lock_guard lock(registryLock);
    std::erase_if(registry, [](const auto& entry) { return entry.second.expired(); });
    std::weak_ptr<SqliteConnection>& entry = registry[path];
    std::shared_ptr<SqliteConnection> connection = entry.lock();
    if (!connection || connection->Failed()) {
        connection = Connect(path, StoreUse::LongLived, connection ? Opening::AfterFailedSync : Opening::Plain);
        entry = connection;
    }
    return connection;
}

std::shared_ptr<SqliteConnection> Opened(const std::string& path, StoreUse use, Opening opening = Opening::Plain)
{
    return use == StoreUse::LongLived ? SharedConnection(path) : Connect(path, use, opening);
}

} // namespace

InitResult SqliteSiteStore::Initialise(const std::string& path)
{
    MakeClosedFile(path);
    SqliteConnection connection(path, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE);
    // Lets a prune give freed pages back to the file system. It takes effect only in a file
    // without tables, and only outside a transaction; elsewhere it changes nothing.
    connection.Execute("PRAGMA auto_vacuum = INCREMENTAL");
    InitResult result = InitResult::Created;
    bool firstRelease = false;
    {
        SqliteTransaction transaction(connection);
        const Header header = ReadHeader(connection);
        if (header.applicationId == kApplicationId) {
            CheckIsOurs(header, path);
            if (header.schemaVersion == kSchemaVersion) {
                NarrowMode(connection.FilePath());
                MakeReserve(connection.FilePath());
                return InitResult::AlreadyThere;
            }
            firstRelease = header.schemaVersion == 1;
            if (firstRelease) {
                connection.Execute(kSetAsideFirstAttempts);
                connection.Execute(kSecondTables);
                connection.Execute(kMoveFirstAttempts);
            }
            connection.Execute(kThirdTables);
            result = InitResult::Migrated;
        } else {
            if (header.applicationId != 0 || header.objects != 0)
                throw StoreError(path + " is not a site database (it holds other data; nothing was changed)");
            connection.Execute(kFirstTables);
            connection.Execute(kSecondTables);
            connection.Execute(kThirdTables);
        }
        SetHeader(connection);
        transaction.Commit();
    }
    if (firstRelease) {
        // Files of the first release were made without it; setting it takes a rebuild.
        connection.Execute("PRAGMA auto_vacuum = INCREMENTAL");
        connection.Execute("VACUUM");
    }
    // Lasts with the file: every later connection reads and writes through the log.
    connection.Execute("PRAGMA journal_mode = WAL");
    NarrowMode(connection.FilePath());
    MakeReserve(connection.FilePath());
    return result;
}

SqliteSiteStore SqliteSiteStore::Open(const std::string& path, StoreUse use)
{
    return SqliteSiteStore(Opened(path, use), use);
}

SqliteSiteStore::SqliteSiteStore(std::shared_ptr<SqliteConnection> connection, StoreUse use)
    : m_connection(std::move(connection)), m_use(use)
{
}

SqliteConnection& SqliteSiteStore::Live()
{
    if (m_connection->Failed())
        m_connection = Opened(m_connection->Path(), m_use, Opening::AfterFailedSync);
    return *m_connection;
}

// All in one transaction, searched while it holds the write lock: the search takes a few tens
// of microseconds, less than a second commit would. The transaction is shared with the other
// threads' checks of the moment.
StringCheck SqliteSiteStore::CheckString(const Origin& origin, int64_t now, const Budgets& budgets,
                                         const Search& search, const Offer& offer)
{
    for (bool again = false;; again = true) {
        SqliteConnection& connection = Live();
        StringCheck check;
        try {
            const auto unsynced = connection.InSharedTransaction([&] {
                check = CheckWithin(origin, now, budgets, search, offer);
                return check.outcome == Outcome::Accepted;
            });
            if (unsynced)
                OpenAfresh(check, *unsynced);
            return check;
        } catch (const StoreError&) {
            // Refused because another check's sync failed meanwhile, it kept nothing: it runs
            // once more, on the connection opened afresh.
            if (again || !connection.Failed())
                throw;
        }
    }
}

// The check was committed but its sync failed: its verdict stands. Before it goes out, the
// store is opened afresh, whose checkpoint proves the commit on the disk; should that fail, the
// verdict goes out all the same, and the next request tries again.
void SqliteSiteStore::OpenAfresh(StringCheck& check, const std::string& unsynced)
{
    check.fault = unsynced;
    try {
        m_connection = Opened(m_connection->Path(), m_use, Opening::AfterFailedSync);
        check.fault += "; then the store was opened afresh and its log written into the database file and synced: "
                       "what was committed is on the disk";
    } catch (const StoreError& error) {
        check.fault += std::string("; opening the store afresh failed: ") + error.what();
        check.storeFailed = true;
    }
}

// The attempt is recorded with its outcome, after the admission that decides it.
StringCheck SqliteSiteStore::CheckWithin(const Origin& origin, int64_t now, const Budgets& budgets,
                                         const Search& search, const Offer& offer)
{
    return CheckOffered([&] { return Gauge(origin, now, budgets); }, search,
                        [&](Outcome outcome, const std::optional<RomBytes>& identity) {
                            RecordAttempt(origin, now, outcome, IdentityText(identity));
                        },
                        [&](const Verification& genuine) {
                            const std::string key = FormatIdentity(*genuine.identity);
                            const Admission admission = AdmitString(key, genuine.seed, now, offer);
                            RecordAttempt(origin, now, admission.outcome, key);
                            return admission;
                        });
}

Gate SqliteSiteStore::Gauge(const Origin& origin, int64_t now, const Budgets& budgets)
{
    Gate gate;
    {
        SqliteQuery count(*m_connection, kCountFailures);
        count.Bind(1, origin.address).Bind(2, origin.network).Bind(4, now - budgets.windowSeconds);
        BindOptional(count, 3, origin.wideNetwork);
        count.Bind(5, int64_t{budgets.address}).Bind(6, int64_t{budgets.network}).Bind(7, int64_t{budgets.wideNetwork});
        count.Step();
        gate.exhausted = SpentBudget(origin, budgets, count.Integer(0), count.Integer(1), count.Integer(2));
    }
    if (gate.exhausted.empty())
        return gate;
    const bool network = gate.exhausted != origin.address;
    SqliteQuery(*m_connection, kCountToday)
        .Bind(1, now - now % kSecondsPerDay)
        .Bind(2, network ? gate.exhausted : origin.network)
        .Bind(3, OutcomeName(Outcome::TooManyFailures))
        .Run();
    if (network) {
        SqliteQuery(*m_connection, kBrake)
            .Bind(1, gate.exhausted)
            .Bind(2, now + budgets.windowSeconds)
            .Bind(3, now)
            .Run();
        gate.networkNewlyExhausted = sqlite3_changes(m_connection->Get()) > 0;
    }
    return gate;
}

void SqliteSiteStore::RecordAttempt(const Origin& origin, int64_t now, Outcome outcome,
                                    const std::optional<std::string>& identity)
{
    SqliteQuery record(*m_connection, kRecordAttempt);
    record.Bind(1, now).Bind(2, origin.address).Bind(3, origin.network);
    BindOptional(record, 4, origin.wideNetwork);
    record.Bind(5, OutcomeName(outcome));
    BindOptional(record, 6, identity).Run();
}

Admission SqliteSiteStore::AdmitString(const std::string& identity, uint32_t seed, int64_t at, const Offer& offer)
{
    Admission admission;
    {
        SqliteQuery find(*m_connection, kFindToken);
        find.Bind(1, identity);
        if (!find.Step())
            return {Outcome::NotEnrolled, {}};
        if (find.OptionalInteger(1))
            return {Outcome::Revoked, {}};
        admission = {Outcome::Accepted, find.Text(0)};
    }
    SqliteQuery(*m_connection, kUseString)
        .Bind(1, identity)
        .Bind(2, int64_t{seed})
        .Bind(3, at)
        .Bind(4, MarkOf(offer.mark))
        .Run();
    if (sqlite3_changes(m_connection->Get()) == 0)
        return {Outcome::AlreadyUsed, {}};
    if (offer.opensSession)
        SqliteQuery(*m_connection, kOpenSession).Bind(1, offer.mark).Bind(2, identity).Bind(3, at).Run();
    return admission;
}

std::optional<SessionHolder> SqliteSiteStore::FindSession(const SessionHash& session, int64_t openedSince)
{
    const std::lock_guard turn(m_connection->Turn());
    SqliteQuery query(*m_connection, kFindSession);
    query.Bind(1, session).Bind(2, openedSince);
    if (!query.Step())
        return std::nullopt;
    const auto identity = ParseIdentity(query.Text(1));
    if (!identity)
        return std::nullopt;
    return SessionHolder{query.Text(0), *identity};
}

void SqliteSiteStore::EndSession(const SessionHash& session)
{
    SqliteTransaction transaction(Live());
    SqliteQuery(*m_connection, kEndSession).Bind(1, session).Run();
    transaction.Commit(SqliteTransaction::Durability::Durable);
}

std::optional<ClientKey> SqliteSiteStore::ClientKeyOf(int64_t client)
{
    const std::lock_guard turn(m_connection->Turn());
    SqliteQuery query(*m_connection, kClientKey);
    query.Bind(1, client);
    if (!query.Step())
        return std::nullopt;
    const std::vector<uint8_t> bytes = query.Blob(0);
    ClientKey key{};
    if (bytes.size() != key.size())
        throw StoreError(m_connection->Path() + ": the key of client " + std::to_string(client) + " is damaged");
    std::copy(bytes.begin(), bytes.end(), key.begin());
    return key;
}

bool SqliteSiteStore::UseNonce(int64_t client, std::string_view nonce, int64_t now)
{
    SqliteTransaction transaction(Live());
    SqliteQuery(*m_connection, kUseNonce)
        .Bind(1, client)
        .Bind(2, nonce)
        .Bind(3, now)
        .Bind(4, now - kNonceKeepSeconds)
        .Run();
    const bool fresh = sqlite3_changes(m_connection->Get()) > 0;
    transaction.Commit();
    return fresh;
}

int64_t SqliteSiteStore::AddClient(std::string_view name, const ClientKey& key, int64_t now)
{
    SqliteQuery(*m_connection, kAddClient).Bind(1, name).Bind(2, key).Bind(3, now).Run();
    return sqlite3_last_insert_rowid(m_connection->Get());
}

std::vector<ApiClient> SqliteSiteStore::Clients()
{
    return Rows<ApiClient>(*m_connection, kListClients, std::nullopt, [](const SqliteQuery& row) {
        return ApiClient{row.Integer(0), row.Text(1), row.Integer(2)};
    });
}

bool SqliteSiteStore::RemoveClient(int64_t client)
{
    SqliteTransaction transaction(*m_connection);
    SqliteQuery(*m_connection, kRemoveClient).Bind(1, client).Run();
    const bool removed = sqlite3_changes(m_connection->Get()) > 0;
    SqliteQuery(*m_connection, "DELETE FROM nonces WHERE client = ?1").Bind(1, client).Run();
    transaction.Commit(SqliteTransaction::Durability::Durable);
    return removed;
}

void SqliteSiteStore::Forget(const RomBytes& identity)
{
    const std::string key = FormatIdentity(identity);
    SqliteTransaction transaction(Live());
    for (const char* statement : kForgetToken)
        SqliteQuery(*m_connection, statement).Bind(1, key).Run();
    transaction.Commit(SqliteTransaction::Durability::Durable);
}

PruneReport SqliteSiteStore::TidyRound(int64_t now, int64_t rows)
{
    SqliteTransaction transaction(Live());
    PruneReport report;
    SqliteQuery(*m_connection, kFoldAttempts).Bind(1, now - kAttemptKeepSeconds).Bind(2, rows).Run();
    SqliteQuery(*m_connection, kDropFolded).Bind(1, now - kAttemptKeepSeconds).Bind(2, rows).Run();
    report.attemptsFolded = sqlite3_changes(m_connection->Get());
    SqliteQuery(*m_connection, kEndOldSessions).Bind(1, now - kSessionLifetimeSeconds).Bind(2, rows).Run();
    report.sessionsEnded = sqlite3_changes(m_connection->Get());
    SqliteQuery(*m_connection, kDropOldBrakes).Bind(1, now).Run();
    SqliteQuery(*m_connection, kDropOldNonces).Bind(1, now - kNonceKeepSeconds).Run();
    SqliteQuery(*m_connection, kDropOldDays).Bind(1, now - kDailyKeepSeconds).Run();
    transaction.Commit();
    return report;
}

void SqliteSiteStore::Tidy(int64_t now)
{
    TidyRound(now, kTidyRows);
}

PruneReport SqliteSiteStore::Prune(int64_t now)
{
    const std::string path = m_connection->FilePath();
    const std::uintmax_t before = FootprintOf(*m_connection);
    // Room to work in first: the reserve, then whatever the log holds.
    unlink(ReservePath(path).c_str());
    sqlite3_wal_checkpoint_v2(m_connection->Get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    PruneReport total;
    for (;;) {
        const PruneReport round = TidyRound(now, kPruneRows);
        total.attemptsFolded += round.attemptsFolded;
        total.sessionsEnded += round.sessionsEnded;
        sqlite3_wal_checkpoint_v2(m_connection->Get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        if (round.attemptsFolded < kPruneRows && round.sessionsEnded < kPruneRows)
            break;
    }
    // Free pages go back to the file system a few at a time, each batch through the log.
    for (int64_t free = FreePages(*m_connection), last = free + 1; free > 0 && free < last;) {
        m_connection->Execute("PRAGMA incremental_vacuum(256)");
        sqlite3_wal_checkpoint_v2(m_connection->Get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
        last = std::exchange(free, FreePages(*m_connection));
    }
    MakeReserve(path);
    const std::uintmax_t after = FootprintOf(*m_connection);
    total.bytesFreed = before > after ? static_cast<int64_t>(before - after) : 0;
    return total;
}

EnrollResult SqliteSiteStore::Enroll(const RomBytes& identity, std::string_view account, int64_t now)
{
    const std::string key = FormatIdentity(identity);
    SqliteTransaction transaction(*m_connection);
    {
        SqliteQuery find(*m_connection, kFindToken);
        find.Bind(1, key);
        if (find.Step() && !find.OptionalInteger(1))
            return EnrollResult::AlreadyEnrolled;
    }
    SqliteQuery(*m_connection, kEnroll).Bind(1, key).Bind(2, account).Bind(3, now).Run();
    SqliteQuery(*m_connection, kEndTokenSessions).Bind(1, key).Run();
    transaction.Commit(SqliteTransaction::Durability::Durable);
    return EnrollResult::Enrolled;
}

RevokeResult SqliteSiteStore::Revoke(const RomBytes& identity, int64_t now)
{
    const std::string key = FormatIdentity(identity);
    SqliteTransaction transaction(*m_connection);
    {
        SqliteQuery find(*m_connection, kFindToken);
        find.Bind(1, key);
        if (!find.Step())
            return RevokeResult::NotEnrolled;
        if (find.OptionalInteger(1))
            return RevokeResult::AlreadyRevoked;
    }
    SqliteQuery(*m_connection, kRevoke).Bind(1, key).Bind(2, now).Run();
    SqliteQuery(*m_connection, kEndTokenSessions).Bind(1, key).Run();
    transaction.Commit(SqliteTransaction::Durability::Durable);
    return RevokeResult::Revoked;
}

std::vector<TokenEntry> SqliteSiteStore::Tokens()
{
    return Rows<TokenEntry>(*m_connection, kListTokens, std::nullopt, [](const SqliteQuery& row) {
        return TokenEntry{row.Text(0), row.Text(1), row.Integer(2) != 0};
    });
}

std::vector<AttemptEntry> SqliteSiteStore::RecentAttempts(int count)
{
    return Rows<AttemptEntry>(*m_connection, kRecentAttempts, count, [](const SqliteQuery& row) {
        return AttemptEntry{row.Integer(0), row.Text(1), row.OptionalText(2), row.Text(3)};
    });
}

std::vector<NetworkFailures> SqliteSiteStore::FailuresByNetwork(int64_t since)
{
    return Rows<NetworkFailures>(*m_connection, kFailuresByNetwork, since, [](const SqliteQuery& row) {
        return NetworkFailures{row.Text(0), row.Integer(1), row.Integer(2), row.Integer(3)};
    });
}

std::vector<DailyCount> SqliteSiteStore::DailyCounts(int64_t since)
{
    return Rows<DailyCount>(*m_connection, kDailyCounts, since - since % kSecondsPerDay, [](const SqliteQuery& row) {
        return DailyCount{row.Integer(0), row.Text(1), row.Text(2), row.Integer(3)};
    });
}

std::vector<std::string> SqliteSiteStore::Check()
{
    std::vector<std::string> faults;
    {
        SqliteQuery integrity(*m_connection, "PRAGMA integrity_check");
        while (integrity.Step()) {
            if (integrity.Text(0) != "ok")
                faults.push_back(integrity.Text(0));
        }
    }
    const SchemaObjects expected = ExpectedObjects();
    const SchemaObjects found = ObjectsOf(*m_connection);
    for (const std::string& object : expected) {
        if (std::find(found.begin(), found.end(), object) == found.end())
            faults.push_back("missing or changed: " + object.substr(0, object.find(' ', object.find(' ') + 1)));
    }
    for (const std::string& object : found) {
        if (std::find(expected.begin(), expected.end(), object) == expected.end())
            faults.push_back("not made by entravo-site: " + object.substr(0, object.find(' ', object.find(' ') + 1)));
    }
    for (const auto& checks :
         {std::span<const char* const>(kPortableRowChecks), std::span<const char* const>(kRowChecks)}) {
        for (const char* check : checks) {
            // Not a literal of its own: each check is prepared once and kept.
            SqliteQuery rows(*m_connection, check);
            while (rows.Step())
                faults.push_back(rows.Text(0));
        }
    }
    return faults;
}
