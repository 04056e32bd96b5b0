#pragma once
// The site database: one SQLite file shared by the login page's processes and the operator's
// command. It holds the enrolled tokens, the strings already accepted, the open sessions, the
// recent sign-in attempts and, for older ones, their counts per day and network.
#include "site/store/Sqlite.h"
#include "site/store/SiteStore.h"

#include <string>
#include <string_view>
#include <vector>

class SiteDatabase final : public OperatorStore {
public:
    // Makes path a new site database, brings an older one of ours up to this version, or
    // checks that it already is one. Never changes a file that is not ours.
    static InitResult Initialise(const std::string& path);
    // An existing site database of this version; StoreError when it is missing, not ours,
    // damaged, older or newer than this program.
    static SiteDatabase Open(const std::string& path, StoreUse use = StoreUse::OneRequest);

    Gate Charge(const Origin& origin, int64_t now, const Budgets& budgets) override;
    void Settle(int64_t attempt, Outcome outcome, const std::optional<RomBytes>& identity) override;
    Admission Admit(const Claim& claim) override;
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

private:
    explicit SiteDatabase(SqliteConnection connection);

    // One bounded round of clean-up inside its own transaction; how much it removed.
    PruneReport TidyRound(int64_t now, int64_t rows);

    SqliteConnection m_connection;
};
