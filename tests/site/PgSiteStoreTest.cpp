// The PostgreSQL store against a real server: a throwaway cluster started for the test run
// (tests/site/pg-fixture.sh), each test in a schema of its own. The store contract
// (StoreContract.h) with the connection cut at each exchange, before it is sent and once
// the server has answered it; and what only a server has: its schema in a shared database,
// connections that end, and settings that cancel statements.
#include "site/store/OpenStore.h"
#include "site/store/PgSiteStore.h"
#include "site/store/SqliteSiteStore.h"

#include "ProviderContract.h"
#include "StoreContract.h"
#include "StoreErrorOf.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// The cluster's URI, as the fixture wrote it; empty without one.
std::string ClusterUri()
{
    const char* file = std::getenv("ENTRAVO_TEST_PG_URI_FILE");
    std::string uri;
    if (file)
        std::getline(std::ifstream(file), uri);
    return uri;
}

// A schema of its own for each test, gone with it.
class Schema {
public:
    Schema()
    {
        static std::atomic<int> made{0};
        const std::string cluster = ClusterUri();
        if (cluster.empty())
            return;
        m_name = "t_" + std::to_string(getpid()) + "_" + std::to_string(++made);
        m_admin.emplace(cluster);
        Execute("DROP SCHEMA IF EXISTS " + m_name + " CASCADE; CREATE SCHEMA " + m_name);
        m_address = cluster + "&options=-csearch_path%3D" + m_name;
    }
    ~Schema()
    {
        if (m_admin)
            Execute("DROP SCHEMA " + m_name + " CASCADE");
    }
    Schema(const Schema&) = delete;
    Schema& operator=(const Schema&) = delete;

    // Empty without a cluster.
    const std::string& Address() const { return m_address; }
    PgConnection& Admin() { return *m_admin; }
    void Execute(const std::string& sql) { m_admin->Execute({sql.c_str(), Resend::Never}); }

private:
    std::string m_name;
    std::optional<PgConnection> m_admin;
    std::string m_address;
};

// Runs SQL on a connection of its own, as another program would.
void Sql(const std::string& address, const std::string& sql)
{
    PgConnection(address).Execute({sql.c_str(), Resend::Never});
}

// Cuts a connection at one exchange: before it is sent (the server never sees it), or once the
// server has answered it (its answer, a commit's included, lost on the way back). Counts the
// exchanges of every connection from the moment it is armed.
class CutWire final : public PgWireTap {
public:
    void Arm(int exchange, bool answered)
    {
        const std::lock_guard lock(m_mutex);
        m_left = exchange;
        m_answered = answered;
        m_armed = true;
    }
    void Disarm()
    {
        const std::lock_guard lock(m_mutex);
        m_armed = false;
    }

    void BeforeSending(PGconn* connection) override
    {
        const std::lock_guard lock(m_mutex);
        if (!m_armed || m_left-- != 0)
            return;
        if (m_answered) {
            m_cutWhenSent = true;
            return;
        }
        m_armed = false;
        Cut(connection);
    }
    void Sent(PGconn* connection) override
    {
        const std::lock_guard lock(m_mutex);
        if (!m_cutWhenSent)
            return;
        m_cutWhenSent = false;
        m_armed = false;
        WaitForAnswer(PQsocket(connection));
        Cut(connection);
    }

private:
    // The server's answer to an exchange ends with ReadyForQuery ('Z'): read it without taking
    // it from the socket, message by message (a type byte, then a length that counts itself).
    static void WaitForAnswer(int socket)
    {
        std::vector<char> bytes(1 << 16);
        for (int poll = 0; poll < 5000; ++poll) {
            const ssize_t length = recv(socket, bytes.data(), bytes.size(), MSG_PEEK | MSG_DONTWAIT);
            for (ssize_t at = 0; length > 0 && at + 5 <= length;) {
                if (bytes[static_cast<std::size_t>(at)] == 'Z')
                    return;
                uint32_t size = 0;
                for (int i = 1; i <= 4; ++i)
                    size = size << 8 | static_cast<uint8_t>(bytes[static_cast<std::size_t>(at + i)]);
                at += 1 + size;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        ADD_FAILURE() << "the server did not answer";
    }

    // The connection's socket replaced by one whose other end is closed: the client reads the
    // end of the stream, the server sees its client gone.
    static void Cut(PGconn* connection)
    {
        int pair[2];
        ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, pair));
        close(pair[1]);
        dup2(pair[0], PQsocket(connection));
        close(pair[0]);
    }

