#include "site/store/SqliteSiteStore.h"

#include "site/verifier/Identity.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <sys/statvfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <utility>

namespace {

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
constexpr char kUseString[] = "INSERT INTO used_strings(identity, seed, accepted_at, used_by) VALUES(?1, ?2, ?3, ?4)"
                              " ON CONFLICT DO NOTHING";
constexpr char kOpenSession[] = "INSERT INTO sessions(token_hash, identity, opened_at) VALUES(?1, ?2, ?3)";

// The oldest rows first, a bounded number per round (ids grow with time), counted per day (?3
// seconds long).
constexpr char kFoldAttempts[] =
    "INSERT INTO daily_counts(day, network, outcome, count)"
    " SELECT at - at % ?3, network, outcome, count(*) FROM attempts"
    " WHERE id IN (SELECT id FROM attempts ORDER BY id LIMIT ?2) AND at < ?1 GROUP BY 1, 2, 3"
    " ON CONFLICT DO UPDATE SET count = count + excluded.count";
// The same rows made since ?3, counted per hour (?4 seconds long) for the admin page.
constexpr char kFoldHours[] =
    "INSERT INTO hourly_counts(hour, outcome, count)"
    " SELECT at - at % ?4, outcome, count(*) FROM attempts"
    " WHERE id IN (SELECT id FROM attempts ORDER BY id LIMIT ?2) AND at < ?1 AND at >= ?3 GROUP BY 1, 2"
    " ON CONFLICT DO UPDATE SET count = count + excluded.count";
constexpr char kDropFolded[] =
    "DELETE FROM attempts WHERE id IN (SELECT id FROM attempts ORDER BY id LIMIT ?2) AND at < ?1";

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

// Every object of the schema, one line each (its kind and name, then its text), to compare a
// file's against this release's.
constexpr char kListSchema[] =
    "SELECT type || ' ' || name || ': ' || coalesce(sql, '') FROM sqlite_schema ORDER BY type, name";

std::vector<std::string> ObjectsOf(SqliteConnection& connection)
{
    std::vector<std::string> objects;
    SqliteQuery query(connection, kListSchema);
    while (query.Step())
        objects.push_back(query.Text(0));
    return objects;
}

// Runs the schema's steps from the one after version on.
void MakeSchema(SqliteConnection& connection, int64_t version)
{
    const std::vector<std::string>& steps = SchemaSteps();
    for (auto step = steps.begin() + version; step != steps.end(); ++step)
        connection.Execute(step->c_str());
}

std::vector<std::string> ExpectedObjects()
{
    SqliteConnection fresh(":memory:", SQLITE_OPEN_READWRITE);
    MakeSchema(fresh, 0);
    return ObjectsOf(fresh);
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
    const Header header = ReadHeader(*connection);
    CheckHeader(path, header.applicationId, header.schemaVersion, true);
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

// A row of SQLite's answer as the stores' shared calls read it.
class QueryRow final : public SqlRow {
public:
    explicit QueryRow(const SqliteQuery& query) : m_query(query) {}
    int64_t Integer(int column) const override { return m_query.Integer(column); }
    std::optional<int64_t> OptionalInteger(int column) const override { return m_query.OptionalInteger(column); }
    std::string Text(int column) const override { return m_query.Text(column); }
    std::optional<std::string> OptionalText(int column) const override { return m_query.OptionalText(column); }
    int Columns() const override { return m_query.Columns(); }
    SqlValue Value(int column) const override { return m_query.Value(column); }

private:
    const SqliteQuery& m_query;
};

// Runs statement on connection, each row of its answer handed to read; the rows it changed.
int64_t RunOn(SqliteConnection& connection, const StoreStatement& statement, SqlValues parameters,
              const RowReader& read)
{
    SqliteQuery query(connection, statement);
    int index = 0;
    for (const SqlValue& parameter : parameters)
        query.BindValue(++index, parameter);
    while (query.Step()) {
        if (read)
            read(QueryRow(query));
    }
    return sqlite3_changes(connection.Get());
}

class Transaction final : public SqlTransaction {
public:
    Transaction(SqliteConnection& connection, Durability durability)
        : m_connection(connection), m_transaction(connection, durability)
    {
    }
    int64_t Run(const StoreStatement& statement, SqlValues parameters, const RowReader& read) override
    {
        return RunOn(m_connection, statement, parameters, read);
    }
    void Commit() override { m_transaction.Commit(); }

private:
    SqliteConnection& m_connection;
    SqliteTransaction m_transaction;
};

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
        SqliteTransaction transaction(connection, Durability::Unsynced);
        const Header header = ReadHeader(connection);
        if (header.applicationId == kApplicationId) {
            CheckHeader(path, header.applicationId, header.schemaVersion, false);
            if (header.schemaVersion == kSchemaVersion) {
                NarrowMode(connection.FilePath());
                MakeReserve(connection.FilePath());
                return InitResult::AlreadyThere;
            }
            firstRelease = header.schemaVersion == 1;
            if (firstRelease)
                connection.Execute(kSetAsideFirstAttempts);
            MakeSchema(connection, header.schemaVersion);
            if (firstRelease)
                connection.Execute(kMoveFirstAttempts);
            result = InitResult::Migrated;
        } else {
            if (header.applicationId != 0 || header.objects != 0)
                throw StoreError(path + " is not a site database (it holds other data; nothing was changed)");
            MakeSchema(connection, 0);
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
    : SqlSiteStore(connection->Path()), m_connection(std::move(connection)), m_use(use)
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
        } catch (const StoreError& error) {
            if (error.kind() == StoreError::Kind::Busy) {
                if (auto used = UsedMeanwhile(search))
                    return *used;
            }
            // Refused because another check's sync failed meanwhile, it kept nothing: it runs
            // once more, on the connection opened afresh.
            if (again || !connection.Failed())
                throw;
        }
    }
}

