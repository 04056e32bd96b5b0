#include "site/store/SqliteConnection.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cassert>
#include <cerrno>
#include <chrono>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <thread>
#include <utility>
#include <vector>

namespace {

StoreError::Kind KindOf(int code)
{
    switch (code & 0xFF) {
    case SQLITE_FULL:
        return StoreError::Kind::Full;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return StoreError::Kind::Busy;
    default:
        return StoreError::Kind::Broken;
    }
}

std::string Explain(const std::string& path, int code, sqlite3* database)
{
    switch (code & 0xFF) {
    case SQLITE_FULL:
        return path + ": the disk is full (entravo-site prune frees space)";
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return path + " is not a site database or is damaged";
    case SQLITE_CANTOPEN:
        return path + " cannot be opened (check that its folder exists and is writable)";
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return path + " cannot be written (check the permissions of the file and its folder)";
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return path + " stayed busy: another process held it too long";
    default:
        return path + ": " + (database ? sqlite3_errmsg(database) : sqlite3_errstr(code));
    }
}

// Long enough for 50 processes queueing for the write lock one short transaction at a time.
constexpr auto kBusyTimeout = std::chrono::seconds(10);
// SQLite's own busy timeout sleeps ever longer, up to 100 ms at a time; the write lock here is
// held for well under a millisecond, so a waiter would mostly sleep while the lock is free.
// Yet every try costs system calls: pauses that stay this short make a queue of waiters spend
// the processor asking, and the queue grows. So the pauses double up to a few milliseconds.
constexpr auto kFirstBusyPause = std::chrono::microseconds(250);
constexpr auto kLongestBusyPause = std::chrono::milliseconds(2);
constexpr int kDoublings = 3;
constexpr int kMostBusyTries = kDoublings + static_cast<int>(kBusyTimeout / kLongestBusyPause);

// A group's transaction is held no longer than this many pieces take, so that its first
// threads are not kept waiting by the ones that came last.
constexpr std::size_t kMostInGroup = 32;

} // namespace

int RetryAfterPause(void*, int count)
{
    if (count >= kMostBusyTries)
        return 0;
    std::this_thread::sleep_for(count < kDoublings ? kFirstBusyPause * (1 << count) : kLongestBusyPause);
    return 1;
}

SqliteConnection::SqliteConnection(std::string path, int flags) : m_path(std::move(path))
{
    sqlite3* database = nullptr;
    const int code = sqlite3_open_v2(m_path.c_str(), &database, flags | SQLITE_OPEN_EXRESCODE, nullptr);
    m_database.reset(database);
    if (code != SQLITE_OK)
        Fail(code);
    sqlite3_busy_handler(database, RetryAfterPause, nullptr);
    // SQLite follows links to the file itself and keeps the log beside it: the log synced must
    // be that one, not one beside the link.
    if (const sqlite3_filename file = sqlite3_db_filename(database, "main"); file && *file) {
        m_file = file;
        m_logPath = sqlite3_filename_wal(file);
    } else {
        m_file = m_path;
        m_logPath = m_path + "-wal";
    }
}

SqliteConnection::~SqliteConnection()
{
    if (m_log >= 0)
        close(m_log);
}

// The log is synced through a descriptor of its own: any descriptor of a file flushes all of
// it, and the log stays the same file while this connection keeps the database open.
void SqliteConnection::SyncLog()
{
    m_logSync.Await([this] {
        if (m_log < 0)
            m_log = open(m_logPath.c_str(), O_RDONLY | O_CLOEXEC);
        // Without a write-ahead log (a rollback journal) the commit has synced the file itself.
        if (m_log < 0 && errno == ENOENT)
            return;
        if (m_log < 0 || fdatasync(m_log) != 0)
            throw StoreError(m_logPath + " cannot be synced (" + std::strerror(errno) +
                                 "): what was committed stands, but a power cut may undo it",
                             errno == ENOSPC ? StoreError::Kind::Full : StoreError::Kind::Broken);
    });
}

