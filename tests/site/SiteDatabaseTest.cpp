#include "site/store/SiteDatabase.h"

#include "TempFolder.h"

#include "StoreErrorOf.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <thread>
#include <unistd.h>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

namespace {

const RomBytes kAlice = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const RomBytes kBob = {0x28, 0, 0, 0, 0, 0, 0, 0x42};

std::string ReadBytes(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    std::stringstream bytes;
    bytes << file.rdbuf();
    return bytes.str();
}

// Runs SQL through a connection of its own, as another program would.
std::string Sql(const std::string& path, const std::string& sql)
{
    sqlite3* database = nullptr;
    sqlite3_open(path.c_str(), &database);
    std::string result;
    sqlite3_exec(
        database, sql.c_str(),
        [](void* out, int columns, char** values, char**) {
            for (int i = 0; i < columns; ++i)
                *static_cast<std::string*>(out) += std::string(values[i] ? values[i] : "NULL") + "|";
            return 0;
        },
        &result, nullptr);
    sqlite3_close(database);
    return result;
}

const Origin kHome{"192.0.2.7", "192.0.2.0/24", ""};

class SiteDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(InitResult::Created, SiteDatabase::Initialise(m_path)); }

    // A claim under a freshly charged attempt.
    Claim ClaimFor(SiteDatabase& database, const RomBytes& identity, uint32_t seed, int64_t at = 1000,
                   uint8_t session = 1)
    {
        return {*database.Charge(kHome, at, {}).attempt, at, identity, seed, SessionHash{session}};
    }

    void Fail(SiteDatabase& database, const Origin& origin, int64_t at)
    {
        const Gate gate = database.Charge(origin, at, {});
        ASSERT_TRUE(gate.attempt) << origin.address;
        database.Settle(*gate.attempt, Outcome::NotGenuine, std::nullopt);
    }

    TempFolder m_folder;
    std::string m_path = m_folder.Path("site.db");
};

} // namespace

TEST_F(SiteDatabaseTest, IsMadeOnceInWriteAheadModeWithItsIdAndVersionAndAReserve)
{
    EXPECT_EQ(InitResult::AlreadyThere, SiteDatabase::Initialise(m_path));
    EXPECT_EQ("wal|1164858228|2|2|",
              Sql(m_path, "PRAGMA journal_mode; PRAGMA application_id; PRAGMA user_version; PRAGMA auto_vacuum"));
    EXPECT_EQ(1u << 20, std::filesystem::file_size(m_path + "-reserve"));
    EXPECT_TRUE(SiteDatabase::Open(m_path).Check().empty());
}

TEST_F(SiteDatabaseTest, IsClosedToOthersWithItsLogAndAnOlderFileIsClosedByInit)
{
    const auto mode = [](const std::string& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
    };
    const SiteDatabase open = SiteDatabase::Open(m_path);
    for (const std::string& file : {m_path, m_path + "-wal", m_path + "-shm"})
        EXPECT_EQ(0640u, mode(file)) << file;
    chmod(m_path.c_str(), 0644);
    chmod((m_path + "-wal").c_str(), 0666);
    EXPECT_EQ(InitResult::AlreadyThere, SiteDatabase::Initialise(m_path));
    EXPECT_EQ(0640u, mode(m_path));
    EXPECT_EQ(0640u, mode(m_path + "-wal"));
}

