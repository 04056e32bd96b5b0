#pragma once
// The site's records in a PostgreSQL database, for several web servers at once: the same
// tables and schema version as the SQLite file (a one-row site_header stands in for the
// file's header). "Once" is the primary key of used_strings inside one transaction at the
// default isolation level; a failure budget is counted and charged under a transaction-level
// advisory lock on the origin's widest network, so servers charging the same origin take
// turns while all others go on side by side.
#include "site/store/PgConnection.h"
#include "site/store/SiteStore.h"
#include "site/store/StoreRules.h"

#include <string>

class PgSiteStore final : public OperatorStore {
public:
    // Makes the tables in the database's current schema, or checks that they are ours. Never
    // changes a database that holds other tables.
    static InitResult Initialise(const std::string& address);
    // StoreError when the database cannot be reached (Unreachable), is not ours, or is of
    // another schema version.
    // A long-lived store prepares the statements of a logon at once, so that the server's own
    // caches are filled before the first visitor comes.
    static PgSiteStore Open(const std::string& address, StoreUse use = StoreUse::OneRequest);

    StringCheck CheckString(const Origin& origin, int64_t now, const Budgets& budgets, const Search& search,
                            const Offer& offer) override;
    std::optional<SessionHolder> FindSession(const SessionHash& session, int64_t openedSince) override;
    void EndSession(const SessionHash& session) override;
    std::optional<ClientKey> ClientKeyOf(int64_t client) override;
    bool UseNonce(int64_t client, std::string_view nonce, int64_t now) override;
    void Tidy(int64_t now) override;

    EnrollResult Enroll(const RomBytes& identity, std::string_view account, int64_t now) override;
    RevokeResult Revoke(const RomBytes& identity, int64_t now) override;
    std::vector<TokenEntry> Tokens() override;
    std::vector<AttemptEntry> RecentAttempts(int count) override;
    std::vector<NetworkFailures> FailuresByNetwork(int64_t since) override;
    std::vector<DailyCount> DailyCounts(int64_t since) override;
    PruneReport Prune(int64_t now) override;
    std::vector<std::string> Check() override;
    int64_t AddClient(std::string_view name, const ClientKey& key, int64_t now) override;
    std::vector<ApiClient> Clients() override;
    bool RemoveClient(int64_t client) override;
    void Forget(const RomBytes& identity) override;

private:
    explicit PgSiteStore(PgConnection connection);

    PruneReport TidyRound(int64_t now, int64_t rows);
    Gate Gauge(const Origin& origin, int64_t now, const Budgets& budgets);
    // The admission of a genuine string and the commit, in the transaction CheckString began.
    Admission AdmitOnce(const RomBytes& identity, uint32_t seed, int64_t now, const Offer& offer, const Origin& origin);
    // What became of an admission whose connection was lost after it was sent.
    Admission AdmissionAfterLoss(const RomBytes& identity, uint32_t seed, const Offer& offer, const StoreError& loss);
    Gate RefuseAndCommit(const Origin& origin, const std::string& spent, int64_t now, const Budgets& budgets);

    PgConnection m_connection;
};
