#pragma once
// A thin layer over SQLite's C API: owned handles, statements prepared once per connection
// with bound parameters, and transactions that roll back unless committed. Errors become
// StoreError with the database's path in the message.
#include "site/store/GroupSync.h"
#include "site/store/SiteStore.h"
#include "site/store/StoreSql.h"

#include <sqlite3.h>

#include <atomic>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

// One move-only owner for every SQLite handle kind.
template <typename Handle, auto Close>
struct SqliteCloser {
    void operator()(Handle* handle) const noexcept { Close(handle); }
};
using DatabaseHandle = std::unique_ptr<sqlite3, SqliteCloser<sqlite3, sqlite3_close_v2>>;
using StatementHandle = std::unique_ptr<sqlite3_stmt, SqliteCloser<sqlite3_stmt, sqlite3_finalize>>;

// The busy handler of every connection: short pauses, ten seconds at the most.
int RetryAfterPause(void*, int count);

// One connection may serve the threads of a process: they take turns (Turn), and a durable
// commit waits for the disk after its turn (SyncLog), so the writers of a moment share one
// sync. Other processes meet SQLite's own locks. A connection whose sync failed takes no more
// writes (Failed): it is replaced by one opened afresh (see the shared transaction's rules in
// SqliteConnection.cpp).
class SqliteConnection {
public:
    // flags as for sqlite3_open_v2. A statement that finds the database locked retries for up
    // to ten seconds before it fails; that is set before anything is read.
    SqliteConnection(std::string path, int flags);
    ~SqliteConnection();
    SqliteConnection(const SqliteConnection&) = delete;
    SqliteConnection& operator=(const SqliteConnection&) = delete;

    // Runs statements without parameters or results (pragmas, schema).
    void Execute(const char* sql);
    // The statement for sql, prepared on first use. sql must last as long as the program (a
    // literal, a StoreStatement): its address is the key.
    sqlite3_stmt* Prepared(const char* sql);

    // Held by the thread that uses the connection, for a read or a whole transaction.
    std::mutex& Turn() { return m_turn; }
    // Outside a turn: returns once everything committed so far is on the disk, the
    // write-ahead log synced by this thread or by one that began syncing after the call.
    // StoreError, saying that what was committed stands but may not survive a power cut, when
    // the sync fails now or failed before.
    void SyncLog();
    // Runs work (statements on this connection; it returns true when they must be durable)
    // in a write transaction shared with the work other threads bring meanwhile. Returns once
    // the work is committed (and synced, when it asked for that); throws what the work threw,
    // or the group's failure, when it was not committed. When the commit stands but its sync
    // failed, returns why. The rules, in full, where it is written.
    std::optional<std::string> InSharedTransaction(const std::function<bool()>& work);
    // A sync of this connection failed: it begins no more writes of the shared transaction.
    bool Failed() const { return m_logSync.Failed(); }
    // Pieces queued for the next group, for the tests of the shared transaction's rules.
    std::size_t Waiting();

    [[noreturn]] void Fail(int code) const;
    // The path as the connection was opened with it, for messages.
    const std::string& Path() const { return m_path; }
    // The database file and its write-ahead log as SQLite names them: their real places,
    // whatever links the opened path went through.
    const std::string& FilePath() const { return m_file; }
    const std::string& LogPath() const { return m_logPath; }
    sqlite3* Get() const { return m_database.get(); }

private:
    struct Piece;
    // The leader's part: the group's work in one transaction, committed, then synced.
    void RunGroup(const std::vector<Piece*>& group);

    std::string m_path;
    DatabaseHandle m_database;
    std::string m_file;
    std::string m_logPath;
    std::unordered_map<const char*, StatementHandle> m_statements;
    std::mutex m_turn;
    GroupSync m_logSync;
    std::mutex m_groupLock;
    std::deque<Piece*> m_waiting;
    bool m_grouping = false;
    std::atomic<int> m_leaders{0}; // groups running: never more than one
    int m_log = -1;                // the write-ahead log, opened for syncing by the first sync
};

// One use of a prepared statement; reset when it goes, so the statement can be used again.
class SqliteQuery {
public:
    SqliteQuery(SqliteConnection& connection, const char* sql);
    SqliteQuery(SqliteConnection& connection, const StoreStatement& sql) : SqliteQuery(connection, sql.sqlite.c_str())
    {
    }
    ~SqliteQuery();
    SqliteQuery(const SqliteQuery&) = delete;
    SqliteQuery& operator=(const SqliteQuery&) = delete;

    SqliteQuery& Bind(int index, int64_t value);
    SqliteQuery& Bind(int index, std::string_view text);
    SqliteQuery& Bind(int index, std::span<const uint8_t> blob);
    SqliteQuery& BindNull(int index);
    SqliteQuery& BindValue(int index, const SqlValue& value);

    // True while there is a row to read.
    bool Step();
    // Steps through a statement that returns no rows.
    void Run();

    int64_t Integer(int column) const;
    std::optional<int64_t> OptionalInteger(int column) const;
    std::string Text(int column) const;
    std::optional<std::string> OptionalText(int column) const;
    std::vector<uint8_t> Blob(int column) const;
    // Any column, of the type its value has.
    int Columns() const;
    SqlValue Value(int column) const;

private:
    void Check(int code) const;

    SqliteConnection& m_connection;
    sqlite3_stmt* m_statement;
};

// BEGIN IMMEDIATE: takes the write lock at once, so a read-then-write inside cannot be
// overtaken by another process between its read and its write.
class SqliteTransaction {
public:
    SqliteTransaction(SqliteConnection& connection, Durability durability);
    ~SqliteTransaction();
    SqliteTransaction(const SqliteTransaction&) = delete;
    SqliteTransaction& operator=(const SqliteTransaction&) = delete;

    // The commit is in the log (synchronous = NORMAL). A durable one then syncs the log, as
    // synchronous = FULL would, but after it has let the next writer in, so that the writers of a
    // moment share one sync.
    void Commit();

private:
    SqliteConnection& m_connection;
    Durability m_durability;
    std::unique_lock<std::mutex> m_turn;
    bool m_open = true;
};
