// The SQLite store: the store contract (StoreContract.h) on a file of its own, and what
// only a file has: its header, its reserve and its log, links to it, damage, and a disk that
// fails to sync (the faults shim, tests/site/faults, is linked in).
#include "site/store/SqliteSiteStore.h"

#include "ProviderContract.h"
#include "StoreContract.h"
#include "StoreErrorOf.h"
#include "SyncFaults.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <sqlite3.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace {

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

Outcome Offered(SiteStore& store, uint32_t seed, int64_t at = 1000)
{
    return store.CheckString(kHome, at, {}, Genuine(kAlice, seed), Logon(seed)).outcome;
}

} // namespace

// The contract's stores: a fresh file each, and the log's syncs failing on demand.
class SqliteStores {
public:
    SqliteStores() { SqliteSiteStore::Initialise(m_path); }
    std::string Unavailable() const { return {}; }
    std::unique_ptr<OperatorStore> Open(StoreUse use) const
    {
        return std::make_unique<SqliteSiteStore>(SqliteSiteStore::Open(m_path, use));
    }
    void Sql(const std::string& sql) const { ::Sql(m_path, sql); }
    std::vector<std::string> Faults() const
    {
        return {"the log's sync fails with EIO", "the log's sync fails with ENOSPC"};
    }
    void Arm(std::size_t fault) { m_disk.Fail(fault == 0 ? "EIO" : "ENOSPC"); }
    void Disarm() { m_disk.Fail("EIO", 0); }

private:
    TempFolder m_folder;
    std::string m_path = m_folder.Path("site.db");
    SyncFaults m_disk{m_folder.Path("")};
};

INSTANTIATE_TYPED_TEST_SUITE_P(Sqlite, StoreContract, SqliteStores);
INSTANTIATE_TYPED_TEST_SUITE_P(Sqlite, ProviderContract, SqliteStores);

class SqliteSiteStoreTest : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(InitResult::Created, SqliteSiteStore::Initialise(m_path)); }

    TempFolder m_folder;
    std::string m_path = m_folder.Path("site.db");
};

TEST_F(SqliteSiteStoreTest, IsMadeOnceInWriteAheadModeWithItsIdAndVersionAndAReserve)
{
    EXPECT_EQ(InitResult::AlreadyThere, SqliteSiteStore::Initialise(m_path));
    EXPECT_EQ("wal|1164858228|" + std::to_string(kSchemaVersion) + "|2|",
              Sql(m_path, "PRAGMA journal_mode; PRAGMA application_id; PRAGMA user_version; PRAGMA auto_vacuum"));
    EXPECT_EQ(1u << 20, std::filesystem::file_size(m_path + "-reserve"));
    EXPECT_TRUE(SqliteSiteStore::Open(m_path).Check().empty());
}

// entravo-site copy takes its tables from the schema's steps: every table a new store has,
// whatever a later step adds, or a copy would leave some behind.
TEST_F(SqliteSiteStoreTest, ACopyTakesEveryTableTheSchemaMakes)
{
    std::string copied;
    for (const TableCopy& copy : TableCopies())
        copied += copy.table + "|";
    EXPECT_EQ(Sql(m_path, "SELECT name FROM sqlite_master WHERE type = 'table' ORDER BY rowid"), copied);
}

TEST_F(SqliteSiteStoreTest, IsClosedToOthersWithItsLogAndAnOlderFileIsClosedByInit)
{
    const auto mode = [](const std::string& path) {
        struct stat info {};
        return stat(path.c_str(), &info) == 0 ? info.st_mode & 0777 : 0;
    };
    const SqliteSiteStore open = SqliteSiteStore::Open(m_path);
    for (const std::string& file : {m_path, m_path + "-wal", m_path + "-shm"})
        EXPECT_EQ(0640u, mode(file)) << file;
    chmod(m_path.c_str(), 0644);
    chmod((m_path + "-wal").c_str(), 0666);
    EXPECT_EQ(InitResult::AlreadyThere, SqliteSiteStore::Initialise(m_path));
    EXPECT_EQ(0640u, mode(m_path));
    EXPECT_EQ(0640u, mode(m_path + "-wal"));
}

