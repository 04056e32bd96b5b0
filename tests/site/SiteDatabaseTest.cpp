#include "site/store/SiteDatabase.h"

#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sqlite3.h>

#include <filesystem>
#include <fstream>
#include <sstream>
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

template <typename Action>
std::string ErrorOf(Action action)
{
    try {
        action();
    } catch (const StoreError& error) {
        return error.what();
    }
    return "no error";
}

Claim ClaimFor(const RomBytes& identity, uint32_t seed, int64_t at = 1000, uint8_t session = 1)
{
    return {at, "192.0.2.7", identity, seed, SessionHash{session}};
}

class SiteDatabaseTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(InitResult::Created, SiteDatabase::Initialise(m_path)); }

    TempFolder m_folder;
    std::string m_path = m_folder.Path("site.db");
};

} // namespace

TEST_F(SiteDatabaseTest, IsMadeOnceInWriteAheadModeWithItsIdAndVersion)
{
    EXPECT_EQ(InitResult::AlreadyThere, SiteDatabase::Initialise(m_path));
    EXPECT_EQ("wal|1164858228|1|", Sql(m_path, "PRAGMA journal_mode; PRAGMA application_id; PRAGMA user_version"));
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

    Sql(m_path, "PRAGMA user_version = 2");
    EXPECT_NE(std::string::npos, ErrorOf([&] { SiteDatabase::Open(m_path); }).find("newer entravo-site (schema 2)"));
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

TEST_F(SiteDatabaseTest, AdmitsEachIdentityAndSeedOnceAndRecordsEveryAttempt)
{
    SiteDatabase database = SiteDatabase::Open(m_path);
    EXPECT_EQ(Outcome::NotEnrolled, database.Admit(ClaimFor(kAlice, 7)).outcome);
    database.Enroll(kAlice, "alice", 1);
    database.Enroll(kBob, "bob", 1);

    const Admission first = database.Admit(ClaimFor(kAlice, 7));
    EXPECT_EQ(Outcome::Accepted, first.outcome);
    EXPECT_EQ("alice", first.account);
    EXPECT_EQ(Outcome::AlreadyUsed, database.Admit(ClaimFor(kAlice, 7, 1001, 2)).outcome);
    // The same seed for another token, or another seed for the same token, is another string.
    EXPECT_EQ(Outcome::Accepted, database.Admit(ClaimFor(kBob, 7, 1002, 3)).outcome);
    EXPECT_EQ(Outcome::Accepted, database.Admit(ClaimFor(kAlice, 8, 1003, 4)).outcome);
    database.Revoke(kAlice, 1004);
    EXPECT_EQ(Outcome::Revoked, database.Admit(ClaimFor(kAlice, 9, 1005, 5)).outcome);
    database.Record({1006, "198.51.100.1", std::nullopt, Outcome::Malformed});

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

TEST_F(SiteDatabaseTest, SessionsLastTheirLifetimeAndEndWithTheToken)
{
    SiteDatabase database = SiteDatabase::Open(m_path);
    database.Enroll(kAlice, "alice", 1);
    database.Admit(ClaimFor(kAlice, 7, 1000, 9));
    EXPECT_EQ("alice", database.SessionAccount(SessionHash{9}, 1000));
    EXPECT_EQ(std::nullopt, database.SessionAccount(SessionHash{9}, 1001));
    EXPECT_EQ(std::nullopt, database.SessionAccount(SessionHash{8}, 0));
    // A refused string opens no session.
    database.Admit(ClaimFor(kAlice, 7, 1000, 10));
    EXPECT_EQ(std::nullopt, database.SessionAccount(SessionHash{10}, 0));
    database.Revoke(kAlice, 1002);
    EXPECT_EQ(std::nullopt, database.SessionAccount(SessionHash{9}, 0));
}

TEST_F(SiteDatabaseTest, LogStaysShortWhenEveryRequestOpensTheDatabaseAfresh)
{
    SiteDatabase::Open(m_path).Enroll(kAlice, "alice", 1);
    for (uint32_t seed = 0; seed < 250; ++seed)
        ASSERT_EQ(Outcome::Accepted,
                  SiteDatabase::Open(m_path).Admit(ClaimFor(kAlice, seed, 1000, uint8_t(seed))).outcome);
    // Without its own checkpoints the log would hold every page these requests wrote.
    constexpr std::uintmax_t kFrameBytes = 24 + 4096;
    EXPECT_LT(std::filesystem::file_size(m_path + "-wal"), 100 * kFrameBytes);
    EXPECT_EQ("250|", Sql(m_path, "SELECT count(*) FROM used_strings"));
}

TEST_F(SiteDatabaseTest, CountsRecentFailuresOfOneAddressUpToTheLimit)
{
    SiteDatabase database = SiteDatabase::Open(m_path);
    for (int64_t at = 100; at < 130; ++at)
        database.Record({at, "192.0.2.7", std::nullopt, at % 3 ? Outcome::NotGenuine : Outcome::Accepted});
    database.Record({129, "192.0.2.8", std::nullopt, Outcome::Malformed});
    EXPECT_EQ(20, database.CountFailures("192.0.2.7", 0, 20));
    EXPECT_EQ(20, database.CountFailures("192.0.2.7", 0, 100));
    EXPECT_EQ(6, database.CountFailures("192.0.2.7", 120, 100));
    EXPECT_EQ(1, database.CountFailures("192.0.2.8", 0, 100));
    EXPECT_EQ(0, database.CountFailures("192.0.2.9", 0, 100));
}
