#include "site/store/PgConnection.h"

#include <poll.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <thread>
#include <vector>

namespace {

// The URI as given, less any password in its user part.
std::string WithoutPassword(const std::string& address)
{
    const std::size_t scheme = address.find("://");
    if (scheme == std::string::npos)
        return address;
    const std::size_t start = scheme + 3;
    const std::size_t at = address.find('@', start);
    const std::size_t slash = address.find('/', start);
    if (at == std::string::npos || (slash != std::string::npos && slash < at))
        return address;
    const std::size_t colon = address.find(':', start);
    if (colon == std::string::npos || colon > at)
        return address;
    return address.substr(0, colon) + address.substr(at);
}

// SQLSTATE classes and codes that pass by themselves: the connection or the server went away
// (or is starting up or shutting down), contention, or a full disk. A statement cancelled by
// statement_timeout and a session ended by idle_in_transaction_session_timeout are Broken: the
// site's statements and transactions are short, so a timeout that ends them is a setting the
// operator must change, and would end them again every time.
StoreError::Kind KindOf(std::string_view code)
{
    if (code == "57014" || code == "25P03")
        return StoreError::Kind::Broken;
    if (code.empty() || code.starts_with("08") || code.starts_with("57P"))
        return StoreError::Kind::Unreachable;
    if (code == "53100")
        return StoreError::Kind::Full;
    if (code.starts_with("53") || code.starts_with("40") || code == "55P03")
        return StoreError::Kind::Busy;
    return StoreError::Kind::Broken;
}

// What the operator is to change, for the errors that name a setting.
std::string_view Hint(std::string_view code)
{
    if (code == "57014")
        return " (statement_timeout or the server's cancelling: the site's statements take milliseconds; allow them "
               "seconds)";
    if (code == "25P03")
        return " (idle_in_transaction_session_timeout: the operator's commands wait between the statements of a"
               " transaction; allow it seconds)";
    return "";
}

std::atomic<PgWireTap*> g_tap{nullptr};

// How long Reconnect waits between tries.
constexpr auto kReconnectPause = std::chrono::milliseconds(100);

// Notices (a table that was not there to drop, a transaction already ended) are not faults;
// libpq would print them on standard error, which is the web server's log.
void IgnoreNotice(void*, const char*) {}

std::string FirstLine(const char* message)
{
    const std::string text = message ? message : "";
    return text.substr(0, text.find('\n'));
}

} // namespace

std::string PgResult::Text(int row, int column) const
{
    return std::string(PQgetvalue(m_result.get(), row, column),
                       static_cast<std::size_t>(PQgetlength(m_result.get(), row, column)));
}

std::optional<std::string> PgResult::OptionalText(int row, int column) const
{
    if (IsNull(row, column))
        return std::nullopt;
    return Text(row, column);
}

SqlValue PgResult::Value(int row, int column) const
{
    // The types' numbers in the server's catalog (pg_type).
    constexpr Oid kBytes = 17, kBigint = 20, kSmallint = 21, kInteger = 23;
    if (IsNull(row, column))
        return std::nullopt;
    switch (PQftype(m_result.get(), column)) {
    case kBigint:
    case kSmallint:
    case kInteger:
        return Integer(row, column);
    case kBytes: {
        std::size_t length = 0;
        const std::unique_ptr<unsigned char, PgCloser<void, PQfreemem>> bytes(
            PQunescapeBytea(reinterpret_cast<const unsigned char*>(PQgetvalue(m_result.get(), row, column)), &length));
        if (!bytes)
            throw StoreError("out of memory reading bytes from the server");
        return SqlValue(std::span<const uint8_t>(bytes.get(), length));
    }
    default:
        return Text(row, column);
    }
}

int64_t PgResult::Integer(int row, int column) const
{
    return std::strtoll(PQgetvalue(m_result.get(), row, column), nullptr, 10);
}

std::optional<int64_t> PgResult::OptionalInteger(int row, int column) const
{
    if (IsNull(row, column))
        return std::nullopt;
    return Integer(row, column);
}

bool PgResult::Boolean(int row, int column) const
{
    return PQgetvalue(m_result.get(), row, column)[0] == 't';
}

int64_t PgResult::Affected() const
{
    return std::strtoll(PQcmdTuples(m_result.get()), nullptr, 10);
}

PgConnection::PgConnection(const std::string& address)
    : m_name(WithoutPassword(address)), m_connection(PQconnectdb(address.c_str()))
{
    if (!m_connection)
        throw StoreError(m_name + ": out of memory", StoreError::Kind::Busy);
    CheckConnected();
    PQsetNoticeProcessor(m_connection.get(), IgnoreNotice, nullptr);
}

void PgConnection::CheckConnected()
{
    if (PQstatus(m_connection.get()) != CONNECTION_OK)
        throw StoreError(m_name + " cannot be reached: " + FirstLine(PQerrorMessage(m_connection.get())),
                         StoreError::Kind::Unreachable);
}