TEST_F(SqliteSiteStoreTest, RefusesFilesThatAreNotOursAndLeavesThemAlone)
{
    EXPECT_NE(std::string::npos,
              ErrorOf([&] { SqliteSiteStore::Open(m_folder.Path("missing.db")); }).find("no site database"));

    const std::string text = m_folder.Path("notes.db");
    std::ofstream(text) << "not a database, just notes\n";
    for (const auto& error :
         {ErrorOf([&] { SqliteSiteStore::Initialise(text); }), ErrorOf([&] { SqliteSiteStore::Open(text); })})
        EXPECT_NE(std::string::npos, error.find("is not a site database or is damaged")) << error;
    EXPECT_EQ("not a database, just notes\n", ReadBytes(text));

    const std::string other = m_folder.Path("other.db");
    Sql(other, "CREATE TABLE mine(x); INSERT INTO mine VALUES(42)");
    EXPECT_NE(std::string::npos, ErrorOf([&] { SqliteSiteStore::Initialise(other); }).find("nothing was changed"));
    EXPECT_NE(std::string::npos, ErrorOf([&] { SqliteSiteStore::Open(other); }).find("is not a site database"));
    EXPECT_EQ("42|", Sql(other, "SELECT x FROM mine"));

    Sql(m_path, "PRAGMA user_version = " + std::to_string(kSchemaVersion + 1));
    EXPECT_NE(std::string::npos, ErrorOf([&] {
                                     SqliteSiteStore::Open(m_path);
                                 }).find("newer entravo-site (schema " + std::to_string(kSchemaVersion + 1) + ")"));
}

TEST_F(SqliteSiteStoreTest, AFolderThatCannotBeEnteredIsNamedAsSuch)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root enters every folder";
    const std::string folder = m_folder.Path("closed");
    std::filesystem::create_directory(folder);
    SqliteSiteStore::Initialise(folder + "/site.db");
    std::filesystem::permissions(folder, std::filesystem::perms::none);
    const std::string error = ErrorOf([&] { SqliteSiteStore::Open(folder + "/site.db"); });
    std::filesystem::permissions(folder, std::filesystem::perms::owner_all);
    EXPECT_NE(std::string::npos, error.find("cannot enter the folder")) << error;
}

TEST_F(SqliteSiteStoreTest, BringsAFirstReleaseFileUpToDateKeepingItsRecords)
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
    EXPECT_NE(std::string::npos, ErrorOf([&] { SqliteSiteStore::Open(old); }).find("entravo-site init"));
    EXPECT_EQ(InitResult::Migrated, SqliteSiteStore::Initialise(old));

    SqliteSiteStore database = SqliteSiteStore::Open(old);
    EXPECT_EQ(std::vector<std::string>{}, database.Check());
    EXPECT_EQ(Outcome::AlreadyUsed, Offered(database, 7, 3));
    EXPECT_EQ(2u, database.RecentAttempts(10).size());
    EXPECT_EQ("2|", Sql(old, "PRAGMA auto_vacuum"));
}

// The second release's file gains the column that marks whose a used string is; its used
// strings stay used.
TEST_F(SqliteSiteStoreTest, BringsASecondReleaseFileUpToDateKeepingItsRecords)
{
    {
        SqliteSiteStore database = SqliteSiteStore::Open(m_path);
        database.Enroll(kAlice, "alice", 1);
        ASSERT_EQ(Outcome::Accepted, Offered(database, 7));
    }
    Sql(m_path, "DROP TABLE oidc_clients; DROP TABLE oidc_secrets; DROP TABLE oidc_keys; DROP TABLE oidc_pending;"
                " DROP TABLE oidc_codes; DROP TABLE oidc_access_tokens; DROP TABLE sign_ins; DROP TABLE hourly_counts;"
                " DROP TABLE counters; DROP TABLE admins; ALTER TABLE used_strings DROP COLUMN used_by;"
                " PRAGMA user_version = 2");
    EXPECT_NE(std::string::npos, ErrorOf([&] { SqliteSiteStore::Open(m_path); }).find("older release (schema 2)"));
    EXPECT_EQ(InitResult::Migrated, SqliteSiteStore::Initialise(m_path));
    SqliteSiteStore database = SqliteSiteStore::Open(m_path);
    EXPECT_EQ(std::vector<std::string>{}, database.Check());
    EXPECT_EQ(Outcome::AlreadyUsed, Offered(database, 7));
    EXPECT_EQ(Outcome::Accepted, Offered(database, 8));
}