TEST_F(SiteDatabaseTest, RefusesFilesThatAreNotOursAndLeavesThemAlone)
{
    EXPECT_NE(std::string::npos,
              ErrorOf([&] { SiteDatabase::Open(m_folder.Path("missing.db")); }).find("no site database"));

    const std::string text = m_folder.Path("notes.db");
    std::ofstream(text) << "not a database, just notes\n";
    for (const auto& error :
         {ErrorOf([&] { SiteDatabase::Initialise(text); }), ErrorOf([&] { SiteDatabase::Open(text); })})
        EXPECT_NE(std::string::npos, error.find("is not a site database or is damaged")) << error;
    EXPECT_EQ("not a database, just notes\n", ReadBytes(text));

    const std::string other = m_folder.Path("other.db");
    Sql(other, "CREATE TABLE mine(x); INSERT INTO mine VALUES(42)");
    EXPECT_NE(std::string::npos, ErrorOf([&] { SiteDatabase::Initialise(other); }).find("nothing was changed"));
    EXPECT_NE(std::string::npos, ErrorOf([&] { SiteDatabase::Open(other); }).find("is not a site database"));
    EXPECT_EQ("42|", Sql(other, "SELECT x FROM mine"));

    Sql(m_path, "PRAGMA user_version = 3");
    EXPECT_NE(std::string::npos, ErrorOf([&] { SiteDatabase::Open(m_path); }).find("newer entravo-site (schema 3)"));
}

TEST_F(SiteDatabaseTest, AFolderThatCannotBeEnteredIsNamedAsSuch)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root enters every folder";
    const std::string folder = m_folder.Path("closed");
    std::filesystem::create_directory(folder);
    SiteDatabase::Initialise(folder + "/site.db");
    std::filesystem::permissions(folder, std::filesystem::perms::none);
    const std::string error = ErrorOf([&] { SiteDatabase::Open(folder + "/site.db"); });
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    EXPECT_NE(std::string::npos, error.find("cannot enter the folder")) << error;
}

TEST_F(SiteDatabaseTest, BringsAFirstReleaseFileUpToDateKeepingItsRecords)
{
    const std::string old = m_folder.Path("old.db");
    Sql(old, "PRAGMA journal_mode = WAL;"
             "CREATE TABLE tokens(\n    identity TEXT PRIMARY KEY,\n    account TEXT NOT NULL,\n"
             "    enrolled_at INTEGER NOT NULL,\n    revoked_at INTEGER\n) WITHOUT ROWID;"
             "CREATE TABLE used_strings(\n    identity TEXT NOT NULL,\n    seed INTEGER NOT NULL,\n"
             "    accepted_at INTEGER NOT NULL,\n    PRIMARY KEY(identity, seed)\n) WITHOUT ROWID;"
             "CREATE TABLE sessions(\n    token_hash BLOB PRIMARY KEY,\n    identity TEXT NOT NULL,\n"
             "    opened_at INTEGER NOT NULL\n) WITHOUT ROWID;"
             "CREATE TABLE attempts(at INTEGER NOT NULL, address TEXT NOT NULL, identity TEXT, outcome TEXT NOT NULL);"
             "CREATE INDEX failures_by_address ON attempts(address, at) WHERE outcome <> 'accepted';"
             "INSERT INTO tokens VALUES('0123456789ABCDEF', 'alice', 1, NULL);"
             "INSERT INTO used_strings VALUES('0123456789ABCDEF', 7, 2);"
             "INSERT INTO attempts VALUES(2, '192.0.2.7', '0123456789ABCDEF', 'accepted');"
             "PRAGMA application_id = 1164858228; PRAGMA user_version = 1;");
    EXPECT_NE(std::string::npos, ErrorOf([&] { SiteDatabase::Open(old); }).find("entravo-site init"));
    EXPECT_EQ(InitResult::Migrated, SiteDatabase::Initialise(old));

    SiteDatabase database = SiteDatabase::Open(old);
    EXPECT_EQ(std::vector<std::string>{}, database.Check());
    EXPECT_EQ(Outcome::AlreadyUsed, database.Admit({*database.Charge(kHome, 3, {}).attempt, 3, kAlice, 7, {}}).outcome);
    EXPECT_EQ(2u, database.RecentAttempts(10).size());
    EXPECT_EQ("2|", Sql(old, "PRAGMA auto_vacuum"));
}

