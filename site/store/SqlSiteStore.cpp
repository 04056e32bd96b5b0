#include "site/store/SqlSiteStore.h"

#include "logon/AuthenticatorText.h"
#include "site/verifier/Identity.h"

#include <algorithm>
#include <map>

namespace {

SignInPath PathNamed(const std::string& word)
{
    for (const SignInPath path : {SignInPath::Page, SignInPath::Api, SignInPath::Oidc}) {
        if (SignInPathWord(path) == word)
            return path;
    }
    return SignInPath::Page;
}

// Attempts of one slot with one outcome, as the admin page plots them.
Activity SlotOf(int64_t at, const std::string& outcome, int64_t count)
{
    Activity slot{at};
    if (outcome == OutcomeName(Outcome::Accepted))
        slot.signIns = count;
    else if (outcome == OutcomeName(Outcome::TooManyFailures))
        slot.refusals = count;
    else
        slot.failures = count;
    return slot;
}

// The sign-ins of one row of the record at or after since; its times not kept said on the
// oldest one.
void AddSignIns(const SqlRow& row, int64_t since, std::vector<SignInEntry>& entries)
{
    const std::vector<int64_t> times = SignInTimes(row.Integer(0), row.Text(5));
    const auto first = entries.size();
    for (const int64_t at : times) {
        if (at >= since)
            entries.push_back({at, row.Text(2), row.Text(1), row.Text(3), PathNamed(row.Text(4)), 0});
    }
    const int64_t untimed = row.Integer(6) - static_cast<int64_t>(times.size());
    const auto oldest = std::min_element(entries.begin() + static_cast<std::ptrdiff_t>(first), entries.end(),
                                         [](const SignInEntry& a, const SignInEntry& b) { return a.at < b.at; });
    if (untimed > 0 && oldest != entries.end())
        oldest->earlier = untimed;
}

} // namespace

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

StoreFigures SqlSiteStore::Figures(int64_t now)
{
    StoreFigures figures;
    ReadAside(Statements().figures, {now - kSessionLifetimeSeconds}, [&](const SqlRow& row) {
        figures.counts[{row.Text(0), row.Text(1)}] += row.Integer(2);
    });
    figures.bytes = Footprint();
    return figures;
}

void SqlSiteStore::AddCounts(const Counts& counts)
{
    const auto transaction = Begin(Durability::Unsynced);
    for (const auto& [name, count] : counts)
        transaction->Run(Statements().addCount, {name.first, name.second, count});
    transaction->Commit();
}

bool SqlSiteStore::IsAdmin(std::string_view account)
{
    bool admin = false;
    Read(Statements().isAdmin, {account}, [&](const SqlRow&) { admin = true; });
    return admin;
}

std::vector<Activity> SqlSiteStore::ActivitySince(const StoreStatement& statement, int64_t since, int64_t step)
{
    return Rows<Activity>(statement, {since - since % step, step},
                          [](const SqlRow& row) { return SlotOf(row.Integer(0), row.Text(1), row.Integer(2)); });
}

SiteOverview SqlSiteStore::Overview(const OverviewRequest& request)
{
    SiteOverview overview;
    overview.hourly = ActivitySince(Statements().hourlyActivity, request.hourlySince, kSecondsPerHour);
    overview.daily = ActivitySince(Statements().dailyActivity, request.dailySince, kSecondsPerDay);
    overview.tokens = Tokens();
    std::map<std::string, int64_t> latest;
    Read(Statements().lastSignIns, {}, [&](const SqlRow& row) {
        for (const int64_t at : SignInTimes(row.Integer(1), row.Text(2)))
            latest[row.Text(0)] = std::max(latest[row.Text(0)], at);
    });
    for (TokenEntry& token : overview.tokens) {
        if (const auto found = latest.find(token.identity); found != latest.end())
            token.lastSignIn = found->second;
    }
    const int64_t budgetsSince = request.budgetsSince - request.budgetsSince % kSecondsPerDay;
    overview.budgets =
        Rows<BudgetEntry>(Statements().spentBudgets, {budgetsSince, request.budgets}, [](const SqlRow& row) {
            return BudgetEntry{row.Text(0), row.Text(1), row.Integer(2), row.Integer(3)};
        });
    overview.signIns = SignIns(0, std::nullopt, request.signIns);
    return overview;
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
        return TokenEntry{row.Text(0), row.Text(1), row.OptionalInteger(2).has_value(), std::nullopt};
    });
}

std::vector<SignInEntry> SqlSiteStore::SignIns(int64_t since, const std::optional<std::string>& account, int64_t most)
{
    if (most <= 0)
        return {};
    std::vector<SignInEntry> entries;
    Read(Statements().signIns, {SignInWeek(since), account, most - 1},
         [&](const SqlRow& row) { AddSignIns(row, since, entries); });
    std::stable_sort(entries.begin(), entries.end(),
                     [](const SignInEntry& a, const SignInEntry& b) { return a.at > b.at; });
    if (static_cast<int64_t>(entries.size()) > most)
        entries.resize(static_cast<std::size_t>(most));
    return entries;
}

bool SqlSiteStore::GrantAdmin(std::string_view account, int64_t now)
{
    return Change(Durability::Durable, Statements().grantAdmin, {account, now}) > 0;
}

bool SqlSiteStore::RevokeAdmin(std::string_view account)
{
    return Change(Durability::Durable, Statements().revokeAdmin, {account}) > 0;
}

std::vector<AdminEntry> SqlSiteStore::Admins()
{
    return Rows<AdminEntry>(Statements().listAdmins, {}, [](const SqlRow& row) {
        return AdminEntry{row.Text(0), row.Integer(1)};
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
    report.attemptsFolded = FoldAttempts(now - kAttemptKeepSeconds, now - kHourlyKeepSeconds, rows);
    report.sessionsEnded = transaction->Run(Statements().endOldSessions, {now - kSessionLifetimeSeconds, rows});
    transaction->Run(Statements().dropOldBrakes, {now});
    transaction->Run(Statements().dropOldNonces, {now - kNonceKeepSeconds});
    for (const StoreStatement& keep : Statements().keepCountsOfDays)
        transaction->Run(keep, {now - kDailyKeepSeconds});
    transaction->Run(Statements().dropOldDays, {now - kDailyKeepSeconds});
    transaction->Run(Statements().dropOldHours, {now - kHourlyKeepSeconds});
    transaction->Run(Statements().dropOldSignIns, {now - kSignInKeepDays * kSecondsPerDay - kSignInWeekSeconds});
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