    std::mutex m_mutex;
    bool m_armed = false;
    bool m_answered = false;
    bool m_cutWhenSent = false;
    int m_left = 0;
};

// Exchanges a check of a string, an application's verification or a client's addition takes at
// most, preparing its statements included.
constexpr int kExchanges = 8;

} // namespace

// The contract's stores: a schema of their own each, and the connection cut at each exchange.
class PostgresStores {
public:
    PostgresStores()
    {
        if (!m_schema.Address().empty()) {
            PgSiteStore::Initialise(m_schema.Address());
            TapPgWire(&m_wire);
        }
    }
    ~PostgresStores() { TapPgWire(nullptr); }
    PostgresStores(const PostgresStores&) = delete;
    PostgresStores& operator=(const PostgresStores&) = delete;

    std::string Unavailable() const
    {
        return m_schema.Address().empty() ? "no PostgreSQL cluster for the tests (tests/site/pg-fixture.sh)" : "";
    }
    std::unique_ptr<OperatorStore> Open(StoreUse use) const
    {
        return std::make_unique<PgSiteStore>(PgSiteStore::Open(m_schema.Address(), use));
    }
    void Sql(const std::string& sql) const { ::Sql(m_schema.Address(), sql); }
    std::vector<std::string> Faults() const
    {
        std::vector<std::string> faults;
        for (int exchange = 0; exchange < kExchanges; ++exchange) {
            faults.push_back("the connection cut before exchange " + std::to_string(exchange) + " is sent");
            faults.push_back("the connection cut once exchange " + std::to_string(exchange) + " was answered");
        }
        return faults;
    }
    void Arm(std::size_t fault) { m_wire.Arm(static_cast<int>(fault / 2), fault % 2 == 1); }
    void Disarm() { m_wire.Disarm(); }

private:
    Schema m_schema;
    CutWire m_wire;
};

INSTANTIATE_TYPED_TEST_SUITE_P(Postgres, StoreContract, PostgresStores);
INSTANTIATE_TYPED_TEST_SUITE_P(Postgres, ProviderContract, PostgresStores);

namespace {

class PgSiteStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        if (m_schema.Address().empty())
            GTEST_SKIP() << "no PostgreSQL cluster for the tests (tests/site/pg-fixture.sh)";
    }

    Schema m_schema;
    const std::string& m_address = m_schema.Address();
};

TEST_F(PgSiteStoreTest, InitMakesTheTablesOnceAndRefusesAnotherApplicationsDatabase)
{
    EXPECT_EQ(InitResult::Created, PgSiteStore::Initialise(m_address));
    EXPECT_EQ(InitResult::AlreadyThere, PgSiteStore::Initialise(m_address));
    EXPECT_TRUE(PgSiteStore::Open(m_address).Check().empty());

    Sql(m_address, "DROP TABLE site_header, tokens, used_strings, sessions, attempts, daily_counts, brakes, clients, "
                   "nonces; CREATE TABLE invoices(id INT)");
    EXPECT_NE(std::string::npos, ErrorOf([&] { PgSiteStore::Initialise(m_address); }).find("holds other tables"));
    EXPECT_NE(std::string::npos, ErrorOf([&] { PgSiteStore::Open(m_address); }).find("not a site database"));
}

TEST_F(PgSiteStoreTest, OpenRefusesANewerOrOlderSchemaAndInitBringsTheSecondReleaseUpToDate)
{
    PgSiteStore::Initialise(m_address);
    {
        PgSiteStore store = PgSiteStore::Open(m_address);
        store.Enroll(kAlice, "alice", 1);
        ASSERT_EQ(Outcome::Accepted, store.CheckString(kHome, 1000, {}, Genuine(kAlice, 7), {}).outcome);
    }
    Sql(m_address, "UPDATE site_header SET schema_version = " + std::to_string(kSchemaVersion + 1));
    EXPECT_NE(std::string::npos, ErrorOf([&] { PgSiteStore::Open(m_address); }).find("newer entravo-site"));
    Sql(m_address, "DROP TABLE oidc_clients, oidc_secrets, oidc_keys, oidc_pending, oidc_codes, oidc_access_tokens;"
                   " DROP TABLE sign_ins, hourly_counts, counters, admins;"
                   " ALTER TABLE used_strings DROP COLUMN used_by; UPDATE site_header SET schema_version = 2");
    EXPECT_NE(std::string::npos, ErrorOf([&] { PgSiteStore::Open(m_address); }).find("older release (schema 2)"));
    EXPECT_EQ(InitResult::Migrated, PgSiteStore::Initialise(m_address));
    PgSiteStore store = PgSiteStore::Open(m_address);
    EXPECT_TRUE(store.Check().empty());
    EXPECT_EQ(Outcome::AlreadyUsed, store.CheckString(kHome, 1000, {}, Genuine(kAlice, 7), {}).outcome);
}

