// The PostgreSQL store's decisions against a real server: a throwaway cluster started for the
// test run (tests/site/pg-fixture.sh); each test works in a schema of its own. What two web
// servers do at the same moment is played by threads with connections of their own.
#include "site/store/PgSiteStore.h"

#include "StoreErrorOf.h"

#include <gtest/gtest.h>

#include <atomic>
#include <barrier>
#include <cstdlib>
#include <fstream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

const RomBytes kAlice = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const Origin kHome{"192.0.2.7", "192.0.2.0/24", ""};
constexpr int kServers = 8;

// The cluster's URI, as the fixture wrote it; empty without one.
std::string ClusterUri()
{
    const char* file = std::getenv("ENTRAVO_TEST_PG_URI_FILE");
    std::string uri;
    if (file)
        std::getline(std::ifstream(file), uri);
    return uri;
}

// Runs action(store) on kServers connections at once; each starts when all are connected.
template <typename Action>
void OnEveryServer(const std::string& address, Action action)
{
    std::atomic<int> ready{0};
    std::vector<std::thread> servers;
    for (int i = 0; i < kServers; ++i) {
        servers.emplace_back([&, i] {
            PgSiteStore store = PgSiteStore::Open(address);
            ++ready;
            while (ready < kServers)
                std::this_thread::yield();
            action(store, i);
        });
    }
    for (std::thread& server : servers)
        server.join();
}

class PgSiteStoreTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        const std::string cluster = ClusterUri();
        if (cluster.empty())
            GTEST_SKIP() << "no PostgreSQL cluster for the tests (tests/site/pg-fixture.sh)";
        const std::string schema = std::string("t_") + ::testing::UnitTest::GetInstance()->current_test_info()->name();
        m_admin.emplace(cluster);
        m_admin->Execute(("DROP SCHEMA IF EXISTS " + schema + " CASCADE; CREATE SCHEMA " + schema).c_str());
        m_address = cluster + "&options=-csearch_path%3D" + schema;
    }

    // As another program would, on a connection of its own.
    void Sql(const std::string& sql) { PgConnection(m_address).Execute(sql.c_str()); }

    std::optional<PgConnection> m_admin;
    std::string m_address;
};

TEST_F(PgSiteStoreTest, InitMakesTheTablesOnceAndRefusesAnotherApplicationsDatabase)
{
    EXPECT_EQ(InitResult::Created, PgSiteStore::Initialise(m_address));
    EXPECT_EQ(InitResult::AlreadyThere, PgSiteStore::Initialise(m_address));
    EXPECT_TRUE(PgSiteStore::Open(m_address).Check().empty());

    Sql("DROP TABLE site_header, tokens, used_strings, sessions, attempts, daily_counts, brakes; CREATE TABLE "
        "invoices(id INT)");
    EXPECT_NE(std::string::npos, ErrorOf([&] { PgSiteStore::Initialise(m_address); }).find("holds other tables"));
    EXPECT_NE(std::string::npos, ErrorOf([&] { PgSiteStore::Open(m_address); }).find("not a site database"));
}

TEST_F(PgSiteStoreTest, OpenRefusesANewerOrUnfinishedSchema)
{
    PgSiteStore::Initialise(m_address);
    Sql("UPDATE site_header SET schema_version = 3");
    EXPECT_NE(std::string::npos, ErrorOf([&] { PgSiteStore::Open(m_address); }).find("newer entravo-site"));
    Sql("UPDATE site_header SET schema_version = 1");
    EXPECT_NE(std::string::npos, ErrorOf([&] { PgSiteStore::Open(m_address); }).find("older release"));
}

TEST_F(PgSiteStoreTest, CheckNamesWhatDiffersFromTheSchemaAndBrokenRows)
{
    PgSiteStore::Initialise(m_address);
    Sql("DROP INDEX failures_by_network; CREATE TABLE notes(text TEXT); INSERT INTO tokens VALUES('xyz', 'a', 1, "
        "NULL)");
    const std::vector<std::string> faults = PgSiteStore::Open(m_address).Check();
    ASSERT_EQ(3u, faults.size());
    EXPECT_EQ("missing or changed: index failures_by_network", faults[0]);
    EXPECT_EQ("not made by entravo-site: table notes", faults[1]);
    EXPECT_EQ("token 'xyz' is not 16 upper-case hexadecimal digits", faults[2]);
}

