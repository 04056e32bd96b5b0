#pragma once
// The site's records in a PostgreSQL database, for several web servers at once: the same
// tables and schema version as the SQLite file (a one-row site_header stands in for the
// file's header), and a function of the server's that checks an offered string whole.
// "Once" is the primary key of used_strings inside one transaction at the default isolation
// level; a failure budget is counted and charged under a transaction-level advisory lock on the
// origin's widest network, so servers charging the same origin take turns while all others go
// on side by side.
#include "site/store/PgConnection.h"
#include "site/store/SqlSiteStore.h"

#include <string>

class PgSiteStore final : public SqlSiteStore {
public:
    // Makes the tables and the check's function in the database's current schema, or checks
    // that they are ours and brings them up to date. Never changes a database that holds other
    // tables.
    static InitResult Initialise(const std::string& address);
    // StoreError when the database cannot be reached (Unreachable), is not ours, or is of
    // another schema version or lacks this release's function.
    // A long-lived store prepares the statements of a logon at once, so that the server's own
    // caches are filled before the first visitor comes.
    static PgSiteStore Open(const std::string& address, StoreUse use = StoreUse::OneRequest);

    // Searched first, then one statement, one round trip: the function, under the lock of the
    // origin's widest network.
    StringCheck CheckString(const Origin& origin, int64_t now, const Budgets& budgets, const Search& search,
                            const Offer& offer) override;
    // Asked again on a new connection when the server's answer was lost, as an admission is.
    int64_t AddClient(std::string_view name, const ClientKey& key, int64_t now) override;
    // A statement of its own, flushed before it answers.
    bool UseNonce(int64_t client, std::string_view nonce, int64_t now) override;
    // A plain vacuum after the rounds.
    PruneReport Prune(int64_t now) override;
    // The tables, indexes and functions as the server's catalog describes them.
    std::vector<std::string> Check() override;
    // The standbys the server streams to and the settings of synchronous_commit that reach the
    // site: this connection's, and any a role or database is given.
    std::vector<std::string> Warnings() override;

private:
    explicit PgSiteStore(PgConnection connection);

    // A read, and a change to be flushed, is a statement alone: the server commits it by itself.
    void Read(const StoreStatement& statement, SqlValues parameters, const RowReader& read) override;
    // Each thread has a connection of its own, and the server's readers never wait for writers.
    void ReadAside(const StoreStatement& statement, SqlValues parameters, const RowReader& read) override;
    // The tables of the current schema with their indexes.
    int64_t Footprint() override;
    int64_t Change(Durability durability, const StoreStatement& statement, SqlValues parameters) override;
    std::unique_ptr<SqlTransaction> Begin(Durability durability) override;
    // Repeatable read: one snapshot for every statement.
    std::unique_ptr<SqlTransaction> BeginReading() override;
    // The sequence of each identity column set past the greatest id copied in.
    void CopiedIn() override;
    // Removes and counts in one statement: of two servers tidying at once, each folds only the
    // rows it removed itself, so no attempt is counted twice.
    int64_t FoldAttempts(int64_t before, int64_t hourlySince, int64_t rows) override;

    // What became of a genuine string's check whose connection was lost after it was sent.
    Admission AdmissionAfterLoss(const RomBytes& identity, uint32_t seed, const Offer& offer, const StoreError& loss);

    PgConnection m_connection;
};