void TapPgWire(PgWireTap* tap)
{
    g_tap = tap;
}

// The server ends an idle connection (a restart, its idle timeout, the end of a failed primary)
// with its last words, and the site listens for nothing else: anything waiting to be read while
// no statement is under way means the connection is over.
bool PgConnection::EndedWhileIdle() const
{
    pollfd socket{PQsocket(m_connection.get()), POLLIN, 0};
    return PQtransactionStatus(m_connection.get()) == PQTRANS_IDLE && poll(&socket, 1, 0) > 0;
}

template <typename Send>
auto PgConnection::Retried(bool resendable, Send send) -> decltype(send())
{
    // Found lost before (by a statement that may not be resent), or ended by the server while
    // idle: connected again first, so that a statement that may not be resent is not sent into
    // a connection that is over.
    if (Lost() || EndedWhileIdle())
        Reset();
    const bool idle = PQtransactionStatus(m_connection.get()) == PQTRANS_IDLE;
    try {
        return send();
    } catch (const StoreError&) {
        if (!resendable || !idle || !Lost())
            throw;
    }
    Reset();
    return send();
}

bool PgConnection::Lost() const
{
    return PQstatus(m_connection.get()) == CONNECTION_BAD;
}

bool PgConnection::AnswerLost() const
{
    return m_answerLost && Lost();
}

void PgConnection::Reset()
{
    m_answerLost = false;
    PQreset(m_connection.get());
    m_prepared.clear();
    CheckConnected();
}

void PgConnection::Reconnect(int seconds)
{
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
    for (;;) {
        try {
            Reset();
            return;
        } catch (const StoreError&) {
            if (std::chrono::steady_clock::now() + kReconnectPause > deadline)
                throw;
        }
        std::this_thread::sleep_for(kReconnectPause);
    }
}

// One exchange outside pipeline mode: sent, then every result read to the end. The last result,
// or StoreError for the first that failed; a connection lost on the way leaves no result.
PgResult PgConnection::Exchange(const std::function<int()>& send)
{
    PGconn* connection = m_connection.get();
    PgWireTap* tap = g_tap;
    if (tap)
        tap->BeforeSending(connection);
    m_answerLost = false;
    if (send() != 1)
        Fail(nullptr);
    if (tap)
        tap->Sent(connection);
    PgResultHandle last;
    PgResultHandle failure;
    while (PgResultHandle result{PQgetResult(connection)}) {
        const ExecStatusType status = PQresultStatus(result.get());
        if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK) {
            if (!failure)
                failure = std::move(result);
        } else {
            last = std::move(result);
        }
    }
    if (failure || !last || Lost()) {
        // A statement the server refused before completing it was not committed, even when the
        // server then ended the connection (a shutdown ends the statements under way so).
        m_answerLost = Lost() && (last || !failure || !PQresultErrorField(failure.get(), PG_DIAG_SQLSTATE));
        Fail(failure.get());
    }
    return PgResult(std::move(last));
}

void PgConnection::Execute(const PgSql& sql)
{
    Retried(sql.resend == Resend::Allowed,
            [&] { return Exchange([&] { return PQsendQuery(m_connection.get(), sql.text); }); });
}

std::string PgConnection::Literal(std::string_view text)
{
    const std::unique_ptr<char, PgCloser<void, PQfreemem>> quoted(
        PQescapeLiteral(m_connection.get(), text.data(), text.size()));
    if (!quoted)
        Fail(nullptr);
    return quoted.get();
}

PgResult PgConnection::Run(const PgSql& sql, SqlValues parameters)
{
    // Preparing changes nothing but the connection's own statements: it may always go again.
    Retried(true, [&] { return &Prepared(sql, parameters.size()); });
    return Retried(sql.resend == Resend::Allowed, [&] { return RunOnce(sql, parameters); });
}

const std::string& PgConnection::Prepared(const PgSql& sql, std::size_t parameters)
{
    auto [entry, fresh] = m_prepared.try_emplace(sql.text, "s" + std::to_string(m_prepared.size()));
    if (fresh) {
        try {
            Exchange([&] {
                return PQsendPrepare(m_connection.get(), entry->second.c_str(), sql.text, static_cast<int>(parameters),
                                     nullptr);
            });
        } catch (const StoreError&) {
            m_prepared.erase(entry);
            throw;
        }
    }
    return entry->second;
}

namespace {

// A statement's parameters as libpq takes them.
struct Parameters {
    template <typename Range>
    explicit Parameters(const Range& parameters)
    {
        for (const SqlValue& parameter : parameters) {
            const bool present = parameter.kind() != SqlValue::Kind::Null;
            values.push_back(present ? parameter.Bytes().c_str() : nullptr);
            lengths.push_back(static_cast<int>(parameter.Bytes().size()));
            formats.push_back(parameter.kind() == SqlValue::Kind::Bytes ? 1 : 0);
        }
    }
    int Count() const { return static_cast<int>(values.size()); }

