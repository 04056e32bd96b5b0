#pragma once
// A thin layer over libpq: an owned connection, statements prepared once per connection with
// bound parameters, results owned until read, and transactions that roll back unless
// committed. Errors become StoreError: a connection that is gone, a server that is shutting
// down or starting up is Unreachable (the next request connects again), contention is Busy,
// a full disk is Full, everything else is Broken: a setting that cancels the site's statements
// or ends its transactions (statement_timeout, idle_in_transaction_session_timeout) too, for it
// stays until the operator changes it.
#include "site/store/SiteStore.h"
#include "site/store/StoreSql.h"

#include <libpq-fe.h>

#include <cstdint>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

template <typename Handle, auto Close>
struct PgCloser {
    void operator()(Handle* handle) const noexcept { Close(handle); }
};
using PgConnectionHandle = std::unique_ptr<PGconn, PgCloser<PGconn, PQfinish>>;
using PgResultHandle = std::unique_ptr<PGresult, PgCloser<PGresult, PQclear>>;

// The rows of one statement, read as text.
class PgResult {
public:
    explicit PgResult(PgResultHandle result) : m_result(std::move(result)) {}

    int Rows() const { return PQntuples(m_result.get()); }
    bool IsNull(int row, int column) const { return PQgetisnull(m_result.get(), row, column) != 0; }
    std::string Text(int row, int column) const;
    std::optional<std::string> OptionalText(int row, int column) const;
    int64_t Integer(int row, int column) const;
    std::optional<int64_t> OptionalInteger(int row, int column) const;
    bool Boolean(int row, int column) const;
    // Any column: a whole number or bytes as its type says, all else as text.
    int Columns() const { return PQnfields(m_result.get()); }
    SqlValue Value(int row, int column) const;
    // Rows inserted, updated or deleted.
    int64_t Affected() const;

private:
    PgResultHandle m_result;
};

// A statement's text (one that lasts as long as the program: its address is the key of the
// prepared statement) and whether it may be resent.
struct PgSql {
    constexpr PgSql(const char* text, Resend resend) : text(text), resend(resend) {}
    PgSql(const StoreStatement& statement) : text(statement.postgres.c_str()), resend(statement.resend) {}

    const char* text;
    Resend resend;
};

// One statement of a batch and its parameters.
struct PgStatement {
    PgSql sql;
    std::vector<SqlValue> parameters;
};

// A test's hand on the wire; none in production. Told of every exchange with the server before
// it is sent and once it is sent (its answer not yet read), it may cut the connection then: the
// two moments at which a lost connection leaves the client knowing nothing, or not knowing
// whether the server ran what it was sent.
class PgWireTap {
public:
    virtual ~PgWireTap() = default;
    virtual void BeforeSending(PGconn* connection) = 0;
    virtual void Sent(PGconn* connection) = 0;
};

// Every connection of the process reports to tap from now on; nullptr for none.
void TapPgWire(PgWireTap* tap);

// A connection kept across requests may have been ended by the server long before (a restart,
// an idle timeout), which shows only when it is next used; then a statement that may be resent
// (Resend::Allowed) connects again and goes once more. But a statement's first sending may have
// run on the server before the connection was lost, so only one whose second run changes nothing
// may be resent: a read, a BEGIN, a delete by key, an update to fixed values. Every other is sent
// once, and after a lost connection its caller finds out what became of it. Each statement of the
// stores says which it is where its text is written.
class PgConnection {
public:
    // Connects at once; StoreError (Unreachable) when the server cannot be reached or refuses.
    explicit PgConnection(const std::string& address);

    // Statements without parameters (schema, transaction control); several may be given, in
    // one round trip. Resent only as a whole when it may be.
    void Execute(const PgSql& sql);
    // text as an SQL string literal, quoted for this connection, to write into Execute's sql.
    std::string Literal(std::string_view text);
    // sql prepared on first use on this connection, then run with these parameters.
    PgResult Run(const PgSql& sql, SqlValues parameters = {});
    // Statements sent together and answered together, in one round trip (libpq's pipeline
    // mode), run in turn as Run runs each; their results in order. When one fails, the later
    // ones are not run, a transaction they were in is rolled back, and StoreError tells why.
    // Resent only when every one of them may be.
    std::vector<PgResult> RunTogether(std::initializer_list<PgStatement> statements);
    // The name sql is prepared under on this connection, preparing it on first use.
    const std::string& Prepared(const PgSql& sql, std::size_t parameters);
    // Ends a transaction left open (after a failure between two batches); never throws.
    void RollBackIfOpen() noexcept;

    // The connection was found lost: what was sent last may or may not have run.
    bool Lost() const;
    // The connection was lost after a statement sent alone (Run, Execute) went out and before
    // the server said how it ended: it may have run and been committed. Not when nothing went
    // out (connecting again failed first), nor when the server refused it before completing it.
    bool AnswerLost() const;
    // Connects again, trying for up to seconds while the server is away (a restart); StoreError
    // (Unreachable) when it stays away.
    void Reconnect(int seconds);

    // The address without its password, for messages.
    const std::string& Name() const { return m_name; }

private:
    template <typename Send>
    auto Retried(bool resendable, Send send) -> decltype(send());
    PgResult Exchange(const std::function<int()>& send);
    PgResult RunOnce(const PgSql& sql, SqlValues parameters);
    std::vector<PgResult> RunTogetherOnce(std::initializer_list<PgStatement> statements);
    [[noreturn]] void Fail(const PGresult* result);
    void CheckConnected();
    bool EndedWhileIdle() const;
    void Reset();

    std::string m_name;
    PgConnectionHandle m_connection;
    std::unordered_map<const char*, std::string> m_prepared;
    bool m_answerLost = false;
};

// BEGIN at the default isolation level (read committed); rolled back unless committed. A
// durable commit waits until the server has flushed it to disk (the server's default); an
// unsynced one turns synchronous_commit off for the transaction.
class PgTransaction {
public:
    PgTransaction(PgConnection& connection, Durability durability);
    ~PgTransaction();
    PgTransaction(const PgTransaction&) = delete;
    PgTransaction& operator=(const PgTransaction&) = delete;

    // StoreError (Unresolved) when the connection is lost while committing: the server may
    // have made the change or not.
    void Commit();

private:
    PgConnection& m_connection;
    bool m_open = true;
};
