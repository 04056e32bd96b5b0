#pragma once
// The site database: one SQLite file shared by the login page's processes and the operator's
// command. It holds the enrolled tokens, the strings already accepted, the open sessions, the
// recent sign-in attempts and, for older ones, their counts per day and network.
#include "site/store/SqliteConnection.h"
#include "site/store/SiteStore.h"
#include "site/store/StoreRules.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class SqliteSiteStore final : public OperatorStore {
public:
    // Makes path a new site database, brings an older one of ours up to this version, or
    // checks that it already is one. Never changes a file that is not ours.
    static InitResult Initialise(const std::string& path);
    // An existing site database of this version; StoreError when it is missing, not ours,
    // damaged, older or newer than this program.
    static SqliteSiteStore Open(const std::string& path, StoreUse use = StoreUse::OneRequest);

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
    SqliteSiteStore(std::shared_ptr<SqliteConnection> connection, StoreUse use);

    // The connection to write through: a long-lived store whose connection failed to sync takes
    // the one opened afresh (the first store to come opens it).
    SqliteConnection& Live();
    // A string's check inside the caller's transaction.
    StringCheck CheckWithin(const Origin& origin, int64_t now, const Budgets& budgets, const Search& search,
                            const Offer& offer);
    // After a check whose commit stands but whose sync failed.
    void OpenAfresh(StringCheck& check, const std::string& unsynced);
    // The budgets counted; when one is spent, the refusal counted and the network's brake set.
    Gate Gauge(const Origin& origin, int64_t now, const Budgets& budgets);
    void RecordAttempt(const Origin& origin, int64_t now, Outcome outcome, const std::optional<std::string>& identity);
    // The string (identity, seed) used up for an enrolled, unrevoked token, and the session
    // opened: all within the caller's transaction.
    Admission AdmitString(const std::string& identity, uint32_t seed, int64_t at, const Offer& offer);

    // One bounded round of clean-up inside its own transaction; how much it removed.
    PruneReport TidyRound(int64_t now, int64_t rows);

    // Shared by the threads of a process when long-lived: the SiteStore calls take turns on
    // it. The operator's calls are for a connection of its own.
    std::shared_ptr<SqliteConnection> m_connection;
    StoreUse m_use;
};