TEST_F(SiteDatabaseTest, EnrolsRevokesAndEnrolsAgain)
{
    SiteDatabase database = SiteDatabase::Open(m_path);
    EXPECT_EQ(EnrollResult::Enrolled, database.Enroll(kBob, "bob", 1));
    EXPECT_EQ(EnrollResult::Enrolled, database.Enroll(kAlice, "alice", 1));
    EXPECT_EQ(EnrollResult::AlreadyEnrolled, database.Enroll(kAlice, "mallory", 2));
    EXPECT_EQ(RevokeResult::Revoked, database.Revoke(kAlice, 3));
    EXPECT_EQ(RevokeResult::AlreadyRevoked, database.Revoke(kAlice, 4));
    EXPECT_EQ(RevokeResult::NotEnrolled, database.Revoke(RomBytes{}, 4));

    auto tokens = database.Tokens();
    ASSERT_EQ(2u, tokens.size());
    EXPECT_EQ("0123456789ABCDEF", tokens[0].identity);
    EXPECT_EQ("alice", tokens[0].account);
    EXPECT_TRUE(tokens[0].revoked);
    EXPECT_FALSE(tokens[1].revoked);

    EXPECT_EQ(EnrollResult::Enrolled, database.Enroll(kAlice, "alice2", 5));
    tokens = database.Tokens();
    EXPECT_EQ("alice2", tokens[0].account);
    EXPECT_FALSE(tokens[0].revoked);
}

TEST_F(SiteDatabaseTest, AdmitsEachIdentityAndSeedOnceAndSettlesEveryAttempt)
{
    SiteDatabase database = SiteDatabase::Open(m_path);
    EXPECT_EQ(Outcome::NotEnrolled, database.Admit(ClaimFor(database, kAlice, 7)).outcome);
    database.Enroll(kAlice, "alice", 1);
    database.Enroll(kBob, "bob", 1);

    const Admission first = database.Admit(ClaimFor(database, kAlice, 7));
    EXPECT_EQ(Outcome::Accepted, first.outcome);
    EXPECT_EQ("alice", first.account);
    EXPECT_EQ(Outcome::AlreadyUsed, database.Admit(ClaimFor(database, kAlice, 7, 1001, 2)).outcome);
    // The same seed for another token, or another seed for the same token, is another string.
    EXPECT_EQ(Outcome::Accepted, database.Admit(ClaimFor(database, kBob, 7, 1002, 3)).outcome);
    EXPECT_EQ(Outcome::Accepted, database.Admit(ClaimFor(database, kAlice, 8, 1003, 4)).outcome);
    database.Revoke(kAlice, 1004);
    EXPECT_EQ(Outcome::Revoked, database.Admit(ClaimFor(database, kAlice, 9, 1005, 5)).outcome);
    const Gate junk = database.Charge({"198.51.100.1", "198.51.100.0/24", ""}, 1006, {});
    database.Settle(*junk.attempt, Outcome::Malformed, std::nullopt);

    const auto attempts = database.RecentAttempts(3);
    ASSERT_EQ(3u, attempts.size());
    EXPECT_EQ(1006, attempts[0].at);
    EXPECT_EQ("198.51.100.1", attempts[0].address);
    EXPECT_EQ(std::nullopt, attempts[0].identity);
    EXPECT_EQ("malformed", attempts[0].outcome);
    EXPECT_EQ("0123456789ABCDEF", attempts[1].identity);
    EXPECT_EQ("revoked", attempts[1].outcome);
    EXPECT_EQ("accepted", attempts[2].outcome);
    EXPECT_EQ(7u, database.RecentAttempts(100).size());
}

TEST_F(SiteDatabaseTest, AClaimWhoseSessionCannotBeOpenedLeavesItsStringUnused)
{
    SiteDatabase database = SiteDatabase::Open(m_path);
    database.Enroll(kAlice, "alice", 1);
    ASSERT_EQ(Outcome::Accepted, database.Admit(ClaimFor(database, kAlice, 7, 1000, 9)).outcome);
    // The same session hash again: the session's insert fails after the string's.
    EXPECT_NE("no error", ErrorOf([&] { database.Admit(ClaimFor(database, kAlice, 8, 1001, 9)); }));
    EXPECT_EQ(Outcome::Accepted, database.Admit(ClaimFor(database, kAlice, 8, 1002, 10)).outcome);
}