/*
** THE SHARED TRANSACTION
**
** login.fcgi's threads share one connection. Each check of a string is a little work (a count,
** a search of microseconds, an insert or two) that must be one transaction; a durable one must
** then wait for the disk, which takes far longer than the work. So the checks that meet at the
** connection share a transaction and a sync.
**
** Who leads. A thread that brings work (a piece) queues it. The first thread that finds no group
** running leads: it takes the oldest pieces waiting, at most kMostInGroup, and runs them all in
** one write transaction, in the order they came. Every other thread waits on a signal of its
** own until its piece is finished, or until it is first in the queue when no group runs; then
** it leads the next group.
**
** When a group closes. At once: the leader takes what waits when it begins, and pieces that come
** later wait for the next group. A group therefore lasts as long as its pieces' work, however
** many threads come meanwhile.
**
** What a failure does to each member. Each piece runs inside a savepoint of its own. A piece that
** throws is rolled back to its savepoint, and its thread gets what it threw; the other pieces
** go on and commit. When SQLite has ended the transaction itself (a full disk, an I/O error
** can), or the commit fails, nothing of the group was kept, and every member gets the error:
** each may truthfully be told to try again. Once the commit succeeded, every member's result is
** what the database holds, and stands, whatever happens to the sync after it: an acceptance is
** an acceptance.
**
** Why the sync comes where it does. The connection commits with synchronous = NORMAL: the commit
** is in the log, not yet on the disk. The leader lets the next group begin before it syncs, so
** the next group's work overlaps this group's wait; then it syncs the log (GroupSync), and a
** sync that began after a commit covers every commit before it, so one sync serves all the
** groups of a moment. The members of a group that asked for durability are answered after
** that sync, never before.
**
** When the sync fails. The failure is every member's news, not an error of their work: each
** gets its result and the sync's failure with it. The connection is failed from then on: no
** later sync of its log is trusted (GroupSync), and it begins no more writes: every transaction
** checks this once it holds the write lock (SqliteTransaction). The store is then opened
** afresh (SqliteSiteStore): a new connection whose checkpoint writes every page of the log into
** the database file and syncs that file, which proves on its own that all those commits reached
** the disk. No commit escapes that checkpoint: one begun before the failure holds the write
** lock, and the checkpoint waits for it to end; one begun after is refused.
*/

// One thread's work in a shared transaction. Each waits on a signal of its own, so that every
// change wakes only the threads it concerns.
struct SqliteConnection::Piece {
    const std::function<bool()>& work;
    std::condition_variable signal;
    bool taken = false;
    bool finished = false;
    bool durable = false;
    std::exception_ptr error;            // the work was not committed
    std::optional<std::string> unsynced; // it was, but the sync after it failed
};

namespace {

constexpr char kSavepoint[] = "SAVEPOINT piece";
constexpr char kRelease[] = "RELEASE piece";
constexpr char kRollBackPiece[] = "ROLLBACK TO piece";

} // namespace

std::optional<std::string> SqliteConnection::InSharedTransaction(const std::function<bool()>& work)
{
    Piece mine{work, {}, false, false, false, nullptr, std::nullopt};
    std::unique_lock lock(m_groupLock);
    m_waiting.push_back(&mine);
    while (!mine.finished) {
        if (m_grouping || mine.taken || m_waiting.front() != &mine) {
            mine.signal.wait(lock);
            continue;
        }
        m_grouping = true;
        const auto end = m_waiting.begin() + static_cast<std::ptrdiff_t>(std::min(m_waiting.size(), kMostInGroup));
        const std::vector<Piece*> group(m_waiting.begin(), end);
        m_waiting.erase(m_waiting.begin(), end);
        for (Piece* piece : group)
            piece->taken = true;
        lock.unlock();
        RunGroup(group);
        lock.lock();
        for (Piece* piece : group) {
            assert(!piece->finished);
            piece->finished = true;
            if (piece != &mine)
                piece->signal.notify_one();
        }
    }
    // Committed or not, never both: a failed sync is news only for work that was committed.
    assert(!(mine.error && mine.unsynced));
    if (mine.error)
        std::rethrow_exception(mine.error);
    return mine.unsynced;
}

std::size_t SqliteConnection::Waiting()
{
    const std::lock_guard lock(m_groupLock);
    return m_waiting.size();
}

void SqliteConnection::RunGroup(const std::vector<Piece*>& group)
{
    assert(!group.empty() && group.size() <= kMostInGroup);
    bool durable = false;
    {
        // One leader at a time: a second would break every rule above.
        [[maybe_unused]] const int leaders = ++m_leaders;
        assert(leaders == 1);
        try {
            SqliteTransaction transaction(*this, Durability::Unsynced);
            for (Piece* piece : group) {
                SqliteQuery(*this, kSavepoint).Run();
                try {
                    piece->durable = piece->work();
                    SqliteQuery(*this, kRelease).Run();
                } catch (...) {
                    piece->error = std::current_exception();
                    if (sqlite3_get_autocommit(Get()))
                        throw;
                    SqliteQuery(*this, kRollBackPiece).Run();
                    SqliteQuery(*this, kRelease).Run();
                }
                durable = durable || (piece->durable && !piece->error);
            }
            transaction.Commit();
        } catch (...) {
            const std::exception_ptr failure = std::current_exception();
            for (Piece* piece : group) {
                if (!piece->error)
                    piece->error = failure;
            }
            durable = false;
        }
        --m_leaders;
    }
    // The next group begins while this one waits for the disk.
    {
        const std::lock_guard lock(m_groupLock);
        m_grouping = false;
        if (!m_waiting.empty())
            m_waiting.front()->signal.notify_one();
    }
    if (!durable)
        return;
    try {
        SyncLog();
    } catch (const StoreError& error) {
        for (Piece* piece : group) {
            if (!piece->error)
                piece->unsynced = error.what();
        }
    }
}

