#pragma once
// The site database: one SQLite file shared by the login page's processes and the operator's
// command. It holds the enrolled tokens, the strings already accepted, the open sessions, the
// recent sign-in attempts and, for older ones, their counts per day and network.
#include "site/store/SqlSiteStore.h"
#include "site/store/SqliteConnection.h"

#include <memory>
#include <string>
#include <string_view>
#include <vector>

class SqliteSiteStore final : public SqlSiteStore {
public:
    // Makes path a new site database, brings an older one of ours up to this version, or
    // checks that it already is one. Never changes a file that is not ours.
    static InitResult Initialise(const std::string& path);
    // An existing site database of this version; StoreError when it is missing, not ours,
    // damaged, older or newer than this program.
    static SqliteSiteStore Open(const std::string& path, StoreUse use = StoreUse::OneRequest);

    // On the connection that a process's threads share, long-lived: a check in the transaction
    // that the checks of the same moment share, a nonce in one of its own.
    StringCheck CheckString(const Origin& origin, int64_t now, const Budgets& budgets, const Search& search,
                            const Offer& offer) override;
    bool UseNonce(int64_t client, std::string_view nonce, int64_t now) override;
    int64_t AddClient(std::string_view name, const ClientKey& key, int64_t now) override;
    // Gives the reserve back to work in, empties the log after each round, and gives free pages
    // back to the file system.
    PruneReport Prune(int64_t now) override;
    // SQLite's own check of the file's structure comes first.
    std::vector<std::string> Check() override;
    // None: a file has no standby to lose acceptances to.
    std::vector<std::string> Warnings() override { return {}; }

private:
    SqliteSiteStore(std::shared_ptr<SqliteConnection> connection, StoreUse use);

    // A read takes the shared connection's turn.
    void Read(const StoreStatement& statement, SqlValues parameters, const RowReader& read) override;
    void ReadAside(const StoreStatement& statement, SqlValues parameters, const RowReader& read) override;
    // The database file and its log.
    int64_t Footprint() override;
    // The connection to write through: a long-lived store whose connection failed to sync takes
    // the one opened afresh (the first store to come opens it).
    SqliteConnection& Live();
    // A change and a transaction take the file's write lock with the turn (BEGIN IMMEDIATE).
    int64_t Change(Durability durability, const StoreStatement& statement, SqlValues parameters) override;
    std::unique_ptr<SqlTransaction> Begin(Durability durability) override;
    // The write lock held: no other writer changes the file while it is read. Never committed.
    std::unique_ptr<SqlTransaction> BeginReading() override { return Begin(Durability::Unsynced); }
    // Nothing: a row id goes on from the greatest there is.
    void CopiedIn() override {}
    // A string's check inside the caller's transaction.
    StringCheck CheckWithin(const Origin& origin, int64_t now, const Budgets& budgets, const Search& search,
                            const Offer& offer);
    // After a check whose commit stands but whose sync failed.
    void OpenAfresh(StringCheck& check, const std::string& unsynced);
    std::optional<StringCheck> UsedMeanwhile(const Search& search);
    // The budgets counted; when one is spent, the refusal counted and the network's brake set.
    Gate Gauge(const Origin& origin, int64_t now, const Budgets& budgets);
    void RecordAttempt(const Origin& origin, int64_t now, Outcome outcome, const std::optional<std::string>& identity);
    void RecordSignIn(const Origin& origin, int64_t now, const std::string& identity, const std::string& account,
                      SignInPath path);
    // The string (identity, seed) used up for an enrolled, unrevoked token, and the session
    // opened: all within the caller's transaction.
    Admission AdmitString(const std::string& identity, uint32_t seed, int64_t at, const Offer& offer);
    // Counts, then removes: the write lock keeps every other writer out meanwhile.
    int64_t FoldAttempts(int64_t before, int64_t hourlySince, int64_t rows) override;

    // Shared by the threads of a process when long-lived: the SiteStore calls take turns on
    // it. The operator's calls are for a connection of its own.
    std::shared_ptr<SqliteConnection> m_connection;
    StoreUse m_use;
};