TEST_F(SiteDatabaseTest, ForgettingATokenRemovesEveryRecordOfItAndNothingElse)
{
    SiteDatabase database = SiteDatabase::Open(m_path);
    database.Enroll(kAlice, "~probe", 1);
    database.Enroll(kBob, "bob", 1);
    ASSERT_EQ(Outcome::Accepted, database.Admit(ClaimFor(database, kAlice, 7, 1000, 1)).outcome);
    ASSERT_EQ(Outcome::AlreadyUsed, database.Admit(ClaimFor(database, kAlice, 7, 1001, 2)).outcome);
    ASSERT_EQ(Outcome::Accepted, database.Admit(ClaimFor(database, kBob, 7, 1002, 3)).outcome);

    database.Forget(kAlice);
    ASSERT_EQ(1u, database.Tokens().size());
    EXPECT_EQ("bob", database.Tokens()[0].account);
    EXPECT_EQ(std::nullopt, database.FindSession(SessionHash{1}, 0));
    EXPECT_EQ("bob", database.FindSession(SessionHash{3}, 0)->account);
    const auto attempts = database.RecentAttempts(10);
    ASSERT_EQ(1u, attempts.size());
    EXPECT_EQ("2800000000000042", attempts[0].identity);
    EXPECT_EQ("1|", Sql(m_path, "SELECT count(*) FROM used_strings"));
}

TEST_F(SiteDatabaseTest, SessionsLastTheirLifetimeAndEndWithTheTokensEnrolment)
{
    SiteDatabase database = SiteDatabase::Open(m_path);
    database.Enroll(kAlice, "carol", 1);
    database.Admit(ClaimFor(database, kAlice, 7, 1000, 9));
    EXPECT_EQ("carol", database.FindSession(SessionHash{9}, 1000)->account);
    EXPECT_EQ(kAlice, database.FindSession(SessionHash{9}, 1000)->identity);
    EXPECT_EQ(std::nullopt, database.FindSession(SessionHash{9}, 1001));
    EXPECT_EQ(std::nullopt, database.FindSession(SessionHash{8}, 0));
    // A refused string opens no session.
    database.Admit(ClaimFor(database, kAlice, 7, 1000, 10));
    EXPECT_EQ(std::nullopt, database.FindSession(SessionHash{10}, 0));

    database.Admit(ClaimFor(database, kAlice, 8, 1000, 11));
    database.EndSession(SessionHash{11});
    EXPECT_EQ(std::nullopt, database.FindSession(SessionHash{11}, 0));

    // A token handed to a new holder never brings the old holder's sessions back.
    database.Revoke(kAlice, 1002);
    EXPECT_EQ(std::nullopt, database.FindSession(SessionHash{9}, 0));
    database.Enroll(kAlice, "mallory", 1003);
    EXPECT_EQ(std::nullopt, database.FindSession(SessionHash{9}, 0));
}

TEST_F(SiteDatabaseTest, LogStaysShortWhenEveryRequestOpensTheDatabaseAfresh)
{
    SiteDatabase::Open(m_path).Enroll(kAlice, "alice", 1);
    for (uint32_t seed = 0; seed < 250; ++seed) {
        SiteDatabase database = SiteDatabase::Open(m_path);
        ASSERT_EQ(Outcome::Accepted, database.Admit(ClaimFor(database, kAlice, seed, 1000, uint8_t(seed))).outcome);
    }
    // Without its own checkpoints the log would hold every page these requests wrote.
    constexpr std::uintmax_t kFrameBytes = 24 + 4096;
    EXPECT_LT(std::filesystem::file_size(m_path + "-wal"), 100 * kFrameBytes);
    EXPECT_EQ("250|", Sql(m_path, "SELECT count(*) FROM used_strings"));
}