// The check's function is the PostgreSQL store's own part of the schema: without this release's,
// a database is not opened, and init makes it; check names a function it does not make.
TEST_F(PgSiteStoreTest, OpenRefusesADatabaseWithoutThisReleasesCheckFunctionAndInitMakesIt)
{
    PgSiteStore::Initialise(m_address);
    PgSiteStore::Open(m_address).Enroll(kAlice, "alice", 1);
    Sql(m_address, "DROP FUNCTION entravo_check_string");
    EXPECT_NE(std::string::npos, ErrorOf([&] { PgSiteStore::Open(m_address); }).find("entravo-site init"));
    EXPECT_EQ(InitResult::Migrated, PgSiteStore::Initialise(m_address));
    EXPECT_EQ(InitResult::AlreadyThere, PgSiteStore::Initialise(m_address));
    PgSiteStore store = PgSiteStore::Open(m_address);
    EXPECT_EQ(Outcome::Accepted, store.CheckString(kHome, 1000, {}, Genuine(kAlice, 7), {}).outcome);
    EXPECT_TRUE(store.Check().empty());

    Sql(m_address, "CREATE FUNCTION entravo_check_string() RETURNS int LANGUAGE sql AS 'SELECT 1'");
    EXPECT_EQ(std::vector<std::string>{"not made by entravo-site: function entravo_check_string()"}, store.Check());
}

TEST_F(PgSiteStoreTest, AConnectionEndedWhileIdleConnectsAgainOneLostInATransactionIsUnreachable)
{
    PgSiteStore::Initialise(m_address);
    PgSiteStore store = PgSiteStore::Open(m_address, StoreUse::LongLived);
    store.Enroll(kAlice, "alice", 1);
    // Each one waited for until it has ended (5 s at most).
    const auto endOtherConnections = [&] {
        m_schema.Execute("SELECT pg_terminate_backend(pid, 5000) FROM pg_stat_activity WHERE pid <> pg_backend_pid()"
                         " AND datname = current_database()");
    };
    endOtherConnections();
    EXPECT_EQ(Outcome::Accepted, store.CheckString(kHome, 1000, {}, Genuine(kAlice, 1), {}).outcome)
        << "a check, prepared already and never sent twice, is not sent into a connection the server has ended";
    endOtherConnections();
    EXPECT_EQ(1u, store.Tokens().size()) << "a restarted database costs a kept connection nothing";
    EXPECT_EQ(Outcome::Accepted, store.CheckString(kHome, 1000, {}, Genuine(kAlice, 2), {}).outcome)
        << "the session's settings and prepared statements are made again";

    PgConnection connection(m_address);
    PgTransaction transaction(connection, Durability::Durable);
    endOtherConnections();
    try {
        connection.Run({"SELECT 1", Resend::Allowed});
        ADD_FAILURE() << "the transaction was lost";
    } catch (const StoreError& error) {
        EXPECT_EQ(StoreError::Kind::Unreachable, error.kind()) << error.what();
    }
    try {
        PgSiteStore::Open("postgresql:///entravo?host=/nonexistent");
        ADD_FAILURE() << "there is no server";
    } catch (const StoreError& error) {
        EXPECT_EQ(StoreError::Kind::Unreachable, error.kind()) << error.what();
    }
}

// A statement_timeout that cancels the site's statements stays until the operator changes it:
// Broken (500, the operator named in the log), never Busy (503, "try again" for ever). Here a
// lock held elsewhere keeps the check waiting past it.
TEST_F(PgSiteStoreTest, AStatementTimeoutThatCancelsTheSiteIsBrokenNotBusy)
{
    PgSiteStore::Initialise(m_address);
    PgConnection holder(m_address);
    PgTransaction held(holder, Durability::Durable);
    holder.Run({"SELECT pg_advisory_xact_lock(hashtextextended('192.0.2.0/24', 0))", Resend::Never});
    PgSiteStore store = PgSiteStore::Open(m_address + "%20-cstatement_timeout%3D200");
    try {
        store.CheckString(kHome, 1000, {}, [] { return Verification{}; }, {});
        ADD_FAILURE() << "the statement was not cancelled";
    } catch (const StoreError& error) {
        EXPECT_EQ(StoreError::Kind::Broken, error.kind()) << error.what();
        EXPECT_NE(std::string::npos, std::string(error.what()).find("statement_timeout")) << error.what();
    }
}

