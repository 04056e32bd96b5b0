#pragma once
// What the SQLite and the PostgreSQL store do alike, written once: every call that is a
// statement or a few of StoreSql.h, over what each store's connection offers alike (a read, a
// change that is a transaction of its own, a transaction). Each store adds what its database
// does its own way: a string's check, the nonces, a client's addition, the folding of old
// attempts, the prune and the check of its schema.
#include "site/store/SiteStore.h"
#include "site/store/StoreRules.h"
#include "site/store/StoreSql.h"

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

// A row of a statement's answer.
class SqlRow {
public:
    virtual int64_t Integer(int column) const = 0;
    virtual std::optional<int64_t> OptionalInteger(int column) const = 0;
    virtual std::string Text(int column) const = 0;
    virtual std::optional<std::string> OptionalText(int column) const = 0;
    // Any column, of the type its value has: for a copy of whole rows.
    virtual int Columns() const = 0;
    virtual SqlValue Value(int column) const = 0;

protected:
    ~SqlRow() = default;
};

// Called with each row of an answer in turn.
using RowReader = std::function<void(const SqlRow&)>;

// One transaction of a store, rolled back unless committed.
class SqlTransaction {
public:
    virtual ~SqlTransaction() = default;
    // Each row of the statement's answer handed to read; the rows it inserted, updated or
    // deleted.
    virtual int64_t Run(const StoreStatement& statement, SqlValues parameters = {}, const RowReader& read = {}) = 0;
    virtual void Commit() = 0;
};

class SqlSiteStore : public OperatorStore {
public:
    std::optional<SessionHolder> FindSession(const SessionHash& session, int64_t openedSince) override;
    void EndSession(const SessionHash& session) override;
    std::optional<ClientKey> ClientKeyOf(int64_t client) override;
    void Tidy(int64_t now) override;
    StoreFigures Figures(int64_t now) override;
    void AddCounts(const Counts& counts) override;
    bool IsAdmin(std::string_view account) override;
    SiteOverview Overview(const OverviewRequest& request) override;

    std::optional<ProviderClient> FindProviderClient(std::string_view id) override;
    ProviderKeys ReadProviderKeys() override;
    void StartProvider(const ProviderHash& subjectKey, const ProviderKey& firstKey) override;
    void AwaitSignIn(const ProviderHash& pending, std::string_view request, int64_t now, int64_t expiresAt) override;
    std::optional<PendingAuthorization> FindPendingAuthorization(const ProviderHash& pending, int64_t now) override;
    bool IssueCode(const ProviderCode& code, const std::optional<ProviderHash>& pending, int64_t now) override;
    CodeRedemption RedeemCode(const ProviderHash& code, int64_t now, const CodeJudgement& judge) override;
    std::optional<SessionHolder> FindAccessToken(const ProviderHash& token, int64_t now) override;

    EnrollResult Enroll(const RomBytes& identity, std::string_view account, int64_t now) override;
    RevokeResult Revoke(const RomBytes& identity, int64_t now) override;
    std::vector<TokenEntry> Tokens() override;
    std::vector<SignInEntry> SignIns(int64_t since, const std::optional<std::string>& account, int64_t most) override;
    bool GrantAdmin(std::string_view account, int64_t now) override;
    bool RevokeAdmin(std::string_view account) override;
    std::vector<AdminEntry> Admins() override;
    std::vector<AttemptEntry> RecentAttempts(int count) override;
    std::vector<NetworkFailures> FailuresByNetwork(int64_t since) override;
    std::vector<DailyCount> DailyCounts(int64_t since) override;
    std::vector<ApiClient> Clients() override;
    bool RemoveClient(int64_t client) override;
    void AddProviderClient(const ProviderClient& client) override;
    std::vector<ProviderClient> ProviderClients() override;
    bool RemoveProviderClient(std::string_view id) override;
    void RotateProviderKey(const ProviderKey& next, int64_t now) override;
    void Forget(const RomBytes& identity) override;

    // Every row of every table of the schema into destination, a store of this version of
    // either kind that holds none yet: read as of one moment, written in one transaction, so
    // that the copy is whole or nothing. StoreError, and nothing written, when destination
    // already holds a row. The rows copied.
    int64_t CopyInto(SqlSiteStore& destination);

protected:
    // name: the store as messages name it.
    explicit SqlSiteStore(std::string name) : m_name(std::move(name)) {}

    // One bounded round of the clean-up, in a transaction of its own; how much it removed.
    PruneReport TidyRound(int64_t now, int64_t rows);
    // Tidy's rounds, larger, until what is left is less than a round: for Prune. afterRound
    // runs after each.
    PruneReport TidyAll(int64_t now, const std::function<void()>& afterRound);
    // The lines of the shared checks of rows, run as reads.
    std::vector<std::string> RowFaults();

private:
    // What each store's connection offers alike. A read outside any transaction.
    virtual void Read(const StoreStatement& statement, SqlValues parameters, const RowReader& read) = 0;
    // A read that may take a while (the metrics' figures), made where it holds up no sign-in;
    // and the store's size.
    virtual void ReadAside(const StoreStatement& statement, SqlValues parameters, const RowReader& read) = 0;
    virtual int64_t Footprint() = 0;
    // A change that is a transaction of its own; the rows it changed.
    virtual int64_t Change(Durability durability, const StoreStatement& statement, SqlValues parameters) = 0;
    virtual std::unique_ptr<SqlTransaction> Begin(Durability durability) = 0;
    // A transaction whose reads all see the same moment, for a copy.
    virtual std::unique_ptr<SqlTransaction> BeginReading() = 0;
    // Within the copy's transaction, once the rows are in: what the store keeps besides them
    // brought in line.
    virtual void CopiedIn() = 0;
    // Within the clean-up's transaction (Begin's): of the oldest attempts, at most rows, those
    // made before the time given folded into the counts per day, and those of them made since
    // hourlySince into the counts per hour too; how many.
    virtual int64_t FoldAttempts(int64_t before, int64_t hourlySince, int64_t rows) = 0;

    // Whether the token is enrolled and not revoked, read in transaction and locked until it
    // ends; nullopt when there is no such token.
    static std::optional<bool> TokenActive(SqlTransaction& transaction, const std::string& identity);
    // A token's sessions, and the provider's codes and access tokens of them, ended.
    static void EndTokenSignIns(SqlTransaction& transaction, const std::string& identity);
    // A row of findProviderClient or listProviderClients.
    ProviderClient ClientOf(const SqlRow& row) const;
    // A code's first use, claimed in transaction: the code, and the account of its token when
    // that is still enrolled.
    std::optional<CodeRedemption> ClaimCode(SqlTransaction& transaction, const ProviderHash& code, int64_t now);
    template <typename Row, typename Make>
    std::vector<Row> Rows(const StoreStatement& statement, SqlValues parameters, Make make);
    std::vector<Activity> ActivitySince(const StoreStatement& statement, int64_t since, int64_t step);

    std::string m_name;
};