TEST_F(SiteDatabaseTest, BudgetsOfAnAddressAndItsNetworksHoldAndRefusalsCostNoRows)
{
    SiteDatabase database = SiteDatabase::Open(m_path);
    const Budgets budgets;
    for (int i = 0; i < budgets.address; ++i)
        Fail(database, kHome, 100 + i);
    Gate refused = database.Charge(kHome, 130, budgets);
    EXPECT_FALSE(refused.attempt);
    EXPECT_EQ("192.0.2.7", refused.exhausted);
    EXPECT_FALSE(refused.networkNewlyExhausted);
    EXPECT_TRUE(database.Charge(kHome, 100 + budgets.windowSeconds + 1, budgets).attempt);

    const Origin six{"2001:db8:0:1::1", "2001:db8:0:1::/64", "2001:db8::/48"};
    for (int i = 0; i < budgets.wideNetwork; ++i)
        Fail(database,
             {"2001:db8:0:" + std::to_string(i) + "::1", "2001:db8:0:" + std::to_string(i) + "::/64", "2001:db8::/48"},
             200);
    refused = database.Charge(six, 201, budgets);
    EXPECT_EQ("2001:db8::/48", refused.exhausted);
    EXPECT_TRUE(refused.networkNewlyExhausted);
    EXPECT_FALSE(database.Charge(six, 202, budgets).networkNewlyExhausted);
    EXPECT_TRUE(database.Charge(six, 200 + budgets.windowSeconds + 1, budgets).attempt);

    const auto rows = Sql(m_path, "SELECT count(*) FROM attempts");
    for (int i = 0; i < 1000; ++i)
        database.Charge(six, 203, budgets);
    EXPECT_EQ(rows, Sql(m_path, "SELECT count(*) FROM attempts"));
    EXPECT_EQ("1003|", Sql(m_path, "SELECT sum(count) FROM daily_counts WHERE outcome = 'too-many-failures'"));
}

TEST_F(SiteDatabaseTest, ABurstFromManyProcessesIsCheckedExactlyUpToTheBudget)
{
    constexpr int kRequests = 64;
    std::atomic<int> charged = 0;
    std::vector<std::thread> requests;
    for (int i = 0; i < kRequests; ++i)
        requests.emplace_back([&] {
            SiteDatabase database = SiteDatabase::Open(m_path);
            if (database.Charge(kHome, 500, {}).attempt)
                ++charged;
        });
    for (std::thread& request : requests)
        request.join();
    EXPECT_EQ(Budgets{}.address, charged.load());
}

// login.fcgi's threads share one long-lived store: each string is still accepted once, and a
// burst of junk from one address is still checked exactly up to its budget.
TEST_F(SiteDatabaseTest, ThreadsSharingALongLivedStoreAcceptEachStringOnceAndKeepTheBudgets)
{
    SiteDatabase::Open(m_path).Enroll(kAlice, "alice", 1);
    const auto genuine = [](uint32_t seed) { return [seed] { return Verification{Verdict::Genuine, kAlice, seed}; }; };
    const auto junk = [] { return Verification{Verdict::NotGenuine, kAlice, 0}; };
    constexpr int kThreads = 16;
    std::atomic<int> acceptedOnce = 0, acceptedEach = 0, checked = 0, refused = 0;
    std::vector<std::thread> threads;
    for (int i = 0; i < kThreads; ++i)
        threads.emplace_back([&, i] {
            SiteDatabase database = SiteDatabase::Open(m_path, StoreUse::LongLived);
            const Origin own{"198.51.100." + std::to_string(i), "198.51.100.0/24", ""};
            const auto session = SessionHash{static_cast<uint8_t>(i)};
            acceptedOnce += database.CheckString(own, 1000, {}, genuine(7), session).outcome == Outcome::Accepted;
            acceptedEach +=
                database.CheckString(own, 1000, {}, genuine(100 + i), std::nullopt).outcome == Outcome::Accepted;
            for (int n = 0; n < 3; ++n) {
                const Outcome outcome = database.CheckString(kHome, 1000, {}, junk, std::nullopt).outcome;
                checked += outcome == Outcome::NotGenuine;
                refused += outcome == Outcome::TooManyFailures;
            }
        });
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(1, acceptedOnce.load());
    EXPECT_EQ(kThreads, acceptedEach.load());
    EXPECT_EQ(Budgets{}.address, checked.load());
    EXPECT_EQ(3 * kThreads - Budgets{}.address, refused.load());
    EXPECT_EQ(std::to_string(1 + kThreads) + "|", Sql(m_path, "SELECT count(*) FROM used_strings"));
    EXPECT_TRUE(SiteDatabase::Open(m_path).Check().empty());
}

