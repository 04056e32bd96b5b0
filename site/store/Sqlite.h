#pragma once
// A thin layer over SQLite's C API: owned handles, statements prepared once per connection
// with bound parameters, and transactions that roll back unless committed. Errors become
// StoreError with the database's path in the message.
#include "site/store/SiteStore.h"

#include <sqlite3.h>

#include <cstdint>
#include <memory>
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

class SqliteConnection {
public:
    // flags as for sqlite3_open_v2. A statement that finds the database locked retries for up
    // to ten seconds before it fails; that is set before anything is read.
    SqliteConnection(std::string path, int flags);

    // Runs statements without parameters or results (pragmas, schema).
    void Execute(const char* sql);
    // The statement for sql, prepared on first use. sql must be a string literal: its address
    // is the key.
    sqlite3_stmt* Prepared(const char* sql);

    [[noreturn]] void Fail(int code) const;
    const std::string& Path() const { return m_path; }
    sqlite3* Get() const { return m_database.get(); }

private:
    std::string m_path;
    DatabaseHandle m_database;
    std::unordered_map<const char*, StatementHandle> m_statements;
};

// One use of a prepared statement; reset when it goes, so the statement can be used again.
class Query {
public:
    Query(SqliteConnection& connection, const char* sql);
    ~Query();
    Query(const Query&) = delete;
    Query& operator=(const Query&) = delete;

    Query& Bind(int index, int64_t value);
    Query& Bind(int index, std::string_view text);
    Query& Bind(int index, std::span<const uint8_t> blob);
    Query& BindNull(int index);

    // True while there is a row to read.
    bool Step();
    // Steps through a statement that returns no rows.
    void Run();

    int64_t Integer(int column) const;
    std::optional<int64_t> OptionalInteger(int column) const;
    std::string Text(int column) const;
    std::optional<std::string> OptionalText(int column) const;
    std::vector<uint8_t> Blob(int column) const;

private:
    void Check(int code) const;

    SqliteConnection& m_connection;
    sqlite3_stmt* m_statement;
};

// BEGIN IMMEDIATE: takes the write lock at once, so a read-then-write inside cannot be
// overtaken by another process between its read and its write.
class ImmediateTransaction {
public:
    // Durable: the commit waits until it is on the disk, whatever the connection's setting;
    // for what a power cut must not undo.
    enum class Durability { AsConnection, Durable };

    explicit ImmediateTransaction(SqliteConnection& connection, Durability durability = Durability::AsConnection);
    ~ImmediateTransaction();
    ImmediateTransaction(const ImmediateTransaction&) = delete;
    ImmediateTransaction& operator=(const ImmediateTransaction&) = delete;

    void Commit();

private:
    SqliteConnection& m_connection;
    Durability m_durability;
    bool m_open = true;
};