TEST_F(PgSiteStoreTest, OneStringOfferedOnEveryServerAtOnceIsAcceptedOnce)
{
    PgSiteStore::Initialise(m_address);
    PgSiteStore::Open(m_address).Enroll(kAlice, "alice", 1);
    std::atomic<int> accepted{0}, replays{0};
    OnEveryServer(m_address, [&](PgSiteStore& store, int server) {
        const Origin origin{"198.51.100." + std::to_string(server), "198.51.100.0/24", ""};
        const Outcome outcome = store
                                    .CheckString(
                                        origin, 1000, {},
                                        [] {
                                            return Verification{Verdict::Genuine, kAlice, 77};
                                        },
                                        SessionHash{static_cast<uint8_t>(server)})
                                    .outcome;
        accepted += outcome == Outcome::Accepted;
        replays += outcome == Outcome::AlreadyUsed;
    });
    EXPECT_EQ(1, accepted);
    EXPECT_EQ(kServers - 1, replays);
}

TEST_F(PgSiteStoreTest, ABudgetIsNeverOverspentByServersCheckingAtOnce)
{
    PgSiteStore::Initialise(m_address);
    // Round after round, every server checks junk from the same fresh origin at the same moment.
    constexpr int kRounds = 20;
    const Budgets budgets{60, 3, 100, 100};
    std::barrier together(kServers);
    std::vector<std::atomic<int>> checked(kRounds);
    OnEveryServer(m_address, [&](PgSiteStore& store, int) {
        for (int round = 0; round < kRounds; ++round) {
            const std::string network = "10.0." + std::to_string(round);
            together.arrive_and_wait();
            const StringCheck check = store.CheckString(
                {network + ".1", network + ".0/24", ""}, 1000, budgets, [] { return Verification{}; }, std::nullopt);
            checked[round] += check.outcome == Outcome::Malformed ? 1 : 0;
        }
    });
    for (int round = 0; round < kRounds; ++round)
        EXPECT_EQ(budgets.address, checked[round]) << "round " << round;
}

// A check whose search fails leaves nothing behind, and the connection serves the next one.
TEST_F(PgSiteStoreTest, ACheckThatFailsHalfwayIsRolledBack)
{
    PgSiteStore::Initialise(m_address);
    PgSiteStore store = PgSiteStore::Open(m_address, StoreUse::LongLived);
    store.Enroll(kAlice, "alice", 1);
    const auto failing = []() -> Verification { throw std::runtime_error("search failed"); };
    EXPECT_THROW(store.CheckString(kHome, 1000, {}, failing, std::nullopt), std::runtime_error);
    EXPECT_TRUE(store.RecentAttempts(10).empty());
    EXPECT_EQ(Outcome::Accepted, store
                                     .CheckString(
                                         kHome, 1000, {},
                                         [] {
                                             return Verification{Verdict::Genuine, kAlice, 5};
                                         },
                                         std::nullopt)
                                     .outcome);
    EXPECT_EQ(1u, store.RecentAttempts(10).size());
}

TEST_F(PgSiteStoreTest, ARevocationEndsTheSessionsOfEveryServer)
{
    PgSiteStore::Initialise(m_address);
    PgSiteStore operatorStore = PgSiteStore::Open(m_address);
    operatorStore.Enroll(kAlice, "alice", 1);
    PgSiteStore server = PgSiteStore::Open(m_address);
    const Claim claim{*server.Charge(kHome, 1000, {}).attempt, 1000, kAlice, 5, SessionHash{9}};
    ASSERT_EQ(Outcome::Accepted, server.Admit(claim).outcome);
    ASSERT_TRUE(server.FindSession(SessionHash{9}, 0));

    EXPECT_EQ(RevokeResult::Revoked, operatorStore.Revoke(kAlice, 2000));
    EXPECT_FALSE(server.FindSession(SessionHash{9}, 0));
    operatorStore.Enroll(kAlice, "alice", 3000);
    EXPECT_FALSE(server.FindSession(SessionHash{9}, 0)) << "enrolling again does not bring old sessions back";
}

