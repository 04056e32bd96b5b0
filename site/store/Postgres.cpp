#include "site/store/Postgres.h"

#include <cstdlib>
#include <cstring>
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
// (or is starting up or shutting down), contention, or a full disk.
StoreError::Kind KindOf(const char* state)
{
    const std::string_view code = state ? state : "";
    if (code.empty() || code.starts_with("08") || code.starts_with("57P"))
        return StoreError::Kind::Unreachable;
    if (code == "53100")
        return StoreError::Kind::Full;
    if (code.starts_with("53") || code.starts_with("40") || code == "55P03" || code == "57014")
        return StoreError::Kind::Busy;
    return StoreError::Kind::Broken;
}

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

int64_t PgResult::Integer(int row, int column) const
{
    return std::strtoll(PQgetvalue(m_result.get(), row, column), nullptr, 10);
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

template <typename Send>
auto PgConnection::Retried(Send send) -> decltype(send())
{
    const bool idle = PQtransactionStatus(m_connection.get()) == PQTRANS_IDLE;
    try {
        return send();
    } catch (const StoreError& error) {
        if (!idle || PQstatus(m_connection.get()) != CONNECTION_BAD)
            throw;
    }
    PQreset(m_connection.get());
    CheckConnected();
    m_prepared.clear();
    return send();
}

void PgConnection::Execute(const char* sql)
{
    Retried([&] { return Check(PgResultHandle(PQexec(m_connection.get(), sql))); });
}

std::string PgConnection::Literal(std::string_view text)
{
    const std::unique_ptr<char, PgCloser<void, PQfreemem>> quoted(
        PQescapeLiteral(m_connection.get(), text.data(), text.size()));
    if (!quoted)
        Fail(nullptr);
    return quoted.get();
}

PgResult PgConnection::Run(const char* sql, std::initializer_list<PgValue> parameters)
{
    return Retried([&] { return RunOnce(sql, parameters); });
}

const std::string& PgConnection::Prepared(const char* sql, std::size_t parameters)
{
    auto [entry, fresh] = m_prepared.try_emplace(sql, "s" + std::to_string(m_prepared.size()));
    if (fresh) {
        PgResultHandle prepared(
            PQprepare(m_connection.get(), entry->second.c_str(), sql, static_cast<int>(parameters), nullptr));
        if (!prepared || PQresultStatus(prepared.get()) != PGRES_COMMAND_OK) {
            m_prepared.erase(entry);
            Fail(prepared.get());
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
        for (const PgValue& parameter : parameters) {
            values.push_back(parameter.Data());
            lengths.push_back(parameter.Length());
            formats.push_back(parameter.Format());
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

PgResult PgConnection::RunOnce(const char* sql, std::initializer_list<PgValue> parameters)
{
    const std::string& name = Prepared(sql, parameters.size());
    const Parameters values(parameters);
    return Check(PgResultHandle(PQexecPrepared(m_connection.get(), name.c_str(), values.Count(), values.values.data(),
                                               values.lengths.data(), values.formats.data(), 0)));
}

std::vector<PgResult> PgConnection::RunTogether(std::initializer_list<PgStatement> statements)
{
    return Retried([&] { return RunTogetherOnce(statements); });
}

std::vector<PgResult> PgConnection::RunTogetherOnce(std::initializer_list<PgStatement> statements)
{
    std::vector<const std::string*> names;
    for (const PgStatement& statement : statements)
        names.push_back(&Prepared(statement.sql, statement.parameters.size()));
    PGconn* connection = m_connection.get();
    if (PQenterPipelineMode(connection) != 1)
        Fail(nullptr);
    bool sent = true;
    for (std::size_t i = 0; const PgStatement& statement : statements) {
        const Parameters values(statement.parameters);
        sent = sent && PQsendQueryPrepared(connection, names[i++]->c_str(), values.Count(), values.values.data(),
                                           values.lengths.data(), values.formats.data(), 0) == 1;
    }
    sent = sent && PQpipelineSync(connection) == 1;
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
        lost = !PgResultHandle(PQgetResult(connection));
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

PgResult PgConnection::Check(PgResultHandle result)
{
    const ExecStatusType status = result ? PQresultStatus(result.get()) : PGRES_FATAL_ERROR;
    if (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK)
        Fail(result.get());
    return PgResult(std::move(result));
}

void PgConnection::Fail(const PGresult* result)
{
    const char* state = result ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    StoreError::Kind kind = KindOf(state);
    if (PQstatus(m_connection.get()) == CONNECTION_BAD)
        kind = StoreError::Kind::Unreachable;
    const char* message = result ? PQresultErrorMessage(result) : "";
    if (!message || !*message)
        message = PQerrorMessage(m_connection.get());
    throw StoreError(m_name + ": " + FirstLine(message), kind);
}

PgTransaction::PgTransaction(PgConnection& connection, Durability durability) : m_connection(connection)
{
    m_connection.Execute(durability == Durability::Flushed ? "BEGIN" : "BEGIN; SET LOCAL synchronous_commit = off");
}

PgTransaction::~PgTransaction()
{
    if (!m_open)
        return;
    try {
        m_connection.Execute("ROLLBACK");
    } catch (const StoreError&) {
        // The connection is gone, and the server rolls back whatever it had begun.
    }
}

void PgTransaction::Commit()
{
    m_connection.Execute("COMMIT");
    m_open = false;
}