// Schema 3's tables and indexes as its first release wrote them into every file it made or
// brought up to date. A file keeps that text, and `check` compares it with the text this
// release writes: were it written otherwise, every file in service would be found damaged.
constexpr char kReleasedSchemaThree[] = R"(
CREATE TABLE tokens(
    identity TEXT PRIMARY KEY,
    account TEXT NOT NULL,
    enrolled_at INTEGER NOT NULL,
    revoked_at INTEGER
) WITHOUT ROWID;
CREATE TABLE used_strings(
    identity TEXT NOT NULL,
    seed INTEGER NOT NULL,
    accepted_at INTEGER NOT NULL, used_by INTEGER,
    PRIMARY KEY(identity, seed)
) WITHOUT ROWID;
CREATE TABLE sessions(
    token_hash BLOB PRIMARY KEY,
    identity TEXT NOT NULL,
    opened_at INTEGER NOT NULL
) WITHOUT ROWID;
CREATE INDEX sessions_by_identity ON sessions(identity);
CREATE INDEX sessions_by_age ON sessions(opened_at);
CREATE TABLE attempts(
    id INTEGER PRIMARY KEY,
    at INTEGER NOT NULL,
    address TEXT NOT NULL,
    network TEXT NOT NULL,
    wide_network TEXT,
    identity TEXT,
    outcome TEXT NOT NULL
);
CREATE INDEX failures_by_address ON attempts(address, at) WHERE outcome <> 'accepted';
CREATE INDEX failures_by_network ON attempts(network, at) WHERE outcome <> 'accepted';
CREATE INDEX failures_by_wide_network ON attempts(wide_network, at) WHERE outcome <> 'accepted';
CREATE TABLE daily_counts(
    day INTEGER NOT NULL,
    network TEXT NOT NULL,
    outcome TEXT NOT NULL,
    count INTEGER NOT NULL,
    PRIMARY KEY(day, network, outcome)
) WITHOUT ROWID;
CREATE TABLE brakes(
    network TEXT PRIMARY KEY,
    until INTEGER NOT NULL
) WITHOUT ROWID;
CREATE TABLE clients(
    id INTEGER PRIMARY KEY,
    name TEXT NOT NULL,
    key BLOB NOT NULL,
    added_at INTEGER NOT NULL
);
CREATE TABLE nonces(
    client INTEGER NOT NULL,
    nonce TEXT NOT NULL,
    at INTEGER NOT NULL,
    PRIMARY KEY(client, nonce)
) WITHOUT ROWID;
CREATE INDEX nonces_by_age ON nonces(at);
PRAGMA application_id = 1164858228;
PRAGMA user_version = 3;
)";

// Brought up to date, its text of the tables made since is the text a new file has.
TEST_F(SqliteSiteStoreTest, AFileAsTheReleaseThatMadeItsSchemaWroteItChecksCleanOnceUpToDate)
{
    const std::string released = m_folder.Path("released.db");
    Sql(released, kReleasedSchemaThree);
    EXPECT_EQ(InitResult::Migrated, SqliteSiteStore::Initialise(released));
    EXPECT_EQ(std::vector<std::string>{}, SqliteSiteStore::Open(released).Check());
}

