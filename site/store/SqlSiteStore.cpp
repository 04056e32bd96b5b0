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

// A client's redirect URIs are kept in one column, separated by spaces (none has one).
std::vector<std::string> Words(std::string_view text)
{
    std::vector<std::string> words;
    for (std::size_t start = 0; start < text.size();) {
        const std::size_t end = std::min(text.find(' ', start), text.size());
        if (end > start)
            words.emplace_back(text.substr(start, end - start));
        start = end + 1;
    }
    return words;
}

std::string Joined(const std::vector<std::string>& words)
{
    std::string text;
    for (const std::string& word : words)
        text += (text.empty() ? "" : " ") + word;
    return text;
}

std::optional<std::span<const uint8_t>> OptionalBytes(const std::optional<ProviderHash>& hash)
{
    return hash ? std::optional(Bytes(*hash)) : std::nullopt;
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
            holder = SessionHolder{row.Text(0), *identity, row.Integer(2)};
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

void SqlSiteStore::EndTokenSignIns(SqlTransaction& transaction, const std::string& identity)
{
    for (const StoreStatement* statement :
         {&Statements().endTokenSessions, &Statements().endTokenCodes, &Statements().endTokenAccessTokens})
        transaction.Run(*statement, {identity});
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
    EndTokenSignIns(*transaction, key);
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
    EndTokenSignIns(*transaction, key);
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

ProviderClient SqlSiteStore::ClientOf(const SqlRow& row) const
{
    ProviderClient client{row.Text(0), row.Text(1), Words(row.Text(2)), std::nullopt, row.Integer(4)};
    const std::string digits = row.OptionalText(3).value_or("");
    if (!digits.empty()) {
        client.secretHash = ParseHexBytes<std::tuple_size_v<ProviderHash>>(digits);
        if (!client.secretHash)
            throw StoreError(m_name + ": the secret hash of OpenID Connect client " + client.id + " is damaged");
    }
    return client;
}

std::optional<ProviderClient> SqlSiteStore::FindProviderClient(std::string_view id)
{
    std::optional<ProviderClient> client;
    Read(Statements().findProviderClient, {id}, [&](const SqlRow& row) { client = ClientOf(row); });
    return client;
}

std::vector<ProviderClient> SqlSiteStore::ProviderClients()
{
    return Rows<ProviderClient>(Statements().listProviderClients, {}, [&](const SqlRow& row) { return ClientOf(row); });
}

void SqlSiteStore::AddProviderClient(const ProviderClient& client)
{
    Change(Durability::Durable, Statements().addProviderClient,
           {client.id, client.name, Joined(client.redirectUris), OptionalBytes(client.secretHash), client.addedAt});
}

bool SqlSiteStore::RemoveProviderClient(std::string_view id)
{
    const auto transaction = Begin(Durability::Durable);
    const bool removed = transaction->Run(Statements().removeProviderClient, {id}) > 0;
    transaction->Run(Statements().removeProviderClientCodes, {id});
    transaction->Run(Statements().removeProviderClientTokens, {id});
    transaction->Commit();
    return removed;
}

ProviderKeys SqlSiteStore::ReadProviderKeys()
{
    ProviderKeys keys;
    std::optional<std::string> digits;
    Read(Statements().subjectKey, {}, [&](const SqlRow& row) { digits = row.Text(0); });
    if (digits) {
        keys.subjectKey = ParseHexBytes<std::tuple_size_v<ProviderHash>>(*digits);
        if (!keys.subjectKey)
            throw StoreError(m_name + ": the OpenID Connect subject key is damaged");
    }
    keys.keys = Rows<ProviderKey>(Statements().providerKeys, {}, [](const SqlRow& row) {
        return ProviderKey{row.Text(0), row.Text(1), row.Integer(2), row.OptionalInteger(3)};
    });
    return keys;
}

void SqlSiteStore::StartProvider(const ProviderHash& subjectKey, const ProviderKey& firstKey)
{
    const auto transaction = Begin(Durability::Durable);
    transaction->Run(Statements().addSubjectKey, {Bytes(subjectKey)});
    transaction->Run(Statements().addProviderKey, {firstKey.kid, firstKey.stored, firstKey.madeAt});
    transaction->Commit();
}

void SqlSiteStore::RotateProviderKey(const ProviderKey& next, int64_t now)
{
    const auto transaction = Begin(Durability::Durable);
    transaction->Run(Statements().retireProviderKey, {now});
    transaction->Run(Statements().addProviderKey, {next.kid, next.stored, next.madeAt});
    transaction->Commit();
}

// Unsynced: a crash that loses it only sends the visitor back to the application to sign in.
void SqlSiteStore::AwaitSignIn(const ProviderHash& pending, std::string_view request, int64_t now, int64_t expiresAt)
{
    Change(Durability::Unsynced, Statements().awaitSignIn, {Bytes(pending), request, now, expiresAt});
}

std::optional<PendingAuthorization> SqlSiteStore::FindPendingAuthorization(const ProviderHash& pending, int64_t now)
{
    std::optional<PendingAuthorization> found;
    Read(Statements().findPending, {Bytes(pending), now}, [&](const SqlRow& row) {
        found = PendingAuthorization{row.Text(0), row.Integer(1), row.OptionalInteger(2).has_value()};
    });
    return found;
}

bool SqlSiteStore::IssueCode(const ProviderCode& code, const std::optional<ProviderHash>& pending, int64_t now)
{
    const auto transaction = Begin(Durability::Durable);
    if (pending && transaction->Run(Statements().continuePending, {Bytes(*pending), now}) == 0)
        return false;
    transaction->Run(Statements().addCode,
                     {Bytes(code.hash), code.clientId, code.redirectUri, code.challenge, code.nonce, code.scope,
                      FormatIdentity(code.identity), code.authTime, code.expiresAt});
    transaction->Commit();
    return true;
}

std::optional<CodeRedemption> SqlSiteStore::ClaimCode(SqlTransaction& transaction, const ProviderHash& code,
                                                      int64_t now)
{
    std::optional<CodeRedemption> claimed;
    transaction.Run(Statements().claimCode, {Bytes(code), now}, [&](const SqlRow& row) {
        const auto identity = ParseIdentity(row.Text(5));
        if (!identity)
            throw StoreError(m_name + ": a code's token identity is damaged");
        claimed = CodeRedemption{CodeUse::Redeemed,
                                 {code, row.Text(0), row.Text(1), row.Text(2), row.Text(3), row.Text(4), *identity,
                                  row.Integer(6), row.Integer(7)},
                                 {}};
    });
    if (!claimed)
        return std::nullopt;
    transaction.Run(Statements().activeAccount, {FormatIdentity(claimed->code.identity)},
                    [&](const SqlRow& row) { claimed->account = row.Text(0); });
    return claimed;
}

// Durable: a code that worked must never work again, whatever the machine meets.
CodeRedemption SqlSiteStore::RedeemCode(const ProviderHash& code, int64_t now, const CodeJudgement& judge)
{
    const auto transaction = Begin(Durability::Durable);
    auto claimed = ClaimCode(*transaction, code, now);
    if (!claimed) {
        bool known = false;
        transaction->Run(Statements().findCode, {Bytes(code)}, [&](const SqlRow&) { known = true; });
        if (!known)
            return {};
        transaction->Run(Statements().revokeCodeTokens, {Bytes(code)});
        transaction->Commit();
        return {CodeUse::Reused, {}, {}};
    }
    // A token revoked since the code was issued took the code with it; one revoked meanwhile
    // waits for this step to end and then takes the access token too.
    if (claimed->account.empty()) {
        transaction->Commit();
        return {};
    }
    const auto token = judge(claimed->code);
    if (token) {
        const std::string identity = FormatIdentity(claimed->code.identity);
        transaction->Run(Statements().addAccessToken,
                         {Bytes(token->hash), Bytes(code), claimed->code.clientId, identity, token->expiresAt});
        // The sign-in's record, in the step that makes it.
        transaction->Run(Statements().recordSignIn,
                         {SignInWeek(now), identity, claimed->account, ProviderSignInOrigin(claimed->code.clientId),
                          SignInPathWord(SignInPath::Oidc), SignInTimeText(now)});
    } else {
        claimed->use = CodeUse::Refused;
    }
    transaction->Commit();
    return std::move(*claimed);
}

std::optional<SessionHolder> SqlSiteStore::FindAccessToken(const ProviderHash& token, int64_t now)
{
    std::optional<SessionHolder> holder;
    Read(Statements().findAccessToken, {Bytes(token), now}, [&](const SqlRow& row) {
        if (const auto identity = ParseIdentity(row.Text(1)))
            holder = SessionHolder{row.Text(0), *identity};
    });
    return holder;
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
    for (const StoreStatement& statement : Statements().dropOldProviderRecords)
        transaction->Run(statement, {now - kProviderKeepSeconds});
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