// A check that outwaited the other writers kept nothing, and its answer would be "come back
// later". A genuine string may have been used meanwhile, most often by another copy of the
// same link opened at once: then that is the answer, read beside the writers, for a visitor
// must never be told to try again with a string that is used.
std::optional<StringCheck> SqliteSiteStore::UsedMeanwhile(const Search& search)
{
    const Verification verification = search();
    if (verification.verdict != Verdict::Genuine)
        return std::nullopt;
    bool used = false;
    ReadAside(Statements().isUsed, {FormatIdentity(*verification.identity), int64_t{verification.seed}},
              [&](const SqlRow&) { used = true; });
    if (!used)
        return std::nullopt;
    StringCheck check;
    check.outcome = Outcome::AlreadyUsed;
    check.identity = verification.identity;
    return check;
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
                            if (admission.outcome == Outcome::Accepted)
                                RecordSignIn(origin, now, key, admission.account, offer.path);
                            return admission;
                        });
}

Gate SqliteSiteStore::Gauge(const Origin& origin, int64_t now, const Budgets& budgets)
{
    Gate gate;
    {
        SqliteQuery count(*m_connection, Statements().countFailures);
        count.Bind(1, origin.address).Bind(2, origin.network).Bind(4, now - budgets.windowSeconds);
        count.BindValue(3, Present(origin.wideNetwork));
        count.Bind(5, int64_t{budgets.address}).Bind(6, int64_t{budgets.network}).Bind(7, int64_t{budgets.wideNetwork});
        count.Step();
        gate.exhausted = SpentBudget(origin, budgets, count.Integer(0), count.Integer(1), count.Integer(2));
    }
    if (gate.exhausted.empty())
        return gate;
    gate.network = gate.exhausted != origin.address;
    const std::string_view refused = OutcomeName(Outcome::TooManyFailures);
    SqliteQuery(*m_connection, Statements().countToday)
        .Bind(1, now - now % kSecondsPerDay)
        .Bind(2, gate.exhausted)
        .Bind(3, refused)
        .Run();
    SqliteQuery(*m_connection, Statements().countHour).Bind(1, now - now % kSecondsPerHour).Bind(2, refused).Run();
    SqliteQuery(*m_connection, Statements().brake)
        .Bind(1, gate.exhausted)
        .Bind(2, now + budgets.windowSeconds)
        .Bind(3, now)
        .Run();
    gate.newlyExhausted = sqlite3_changes(m_connection->Get()) > 0;
    return gate;
}

void SqliteSiteStore::RecordAttempt(const Origin& origin, int64_t now, Outcome outcome,
                                    const std::optional<std::string>& identity)
{
    SqliteQuery(*m_connection, Statements().recordAttempt)
        .Bind(1, now)
        .Bind(2, origin.address)
        .Bind(3, origin.network)
        .BindValue(4, Present(origin.wideNetwork))
        .BindValue(5, identity)
        .Bind(6, OutcomeName(outcome))
        .Run();
}