    std::vector<const char*> values;
    std::vector<int> lengths;
    std::vector<int> formats;
};

bool Succeeded(const PGresult* result)
{
    const ExecStatusType status = PQresultStatus(result);
    return status == PGRES_COMMAND_OK || status == PGRES_TUPLES_OK;
}

} // namespace

PgResult PgConnection::RunOnce(const PgSql& sql, SqlValues parameters)
{
    const std::string& name = Prepared(sql, parameters.size());
    const Parameters values(parameters);
    return Exchange([&] {
        return PQsendQueryPrepared(m_connection.get(), name.c_str(), values.Count(), values.values.data(),
                                   values.lengths.data(), values.formats.data(), 0);
    });
}

std::vector<PgResult> PgConnection::RunTogether(std::initializer_list<PgStatement> statements)
{
    const bool resendable = std::all_of(statements.begin(), statements.end(), [](const PgStatement& statement) {
        return statement.sql.resend == Resend::Allowed;
    });
    Retried(true, [&] {
        for (const PgStatement& statement : statements)
            Prepared(statement.sql, statement.parameters.size());
        return true;
    });
    return Retried(resendable, [&] { return RunTogetherOnce(statements); });
}

std::vector<PgResult> PgConnection::RunTogetherOnce(std::initializer_list<PgStatement> statements)
{
    std::vector<const std::string*> names;
    for (const PgStatement& statement : statements)
        names.push_back(&Prepared(statement.sql, statement.parameters.size()));
    PGconn* connection = m_connection.get();
    PgWireTap* tap = g_tap;
    if (tap)
        tap->BeforeSending(connection);
    if (PQenterPipelineMode(connection) != 1)
        Fail(nullptr);
    bool sent = true;
    for (std::size_t i = 0; const PgStatement& statement : statements) {
        const Parameters values(statement.parameters);
        sent = sent && PQsendQueryPrepared(connection, names[i++]->c_str(), values.Count(), values.values.data(),
                                           values.lengths.data(), values.formats.data(), 0) == 1;
    }
    sent = sent && PQpipelineSync(connection) == 1;
    if (sent && tap)
        tap->Sent(connection);
    // Every statement's results end with a null; the batch ends with the sync's result. After a
    // failure the server skips the rest (their results say so) up to the sync.
    std::vector<PgResult> results;
    PgResultHandle failure;
    bool lost = !sent;
    for (std::size_t i = 0; i < statements.size() && !lost; ++i) {
        PgResultHandle result(PQgetResult(connection));
        lost = !result;
        if (result && Succeeded(result.get()))
            results.emplace_back(std::move(result));
        else if (result && !failure)
            failure = std::move(result);
        while (!lost && PgResultHandle(PQgetResult(connection))) {
        }
    }
    if (!lost)
        lost = !PgResultHandle(PQgetResult(connection)) || Lost();
    PQexitPipelineMode(connection);
    if (lost || failure) {
        RollBackIfOpen();
        Fail(failure.get());
    }
    return results;
}

void PgConnection::RollBackIfOpen() noexcept
{
    if (PQtransactionStatus(m_connection.get()) == PQTRANS_INTRANS ||
        PQtransactionStatus(m_connection.get()) == PQTRANS_INERROR)
        PgResultHandle(PQexec(m_connection.get(), "ROLLBACK"));
}

void PgConnection::Fail(const PGresult* result)
{
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    const std::string_view code = state ? state : "";
    StoreError::Kind kind = KindOf(code);
    if (Lost() && kind != StoreError::Kind::Broken)
        kind = StoreError::Kind::Unreachable;
    const char* message = result ? PQresultErrorMessage(result) : "";
    if (!message || !*message)
        message = PQerrorMessage(m_connection.get());
    throw StoreError(m_name + ": " + FirstLine(message) + std::string(Hint(code)), kind);
}

namespace {

constexpr PgSql kBeginTransaction{"BEGIN", Resend::Allowed};
constexpr PgSql kBeginUnflushed{"BEGIN; SET LOCAL synchronous_commit = off", Resend::Allowed};
constexpr PgSql kCommitTransaction{"COMMIT", Resend::Never};
constexpr PgSql kRollBack{"ROLLBACK", Resend::Never};

} // namespace

PgTransaction::PgTransaction(PgConnection& connection, Durability durability) : m_connection(connection)
{
    m_connection.Execute(durability == Durability::Durable ? kBeginTransaction : kBeginUnflushed);
}

PgTransaction::~PgTransaction()
{
    if (!m_open)
        return;
    try {
        m_connection.Execute(kRollBack);
    } catch (const StoreError&) {
        // The connection is gone, and the server rolls back whatever it had begun.
    }
}

void PgTransaction::Commit()
{
    m_open = false;
    try {
        m_connection.Execute(kCommitTransaction);
    } catch (const StoreError& error) {
        if (!m_connection.Lost())
            throw;
        throw StoreError(std::string(error.what()) + " while committing: whether the change was made is not known",
                         StoreError::Kind::Unresolved);
    }
}
