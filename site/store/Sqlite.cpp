#include "site/store/Sqlite.h"

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
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
            m_log = open((m_path + "-wal").c_str(), O_RDONLY | O_CLOEXEC);
        // Without a write-ahead log (a rollback journal) the commit has synced the file itself.
        if (m_log < 0 && errno == ENOENT)
            return;
        if (m_log < 0 || fdatasync(m_log) != 0)
            throw StoreError(m_path + "-wal cannot be synced: " + std::strerror(errno),
                             errno == ENOSPC ? StoreError::Kind::Full : StoreError::Kind::Broken);
    });
}

// One thread's work in a shared transaction. Each waits on a signal of its own, so that every
// change wakes only the threads it concerns.
struct SqliteConnection::Piece {
    const std::function<bool()>& work;
    std::condition_variable signal;
    bool taken = false;
    bool finished = false;
    std::exception_ptr error;
};

void SqliteConnection::InSharedTransaction(const std::function<bool()>& work)
{
    Piece mine{work, {}, false, false, nullptr};
    std::unique_lock lock(m_groupLock);
    m_waiting.push_back(&mine);
    while (!mine.finished) {
        if (m_grouping || mine.taken) {
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
        std::exception_ptr error;
        bool durable = false;
        try {
            ImmediateTransaction transaction(*this);
            for (Piece* piece : group)
                durable = piece->work() || durable;
            transaction.Commit();
        } catch (...) {
            error = std::current_exception();
        }
        // The first of the waiting threads leads the next group while this one syncs.
        lock.lock();
        m_grouping = false;
        if (!m_waiting.empty())
            m_waiting.front()->signal.notify_one();
        lock.unlock();
        if (!error && durable) {
            try {
                SyncLog();
            } catch (...) {
                error = std::current_exception();
            }
        }
        lock.lock();
        for (Piece* piece : group) {
            piece->error = error;
            piece->finished = true;
            if (piece != &mine)
                piece->signal.notify_one();
        }
    }
    if (mine.error)
        std::rethrow_exception(mine.error);
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

Query::Query(SqliteConnection& connection, const char* sql)
    : m_connection(connection), m_statement(connection.Prepared(sql))
{
}

Query::~Query()
{
    sqlite3_reset(m_statement);
    sqlite3_clear_bindings(m_statement);
}

Query& Query::Bind(int index, int64_t value)
{
    Check(sqlite3_bind_int64(m_statement, index, value));
    return *this;
}

Query& Query::Bind(int index, std::string_view text)
{
    Check(sqlite3_bind_text(m_statement, index, text.data(), static_cast<int>(text.size()), SQLITE_TRANSIENT));
    return *this;
}

Query& Query::Bind(int index, std::span<const uint8_t> blob)
{
    Check(sqlite3_bind_blob(m_statement, index, blob.data(), static_cast<int>(blob.size()), SQLITE_TRANSIENT));
    return *this;
}

Query& Query::BindNull(int index)
{
    Check(sqlite3_bind_null(m_statement, index));
    return *this;
}

bool Query::Step()
{
    const int code = sqlite3_step(m_statement);
    if (code == SQLITE_ROW)
        return true;
    if (code != SQLITE_DONE)
        m_connection.Fail(code);
    return false;
}

void Query::Run()
{
    while (Step()) {
    }
}

int64_t Query::Integer(int column) const
{
    return sqlite3_column_int64(m_statement, column);
}

std::optional<int64_t> Query::OptionalInteger(int column) const
{
    if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
        return std::nullopt;
    return Integer(column);
}

std::string Query::Text(int column) const
{
    const auto* text = reinterpret_cast<const char*>(sqlite3_column_text(m_statement, column));
    return text ? std::string(text, static_cast<std::size_t>(sqlite3_column_bytes(m_statement, column)))
                : std::string();
}

std::optional<std::string> Query::OptionalText(int column) const
{
    if (sqlite3_column_type(m_statement, column) == SQLITE_NULL)
        return std::nullopt;
    return Text(column);
}

std::vector<uint8_t> Query::Blob(int column) const
{
    const auto* bytes = static_cast<const uint8_t*>(sqlite3_column_blob(m_statement, column));
    return bytes ? std::vector<uint8_t>(bytes, bytes + sqlite3_column_bytes(m_statement, column))
                 : std::vector<uint8_t>();
}

void Query::Check(int code) const
{
    if (code != SQLITE_OK)
        m_connection.Fail(code);
}

ImmediateTransaction::ImmediateTransaction(SqliteConnection& connection)
    : m_connection(connection), m_turn(connection.Turn())
{
    m_connection.Execute("BEGIN IMMEDIATE");
}

ImmediateTransaction::~ImmediateTransaction()
{
    if (m_open)
        sqlite3_exec(m_connection.Get(), "ROLLBACK", nullptr, nullptr, nullptr);
}

void ImmediateTransaction::Commit(Durability durability)
{
    m_connection.Execute("COMMIT");
    m_open = false;
    m_turn.unlock();
    // The commit is in the log (synchronous = NORMAL); syncing the log makes it durable, as
    // synchronous = FULL would, but for every writer waiting at the time in one go.
    if (durability == Durability::Durable)
        m_connection.SyncLog();
}