void SqliteSiteStore::RecordSignIn(const Origin& origin, int64_t now, const std::string& identity,
                                   const std::string& account, SignInPath path)
{
    SqliteQuery(*m_connection, Statements().recordSignIn)
        .Bind(1, SignInWeek(now))
        .Bind(2, identity)
        .Bind(3, account)
        .Bind(4, origin.address)
        .Bind(5, SignInPathWord(path))
        .Bind(6, SignInTimeText(now))
        .Run();
}

Admission SqliteSiteStore::AdmitString(const std::string& identity, uint32_t seed, int64_t at, const Offer& offer)
{
    Admission admission;
    {
        SqliteQuery find(*m_connection, Statements().findToken);
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

bool SqliteSiteStore::UseNonce(int64_t client, std::string_view nonce, int64_t now)
{
    return Change(Durability::Unsynced, Statements().useNonce, {client, nonce, now, now - kNonceKeepSeconds}) > 0;
}

int64_t SqliteSiteStore::AddClient(std::string_view name, const ClientKey& key, int64_t now)
{
    SqliteQuery add(*m_connection, Statements().addClient);
    add.Bind(1, name).Bind(2, key).Bind(3, now).Step();
    const int64_t client = add.Integer(0);
    add.Run();
    return client;
}

PruneReport SqliteSiteStore::Prune(int64_t now)
{
    const std::string path = m_connection->FilePath();
    const std::uintmax_t before = FootprintOf(*m_connection);
    // Room to work in first: the reserve, then whatever the log holds.
    unlink(ReservePath(path).c_str());
    sqlite3_wal_checkpoint_v2(m_connection->Get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    PruneReport total = TidyAll(now, [&] {
        sqlite3_wal_checkpoint_v2(m_connection->Get(), nullptr, SQLITE_CHECKPOINT_TRUNCATE, nullptr, nullptr);
    });
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
    for (const std::vector<std::string>& more :
         {SchemaFaults(ExpectedObjects(), ObjectsOf(*m_connection)), RowFaults()})
        faults.insert(faults.end(), more.begin(), more.end());
    return faults;
}

void SqliteSiteStore::Read(const StoreStatement& statement, SqlValues parameters, const RowReader& read)
{
    const std::lock_guard turn(m_connection->Turn());
    RunOn(*m_connection, statement, parameters, read);
}

// The connection a long-lived process's threads share must not wait for a long read: it reads
// through one of its own, which write-ahead logging lets read beside the writers.
void SqliteSiteStore::ReadAside(const StoreStatement& statement, SqlValues parameters, const RowReader& read)
{
    if (m_use != StoreUse::LongLived)
        return Read(statement, parameters, read);
    const auto aside = Connect(m_connection->Path(), StoreUse::OneRequest);
    RunOn(*aside, statement, parameters, read);
}

int64_t SqliteSiteStore::Footprint()
{
    return static_cast<int64_t>(SizeOf(m_connection->FilePath()) + SizeOf(m_connection->LogPath()));
}

int64_t SqliteSiteStore::Change(Durability durability, const StoreStatement& statement, SqlValues parameters)
{
    Transaction transaction(Live(), durability);
    const int64_t changed = transaction.Run(statement, parameters, {});
    transaction.Commit();
    return changed;
}

std::unique_ptr<SqlTransaction> SqliteSiteStore::Begin(Durability durability)
{
    return std::make_unique<Transaction>(Live(), durability);
}

int64_t SqliteSiteStore::FoldAttempts(int64_t before, int64_t hourlySince, int64_t rows)
{
    SqliteQuery(*m_connection, kFoldAttempts).Bind(1, before).Bind(2, rows).Bind(3, kSecondsPerDay).Run();
    SqliteQuery(*m_connection, kFoldHours)
        .Bind(1, before)
        .Bind(2, rows)
        .Bind(3, hourlySince)
        .Bind(4, kSecondsPerHour)
        .Run();
    SqliteQuery(*m_connection, kDropFolded).Bind(1, before).Bind(2, rows).Run();
    return sqlite3_changes(m_connection->Get());
}