TEST_F(SqliteSiteStoreTest, LogStaysShortWhenEveryRequestOpensTheDatabaseAfresh)
{
    SqliteSiteStore::Open(m_path).Enroll(kAlice, "alice", 1);
    for (uint32_t seed = 0; seed < 250; ++seed) {
        SqliteSiteStore database = SqliteSiteStore::Open(m_path);
        ASSERT_EQ(Outcome::Accepted, Offered(database, seed));
    }
    // Without its own checkpoints the log would hold every page these requests wrote.
    constexpr std::uintmax_t kFrameBytes = 24 + 4096;
    EXPECT_LT(std::filesystem::file_size(m_path + "-wal"), 100 * kFrameBytes);
    EXPECT_EQ("250|", Sql(m_path, "SELECT count(*) FROM used_strings"));
}

TEST_F(SqliteSiteStoreTest, AFloodGrowsTheFileByLittle)
{
    SqliteSiteStore database = SqliteSiteStore::Open(m_path);
    // The log comes and goes (emptied every 64 pages): what stays is the file.
    const auto size = [&] {
        Sql(m_path, "PRAGMA wal_checkpoint(TRUNCATE)");
        return std::filesystem::file_size(m_path) + std::filesystem::file_size(m_path + "-wal");
    };
    const auto before = size();
    const auto junk = [] { return Verification{Verdict::NotGenuine, kAlice, 0}; };
    // One address, then a whole /24: a minute each, a request every 10 ms.
    for (int64_t i = 0; i < 6000; ++i) {
        const Origin one{"192.0.2.7", "192.0.2.0/24", ""};
        const Origin many{"198.51.100." + std::to_string(i % 256), "198.51.100.0/24", ""};
        for (const Origin& origin : {one, many})
            database.CheckString(origin, 1000 + i / 100, {}, junk, {});
    }
    EXPECT_LT(size() - before, 2 * 100'000u);
}

TEST_F(SqliteSiteStoreTest, DamageThatWouldLetAUsedStringWorkAgainIsFoundByCheck)
{
    constexpr uint32_t kStrings = 400;
    const std::string pristine = m_folder.Path("pristine.db");
    {
        SqliteSiteStore::Initialise(pristine);
        SqliteSiteStore database = SqliteSiteStore::Open(pristine);
        database.Enroll(kAlice, "alice", 1);
        for (uint32_t seed = 0; seed < kStrings; ++seed)
            database.CheckString(kHome, 2, {60, 1000, 1000, 1000}, Genuine(kAlice, seed * 7919), Logon(seed));
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
            SqliteSiteStore database = SqliteSiteStore::Open(path);
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

// The log is synced where SQLite keeps it, beside the database file itself, whatever links lead
// there: for the login page's acceptances and for the operator's revocations alike.
TEST_F(SqliteSiteStoreTest, DurableCommitsSyncTheLogThroughALinkToTheFileOrToItsFolder)
{
    const std::string real = m_folder.Path("real");
    std::filesystem::create_directory(real);
    SqliteSiteStore::Initialise(real + "/site.db");
    std::filesystem::create_symlink(real + "/site.db", m_folder.Path("link.db"));
    std::filesystem::create_directory_symlink(real, m_folder.Path("linked"));
    SyncFaults disk(m_folder.Path(""));
    uint32_t seed = 0;
    for (const std::string& path : {m_folder.Path("link.db"), m_folder.Path("linked") + "/site.db"}) {
        SqliteSiteStore database = SqliteSiteStore::Open(path, StoreUse::LongLived);
        const int before = disk.Count(real + "/site.db-wal ok");
        database.Enroll(kAlice, "alice", 1);
        EXPECT_EQ(Outcome::Accepted, Offered(database, ++seed));
        database.Revoke(kAlice, 2);
        EXPECT_LE(before + 3, disk.Count(real + "/site.db-wal ok")) << path;
    }
}

// A sync of the log fails after the commit: the verdicts stand, and before they go out the store
// is opened afresh, its log written into the database file and that file synced. The failed log
// is never synced again; the process's other stores move to the new connection by themselves.
TEST_F(SqliteSiteStoreTest, AFailedSyncLeavesItsVerdictsStandingAndTheStoreWrittenAfresh)
{
    SyncFaults disk(m_folder.Path(""));
    SqliteSiteStore database = SqliteSiteStore::Open(m_path, StoreUse::LongLived);
    SqliteSiteStore other = SqliteSiteStore::Open(m_path, StoreUse::LongLived);
    database.Enroll(kAlice, "alice", 1);
    disk.Fail("EIO");
    const StringCheck check = database.CheckString(kHome, 1000, {}, Genuine(kAlice, 1), Logon(1));
    EXPECT_EQ(Outcome::Accepted, check.outcome);
    EXPECT_NE(std::string::npos, check.fault.find("cannot be synced (Input/output error)")) << check.fault;
    EXPECT_NE(std::string::npos, check.fault.find("opened afresh")) << check.fault;
    EXPECT_FALSE(check.storeFailed);
    const std::vector<std::string> notes = disk.Notes();
    const auto failed = std::find(notes.begin(), notes.end(), m_path + "-wal Input/output error");
    ASSERT_NE(notes.end(), failed);
    EXPECT_NE(notes.end(), std::find(failed, notes.end(), m_path + " ok")) << "the database file synced";
    EXPECT_TRUE(database.FindSession(Logon(1).mark, 0));

    const int synced = disk.Count(m_path + "-wal ok");
    EXPECT_EQ(Outcome::Accepted, Offered(other, 2));
    EXPECT_EQ(Outcome::AlreadyUsed, Offered(database, 1));
    EXPECT_LT(synced, disk.Count(m_path + "-wal ok")) << "through a new descriptor";
}

// When opening afresh fails too, the verdict still goes out as it stands, and says that the
// store must be opened again: the next check does so, and writes.
TEST_F(SqliteSiteStoreTest, AStoreThatCannotBeWrittenAfreshAtOnceIsOpenedAgainByTheNextCheck)
{
    SyncFaults disk(m_folder.Path(""));
    SqliteSiteStore database = SqliteSiteStore::Open(m_path, StoreUse::LongLived);
    database.Enroll(kAlice, "alice", 1);
    disk.Fail("ENOSPC", 2);
    const StringCheck check = database.CheckString(kHome, 1000, {}, Genuine(kAlice, 1), Logon(1));
    EXPECT_EQ(Outcome::Accepted, check.outcome);
    EXPECT_TRUE(check.storeFailed);
    EXPECT_NE(std::string::npos, check.fault.find("opening the store afresh failed")) << check.fault;
    EXPECT_EQ(Outcome::Accepted, Offered(database, 2));
    EXPECT_EQ(Outcome::AlreadyUsed, Offered(database, 1));
}

// Another program holds the write lock past the busy wait: a copy of a link already used is
// refused as used, never told to come back; a string not yet used is told to (and kept nothing).
TEST_F(SqliteSiteStoreTest, ACheckThatOutwaitsTheWritersSaysAUsedStringIsUsed)
{
    SqliteSiteStore store = SqliteSiteStore::Open(m_path);
    store.Enroll(kAlice, "alice", 1);
    ASSERT_EQ(Outcome::Accepted, Offered(store, 7));
    sqlite3* holder = nullptr;
    ASSERT_EQ(SQLITE_OK, sqlite3_open(m_path.c_str(), &holder));
    ASSERT_EQ(SQLITE_OK, sqlite3_exec(holder, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr));
    EXPECT_EQ(Outcome::AlreadyUsed, Offered(store, 7));
    EXPECT_EQ(StoreError::Kind::Busy, [&] {
        try {
            Offered(store, 8);
        } catch (const StoreError& error) {
            return error.kind();
        }
        return StoreError::Kind::Broken;
    }());
    sqlite3_exec(holder, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(holder);
    EXPECT_EQ(Outcome::Accepted, Offered(store, 8));
}