// A check whose search fails leaves nothing behind, and the shared connection serves the next.
TEST_F(SiteDatabaseTest, ACheckThatFailsHalfwayIsRolledBack)
{
    SiteDatabase::Open(m_path).Enroll(kAlice, "alice", 1);
    SiteDatabase database = SiteDatabase::Open(m_path, StoreUse::LongLived);
    const auto failing = []() -> Verification { throw std::runtime_error("search failed"); };
    EXPECT_THROW(database.CheckString(kHome, 1000, {}, failing, std::nullopt), std::runtime_error);
    EXPECT_EQ("0|", Sql(m_path, "SELECT count(*) FROM attempts"));
    EXPECT_EQ(Outcome::Accepted, database
                                     .CheckString(
                                         kHome, 1000, {},
                                         [] {
                                             return Verification{Verdict::Genuine, kAlice, 5};
                                         },
                                         std::nullopt)
                                     .outcome);
    EXPECT_EQ("1|", Sql(m_path, "SELECT count(*) FROM attempts"));
}

TEST_F(SiteDatabaseTest, TidyingFoldsOldAttemptsIntoDailyCountsAndForgetsExpiredSessions)
{
    SiteDatabase database = SiteDatabase::Open(m_path);
    database.Enroll(kAlice, "alice", 1);
    constexpr int64_t kDay = 1'800'000'000 - 1'800'000'000 % 86400;
    database.Admit(ClaimFor(database, kAlice, 1, kDay + 10, 1));
    database.Admit(ClaimFor(database, kAlice, 2, kDay + kAttemptKeepSeconds, 2));
    for (int i = 0; i < 300; ++i)
        Fail(database, {"192.0.2." + std::to_string(i % 3), "192.0.2.0/24", ""}, kDay + 2 * i);

    const int64_t later = kDay + kSessionLifetimeSeconds + 20;
    database.Tidy(later);
    EXPECT_EQ("174|", Sql(m_path, "SELECT count(*) FROM attempts"));
    EXPECT_EQ("1|", Sql(m_path, "SELECT count(*) FROM sessions"));
    EXPECT_EQ(std::nullopt, database.FindSession(SessionHash{1}, 0));

    const PruneReport report = database.Prune(later);
    EXPECT_EQ(174, report.attemptsFolded);
    EXPECT_EQ("0|", Sql(m_path, "SELECT count(*) FROM attempts"));
    const auto counts = database.DailyCounts(kDay);
    ASSERT_EQ(2u, counts.size());
    EXPECT_EQ(300, counts[0].count);
    EXPECT_EQ("192.0.2.0/24", counts[0].network);
    EXPECT_EQ("accepted", counts[1].outcome);
    EXPECT_EQ(2, counts[1].count);
    EXPECT_EQ(kDay, counts[1].day);
    EXPECT_TRUE(database.Check().empty());
}