TEST_F(PgSiteStoreTest, ForgettingATokenRemovesEveryRecordOfIt)
{
    PgSiteStore::Initialise(m_address);
    PgSiteStore store = PgSiteStore::Open(m_address);
    store.Enroll(kAlice, "~probe", 1);
    const Claim claim{*store.Charge(kHome, 1000, {}).attempt, 1000, kAlice, 7, SessionHash{1}};
    ASSERT_EQ(Outcome::Accepted, store.Admit(claim).outcome);

    store.Forget(kAlice);
    EXPECT_TRUE(store.Tokens().empty());
    EXPECT_TRUE(store.RecentAttempts(10).empty());
    EXPECT_EQ(std::nullopt, store.FindSession(SessionHash{1}, 0));
    // Its string would be accepted again, were the token enrolled again: nothing of it is left.
    store.Enroll(kAlice, "~probe", 2);
    const Claim again{*store.Charge(kHome, 1001, {}).attempt, 1001, kAlice, 7, SessionHash{2}};
    EXPECT_EQ(Outcome::Accepted, store.Admit(again).outcome);
}

TEST_F(PgSiteStoreTest, ServersTidyingAtOnceCountEachOldAttemptOnce)
{
    PgSiteStore::Initialise(m_address);
    {
        PgSiteStore store = PgSiteStore::Open(m_address);
        for (int i = 0; i < 200; ++i)
            store.Settle(*store
                              .Charge({"203.0.113." + std::to_string(i % 200), "203.0.113.0/24", ""}, 1000,
                                      {60, 1000, 1000, 1000})
                              .attempt,
                         Outcome::Malformed, std::nullopt);
    }
    OnEveryServer(m_address, [](PgSiteStore& store, int) {
        for (int i = 0; i < 3; ++i)
            store.Tidy(1000 + kAttemptKeepSeconds + 1);
    });
    const std::vector<DailyCount> counts = PgSiteStore::Open(m_address).DailyCounts(0);
    ASSERT_EQ(1u, counts.size());
    EXPECT_EQ(200, counts[0].count);
    EXPECT_TRUE(PgSiteStore::Open(m_address).RecentAttempts(10).empty());
}

TEST_F(PgSiteStoreTest, AClientsKeyComesBackAndEachNonceServesOnceOnEveryServer)
{
    PgSiteStore::Initialise(m_address);
    PgSiteStore operatorStore = PgSiteStore::Open(m_address);
    ClientKey key{};
    key[0] = 0xA5;
    key[31] = 0x5A;
    const int64_t client = operatorStore.AddClient("shop", key, 1000);
    EXPECT_EQ(key, operatorStore.ClientKeyOf(client));
    std::atomic<int> fresh{0};
    OnEveryServer(m_address, [&](PgSiteStore& store, int) { fresh += store.UseNonce(client, "n-1", 2000) ? 1 : 0; });
    EXPECT_EQ(1, fresh);
    EXPECT_TRUE(operatorStore.UseNonce(client, "n-1", 2000 + kNonceKeepSeconds + 1)) << "forgotten in time";
    EXPECT_TRUE(operatorStore.RemoveClient(client));
    EXPECT_FALSE(operatorStore.ClientKeyOf(client));
    EXPECT_TRUE(operatorStore.Check().empty());
}

TEST_F(PgSiteStoreTest, AConnectionEndedWhileIdleConnectsAgainOneLostInATransactionIsUnreachable)
{
    PgSiteStore::Initialise(m_address);
    PgSiteStore store = PgSiteStore::Open(m_address);
    store.Enroll(kAlice, "alice", 1);
    const auto endOtherConnections = [&] {
        m_admin->Execute("SELECT pg_terminate_backend(pid) FROM pg_stat_activity WHERE pid <> pg_backend_pid() AND "
                         "datname = current_database()");
    };
    endOtherConnections();
    EXPECT_EQ(1u, store.Tokens().size()) << "a restarted database costs a kept connection nothing";
    EXPECT_EQ(Outcome::Accepted, store.Admit({*store.Charge(kHome, 1000, {}).attempt, 1000, kAlice, 1, {}}).outcome)
        << "the session's settings and prepared statements are made again";

    PgConnection connection(m_address);
    PgTransaction transaction(connection);
    endOtherConnections();
    try {
        connection.Run("SELECT 1");
        ADD_FAILURE() << "the transaction was lost";
    } catch (const StoreError& error) {
        EXPECT_EQ(StoreError::Kind::Unreachable, error.kind()) << error.what();
    }
    try {
        PgSiteStore::Open("postgresql:///entravo?host=/nonexistent");
        ADD_FAILURE() << "there is no such server";
    } catch (const StoreError& error) {
        EXPECT_EQ(StoreError::Kind::Unreachable, error.kind()) << error.what();
    }
}

} // namespace