void SqliteConnection::Execute(const char* sql)
{
    const int code = sqlite3_exec(m_database.get(), sql, nullptr, nullptr, nullptr);
    if (code != SQLITE_OK)
        Fail(code);
}

sqlite3_stmt* SqliteConnection::Prepared(const char* sql)
{
    StatementHandle& statement = m_statements[sql];
    if (!statement) {
        sqlite3_stmt* prepared = nullptr;
        const int code = sqlite3_prepare_v3(m_database.get(), sql, -1, SQLITE_PREPARE_PERSISTENT, &prepared, nullptr);
        statement.reset(prepared);
        if (code != SQLITE_OK)
            Fail(code);
    }
    return statement.get();
}

void SqliteConnection::Fail(int code) const
{
    throw StoreError(Explain(m_path, code, m_database.get()), KindOf(code));
}

SqliteQuery::SqliteQuery(SqliteConnection& connection, const char* sql)
    : m_connection(connection), m_statement(connection.Prepared(sql))
{
}

SqliteQuery::~SqliteQuery()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

SqliteQuery& SqliteQuery::Bind(int index, int64_t value)
{
    Check(sqlite3_bind_int64(m_statement, index, value));
    return *this;
}

SqliteQuery& SqliteQuery::Bind(int index, std::string_view text)
{
    Check(sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
}

SqliteQuery& SqliteQuery::Bind(int index, std::span<const uint8_t> blob)
{
    Check(sqlite3_bind_blob(m_statement, index, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT));
    return *this;
}

SqliteQuery& SqliteQuery::BindNull(int index)
{
    Check(sqlite3_bind_null(m_statement, index));
    return *this;
}

SqliteQuery& SqliteQuery::BindValue(int index, const SqlValue& value)
{
    const std::string& bytes = value.Bytes();
    switch (value.kind()) {
    case SqlValue::Kind::Integer:
        return Bind(index, value.Number());
    case SqlValue::Kind::Text:
        return Bind(index, std::string_view(bytes));
    case SqlValue::Kind::Bytes:
        return Bind(index, std::span(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size()));
    case SqlValue::Kind::Null:
        break;
    }
    return BindNull(index);
}

bool SqliteQuery::Step()
{
    const int code = sqlite3_step(m_statement);
    if (code == SQLITE_ROW)
        return true;
    if (code != SQLITE_DONE)
        m_connection.Fail(code);
    return false;
}

void SqliteQuery::Run()
{
    while (Step()) {
    }
}

int64_t SqliteQuery::Integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

std::optional<int64_t> SqliteQuery::OptionalInteger(int column) const
{
    if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
        return std::nullopt;
    return Integer(column);
}

std::string SqliteQuery::Text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                : std::string();
}

std::optional<std::string> SqliteQuery::OptionalText(int column) const
{
    if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
        return std::nullopt;
    return Text(column);
}

std::vector<uint8_t> SqliteQuery::Blob(int column) const
{
    const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(m_statement, column));
    return bytes ? std::vector<uint8_t>(bytes, bytes + sqlite3_column_bytes(m_statement, column))
                 : std::vector<uint8_t>();
}

int SqliteQuery::Columns() const
{
    return sqlite3_column_count(m_statement);
}

SqlValue SqliteQuery::Value(int column) const
{
    switch (sqlite3_column_type(m_statement, column)) {
    case SQLITE_NULL:
        return std::nullopt;
    case SQLITE_INTEGER:
        return Integer(column);
    case SQLITE_BLOB:
        return SqlValue(std::span<const uint8_t>(Blob(column)));
    default:
        return Text(column);
    }
}

void SqliteQuery::Check(int code) const
{
    if (code != SQLITE_OK)
        m_connection.Fail(code);
}

SqliteTransaction::SqliteTransaction(SqliteConnection& connection, Durability durability)
    : m_connection(connection), m_durability(durability), m_turn(connection.Turn())
{
    m_connection.Execute("BEGIN IMMEDIATE");
    // Checked under the write lock: no commit follows a failed sync unseen by the checkpoint
    // that opening the store afresh runs (the shared transaction's rules).
    if (m_connection.Failed()) {
        sqlite3_exec(m_connection.Get(), "ROLLBACK", nullptr, nullptr, nullptr);
        throw StoreError(m_connection.Path() + " is being opened afresh: its log failed to reach the disk",
                         StoreError::Kind::Busy);
    }
}

SqliteTransaction::~SqliteTransaction()
{
    if (m_open)
        sqlite3_exec(m_connection.Get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void SqliteTransaction::Commit()
{
    m_connection.Execute("COMMIT");
    m_open = false;
    m_turn.unlock();
    if (m_durability == Durability::Durable)
        m_connection.SyncLog();
}
