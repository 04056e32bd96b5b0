#include "site/store/SqlSiteStore.h"

#include "logon/AuthenticatorText.h"
#include "site/verifier/Identity.h"

template <typename Row, typename Make>
std::vector<Row> SqlSiteStore::Rows(const StoreStatement& statement, SqlValues parameters, Make make)
{
    std::vector<Row> rows;
    Read(statement, parameters, [&](const SqlRow& row) { rows.push_back(make(row)); });
    return rows;
}

std::optional<SessionHolder> SqlSiteStore::FindSession(const SessionHash& session, int64_t openedSince)
{
    std::optional<SessionHolder> holder;
    Read(Statements().findSession, {Bytes(session), openedSince}, [&](const SqlRow& row) {
        if (const auto identity = ParseIdentity(row.Text(1)))
            holder = SessionHolder{row.Text(0), *identity};
    });
    return holder;
}

void SqlSiteStore::EndSession(const SessionHash& session)
{
    Change(Durability::Durable, Statements().endSession, {Bytes(session)});
}

std::optional<ClientKey> SqlSiteStore::ClientKeyOf(int64_t client)
{
    std::optional<std::string> digits;
    Read(Statements().clientKey, {client}, [&](const SqlRow& row) { digits = row.Text(0); });
    if (!digits)
        return std::nullopt;
    const auto key = ParseHexBytes<std::tuple_size_v<ClientKey>>(*digits);
    if (!key)
        throw StoreError(m_name + ": the key of client " + std::to_string(client) + " is damaged");
    return key;
}

void SqlSiteStore::Tidy(int64_t now)
{
    TidyRound(now, kTidyRows);
}

int64_t SqlSiteStore::CopyInto(SqlSiteStore& destination)
{
    int64_t rows = 0;
    const auto reading = BeginReading();
    const auto writing = destination.Begin(Durability::Durable);
    for (const TableCopy& copy : TableCopies()) {
        writing->Run(copy.anyRow, {}, [&](const SqlRow&) {
            throw StoreError(destination.m_name + " already holds a site's records (in " + copy.table +
                             "); copy only into an empty store");
        });
    }
    for (const TableCopy& copy : TableCopies()) {
        std::vector<SqlValue> values;
        reading->Run(copy.allRows, {}, [&](const SqlRow& row) {
            values.clear();
            for (int column = 0; column < row.Columns(); ++column)
                values.push_back(row.Value(column));
            writing->Run(InsertRow(copy.table, values.size()), std::span<const SqlValue>(values));
            ++rows;
        });
    }
    destination.CopiedIn();
    writing->Commit();
    return rows;
}

std::optional<bool> SqlSiteStore::TokenActive(SqlTransaction& transaction, const std::string& identity)
{
    std::optional<bool> active;
    transaction.Run(Statements().findToken, {identity}, [&](const SqlRow& row) { active = !row.OptionalInteger(1); });
    return active;
}

EnrollResult SqlSiteStore::Enroll(const RomBytes& identity, std::string_view account, int64_t now)
{
    const std::string key = FormatIdentity(identity);
    const auto transaction = Begin(Durability::Durable);
    if (TokenActive(*transaction, key).value_or(false))
        return EnrollResult::AlreadyEnrolled;
    transaction->Run(Statements().enroll, {key, account, now});
    transaction->Run(Statements().endTokenSessions, {key});
    transaction->Commit();
    return EnrollResult::Enrolled;
}

RevokeResult SqlSiteStore::Revoke(const RomBytes& identity, int64_t now)
{
    const std::string key = FormatIdentity(identity);
    const auto transaction = Begin(Durability::Durable);
    const std::optional<bool> active = TokenActive(*transaction, key);
    if (!active)
        return RevokeResult::NotEnrolled;
    if (!*active)
        return RevokeResult::AlreadyRevoked;
    transaction->Run(Statements().revoke, {key, now});
    transaction->Run(Statements().endTokenSessions, {key});
    transaction->Commit();
    return RevokeResult::Revoked;
}

std::vector<TokenEntry> SqlSiteStore::Tokens()
{
    return Rows<TokenEntry>(Statements().listTokens, {}, [](const SqlRow& row) {
        return TokenEntry{row.Text(0), row.Text(1), row.OptionalInteger(2).has_value()};
    });
}

std::vector<AttemptEntry> SqlSiteStore::RecentAttempts(int count)
{
    return Rows<AttemptEntry>(Statements().recentAttempts, {int64_t{count}}, [](const SqlRow& row) {
        return AttemptEntry{row.Integer(0), row.Text(1), row.OptionalText(2), row.Text(3)};
    });
}

std::vector<NetworkFailures> SqlSiteStore::FailuresByNetwork(int64_t since)
{
    return Rows<NetworkFailures>(Statements().failuresByNetwork, {since}, [](const SqlRow& row) {
        return NetworkFailures{row.Text(0), row.Integer(1), row.Integer(2), row.Integer(3)};
    });
}

std::vector<DailyCount> SqlSiteStore::DailyCounts(int64_t since)
{
    return Rows<DailyCount>(Statements().dailyCounts, {since - since % kSecondsPerDay}, [](const SqlRow& row) {
        return DailyCount{row.Integer(0), row.Text(1), row.Text(2), row.Integer(3)};
    });
}

std::vector<ApiClient> SqlSiteStore::Clients()
{
    return Rows<ApiClient>(Statements().listClients, {}, [](const SqlRow& row) {
        return ApiClient{row.Integer(0), row.Text(1), row.Integer(2)};
    });
}

bool SqlSiteStore::RemoveClient(int64_t client)
{
    const auto transaction = Begin(Durability::Durable);
    const bool removed = transaction->Run(Statements().removeClient, {client}) > 0;
    transaction->Run(Statements().removeClientNonces, {client});
    transaction->Commit();
    return removed;
}

void SqlSiteStore::Forget(const RomBytes& identity)
{
    const std::string key = FormatIdentity(identity);
    const auto transaction = Begin(Durability::Durable);
    for (const StoreStatement& statement : Statements().forgetToken)
        transaction->Run(statement, {key});
    transaction->Commit();
}

PruneReport SqlSiteStore::TidyRound(int64_t now, int64_t rows)
{
    const auto transaction = Begin(Durability::Unsynced);
    PruneReport report;
    report.attemptsFolded = FoldAttempts(now - kAttemptKeepSeconds, rows);
    report.sessionsEnded = transaction->Run(Statements().endOldSessions, {now - kSessionLifetimeSeconds, rows});
    transaction->Run(Statements().dropOldBrakes, {now});
    transaction->Run(Statements().dropOldNonces, {now - kNonceKeepSeconds});
    transaction->Run(Statements().dropOldDays, {now - kDailyKeepSeconds});
    transaction->Commit();
    return report;
}

PruneReport SqlSiteStore::TidyAll(int64_t now, const std::function<void()>& afterRound)
{
    PruneReport total;
    for (;;) {
        const PruneReport round = TidyRound(now, kPruneRows);
        total.attemptsFolded += round.attemptsFolded;
        total.sessionsEnded += round.sessionsEnded;
        afterRound();
        if (round.attemptsFolded < kPruneRows && round.sessionsEnded < kPruneRows)
            return total;
    }
}

std::vector<std::string> SqlSiteStore::RowFaults()
{
    std::vector<std::string> faults;
    for (const StoreStatement& check : Statements().rowChecks)
        Read(check, {}, [&](const SqlRow& row) { faults.push_back(row.Text(0)); });
    return faults;
}