// What a site holds of each kind, made through the store's own calls: a used string whose
// logon opened a session, a refusal kept one by one and an acceptance already folded into the
// counts per day, a client and its nonce.
constexpr int64_t kLater = 1000 + kAttemptKeepSeconds + 100;
const ClientKey kKey{0x5A, 0x01, 0xFF};

void MakeSite(OperatorStore& store)
{
    store.Enroll(kAlice, "alice", 1);
    ASSERT_EQ(Outcome::Accepted, store.CheckString(kHome, 1000, {}, Genuine(kAlice, 7), Logon(1)).outcome);
    ASSERT_EQ(1, store.AddClient("shop", kKey, 1000));
    ASSERT_TRUE(store.UseNonce(1, "n1", kLater));
    ASSERT_EQ(1, store.Prune(kLater).attemptsFolded);
    ASSERT_EQ(Outcome::NotGenuine, store.CheckString(kHome, kLater, {}, Junk(), {}).outcome);
}

// A copy of MakeSite's site: every record there, and the ids of new rows going on after it.
void ExpectCopied(OperatorStore& store)
{
    EXPECT_EQ(std::vector<std::string>{}, store.Check());
    EXPECT_EQ(Outcome::AlreadyUsed, store.CheckString(kHome, kLater, {}, Genuine(kAlice, 7), Logon(2)).outcome);
    ASSERT_TRUE(store.FindSession(Logon(1).mark, 0));
    EXPECT_EQ("alice", store.FindSession(Logon(1).mark, 0)->account);
    EXPECT_EQ(kKey, store.ClientKeyOf(1));
    EXPECT_FALSE(store.UseNonce(1, "n1", kLater)) << "a nonce seen before the copy";
    const auto days = store.DailyCounts(0);
    EXPECT_EQ(1, std::count_if(days.begin(), days.end(),
                               [](const DailyCount& day) { return day.outcome == "accepted" && day.count == 1; }))
        << "the acceptance folded into the day's counts";
    ASSERT_EQ(1u, store.SignIns(0, std::nullopt, 10).size());
    const auto attempts = store.RecentAttempts(10);
    EXPECT_EQ(1, std::count_if(attempts.begin(), attempts.end(),
                               [](const AttemptEntry& attempt) { return attempt.outcome == "not-genuine"; }));
    EXPECT_GT(store.AddClient("another", kKey, kLater), 1);
}

// entravo-site copy: SQLite into PostgreSQL and back again, every table of the schema whole,
// a used string refused on each side; never into a store that holds records.
TEST_F(PgSiteStoreTest, ACopyCarriesASiteIntoPostgresAndBackWithItsUsedStringsStillUsed)
{
    const TempFolder folder;
    const std::string file = folder.Path("site.db");
    SqliteSiteStore::Initialise(file);
    {
        SqliteSiteStore site = SqliteSiteStore::Open(file);
        MakeSite(site);
    }
    EXPECT_EQ(9, CopyStore(file, m_address)) << "tokens, used strings, sessions, attempts, daily counts, hourly "
                                                "counts, sign-ins, clients, nonces: one each";
    ExpectCopied(*OpenStore(m_address));

    const std::string back = folder.Path("back.db");
    EXPECT_GT(CopyStore(m_address, back), 7);
    ExpectCopied(*OpenStore(back));
    EXPECT_TRUE(OpenStore(file)->Check().empty()) << "the source as it was";

    const int64_t attempts = OpenStore(m_address)->RecentAttempts(100).size();
    for (const std::string& full : {m_address, back})
        EXPECT_NE(std::string::npos, ErrorOf([&] { CopyStore(file, full); }).find("already holds a site's records"))
            << full;
    EXPECT_EQ(attempts, OpenStore(m_address)->RecentAttempts(100).size()) << "nothing written";
    EXPECT_NE(std::string::npos, ErrorOf([&] { CopyStore(file, file); }).find("own store"));
}

} // namespace