TEST_F(SiteDatabaseTest, AFloodGrowsTheFileByLittle)
{
    SiteDatabase database = SiteDatabase::Open(m_path);
    const auto before = std::filesystem::file_size(m_path) + std::filesystem::file_size(m_path + "-wal");
    // One address, then a whole /24: a minute each, a request every 10 ms.
    for (int64_t i = 0; i < 6000; ++i) {
        const Origin one{"192.0.2.7", "192.0.2.0/24", ""};
        const Origin many{"198.51.100." + std::to_string(i % 256), "198.51.100.0/24", ""};
        for (const Origin& origin : {one, many}) {
            const Gate gate = database.Charge(origin, 1000 + i / 100, {});
            if (gate.attempt)
                database.Settle(*gate.attempt, Outcome::NotGenuine, std::nullopt);
        }
    }
    const auto after = std::filesystem::file_size(m_path) + std::filesystem::file_size(m_path + "-wal");
    EXPECT_LT(after - before, 2 * 100'000u);
}

TEST_F(SiteDatabaseTest, CheckNamesEachFault)
{
    {
        SiteDatabase database = SiteDatabase::Open(m_path);
        database.Enroll(kAlice, "alice", 1);
        database.Admit(ClaimFor(database, kAlice, 7));
        EXPECT_TRUE(database.Check().empty());
    }
    Sql(m_path, "DELETE FROM tokens; DROP INDEX sessions_by_age; CREATE TABLE extra(x);"
                "INSERT INTO used_strings VALUES('0123456789ABCDEF', -1, 5)");
    const auto faults = SiteDatabase::Open(m_path).Check();
    const std::string all = ::testing::PrintToString(faults);
    EXPECT_EQ(6u, faults.size()) << all;
    for (const char* part : {"missing or changed: index sessions_by_age", "not made by entravo-site: table extra",
                             "seed out of range: -1", "(seed 7) has no token row", "session of 0123456789ABCDEF"})
        EXPECT_NE(std::string::npos, all.find(part)) << part << " in " << all;
}

TEST_F(SiteDatabaseTest, DamageThatWouldLetAUsedStringWorkAgainIsFoundByCheck)
{
    constexpr uint32_t kStrings = 400;
    const std::string pristine = m_folder.Path("pristine.db");
    {
        SiteDatabase::Initialise(pristine);
        SiteDatabase database = SiteDatabase::Open(pristine);
        database.Enroll(kAlice, "alice", 1);
        for (uint32_t seed = 0; seed < kStrings; ++seed)
            database.Admit({*database.Charge(kHome, 2, {}).attempt, 2, kAlice, seed * 7919,
                            SessionHash{uint8_t(seed), uint8_t(seed >> 8)}});
        database.Prune(1'000'000); // everything in the file itself, no log
    }
    const std::string bytes = ReadBytes(pristine);
    const int64_t pageSize = 4096;
    uint32_t random = 12345;
    int damaging = 0;
    for (int trial = 0; trial < 64; ++trial) {
        std::string damaged = bytes;
        random = random * 1103515245 + 12345;
        const std::size_t offset = pageSize + (random >> 8) % (bytes.size() - pageSize - 8);
        for (int i = 0; i < 8; ++i) {
            random = random * 1103515245 + 12345;
            damaged[offset + i] = static_cast<char>(random >> 16);
        }
        const std::string path = m_folder.Path("trial" + std::to_string(trial) + ".db");
        std::ofstream(path, std::ios::binary) << damaged;
        bool worksAgain = false;
        std::vector<std::string> faults;
        try {
            SiteDatabase database = SiteDatabase::Open(path);
            faults = database.Check();
            for (uint32_t seed = 0; seed < kStrings && !worksAgain; ++seed)
                worksAgain =
                    Sql(path, "SELECT count(*) FROM used_strings WHERE identity = '0123456789ABCDEF' AND seed = " +
                                  std::to_string(seed * 7919)) == "0|";
        } catch (const StoreError& error) {
            faults.push_back(error.what());
        }
        damaging += worksAgain;
        EXPECT_TRUE(!worksAgain || !faults.empty()) << "offset " << offset;
        std::filesystem::remove(path);
    }
    EXPECT_GT(damaging, 0);
}
