// The shared transaction's rules (SqliteConnection.cpp), each played out with threads in a set order:
// who leads, when a group closes, what a piece that throws, a group that cannot commit and a
// sync that fails do to each member; then many threads in every order at once, each result
// compared with the rows the database holds.
#include "site/store/SqliteConnection.h"

#include "SyncFaults.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <functional>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

// Bounded: a rule broken shows as a failure, not as a test that never ends.
template <typename Condition>
bool WaitUntil(Condition condition)
{
    for (int poll = 0; poll < 5000; ++poll) {
        if (condition())
            return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

// What one member's call came to.
struct Result {
    bool returned = false;
    std::optional<std::string> unsynced;
    std::string error;
    std::thread::id ranOn;
};

class SharedTransactionTest : public ::testing::Test {
protected:
    SharedTransactionTest()
    {
        m_connection.Execute("PRAGMA journal_mode = WAL; PRAGMA synchronous = NORMAL; PRAGMA foreign_keys = ON;"
                             "CREATE TABLE rows(id INTEGER PRIMARY KEY);"
                             "CREATE TABLE parents(id INTEGER PRIMARY KEY);"
                             "CREATE TABLE children(id INTEGER PRIMARY KEY, parent INTEGER REFERENCES parents(id)"
                             " DEFERRABLE INITIALLY DEFERRED)");
    }

    // A piece that writes row id, then does what it is told: nothing, throw, or write an orphan
    // that only the commit refuses. It asks for durability when durable.
    std::function<bool()> Piece(int id, Result& result, std::string_view then = "", bool durable = true,
                                std::function<void()> meanwhile = {})
    {
        return [this, id, &result, then, durable, meanwhile] {
            result.ranOn = std::this_thread::get_id();
            SqliteQuery(m_connection, "INSERT INTO rows VALUES(?1)").Bind(1, int64_t{id}).Run();
            if (meanwhile)
                meanwhile();
            if (then == "throw")
                throw std::runtime_error("piece " + std::to_string(id) + " failed");
            if (then == "orphan")
                SqliteQuery(m_connection, "INSERT INTO children VALUES(?1, 999)").Bind(1, int64_t{id}).Run();
            return durable;
        };
    }

    // Brings a piece on a thread of its own; the result lands in result.
    std::thread Bring(std::function<bool()> piece, Result& result)
    {
        return std::thread([this, piece = std::move(piece), &result] {
            try {
                result.unsynced = m_connection.InSharedTransaction(piece);
                result.returned = true;
            } catch (const std::exception& error) {
                result.error = error.what();
            }
        });
    }

    std::set<int64_t> Rows()
    {
        const std::lock_guard turn(m_connection.Turn());
        std::set<int64_t> rows;
        SqliteQuery query(m_connection, "SELECT id FROM rows");
        while (query.Step())
            rows.insert(query.Integer(0));
        return rows;
    }

    // Four members: A leads a group of its own and holds it until B, C and D wait; they form
    // the next group. Returns the results once all four are done.
    std::vector<Result> AfterAGroupOfOne(std::string_view b, std::string_view c, std::string_view d)
    {
        std::vector<Result> results(4);
        std::atomic<bool> leading{false}, release{false};
        std::vector<std::thread> threads;
        threads.push_back(Bring(Piece(1, results[0], "", true,
                                      [&] {
                                          leading = true;
                                          WaitUntil([&] { return release.load(); });
                                      }),
                                results[0]));
        EXPECT_TRUE(WaitUntil([&] { return leading.load(); }));
        int id = 2;
        for (const std::string_view then : {b, c, d}) {
            const std::size_t before = m_connection.Waiting();
            threads.push_back(Bring(Piece(id, results[id - 1], then), results[id - 1]));
            EXPECT_TRUE(WaitUntil([&] { return m_connection.Waiting() == before + 1; })) << "member " << id;
            ++id;
        }
        release = true;
        for (std::thread& thread : threads)
            thread.join();
        return results;
    }

    TempFolder m_folder;
    SqliteConnection m_connection{m_folder.Path("shared.db"), SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE};
};

} // namespace

// The first to find no group running leads: A alone. Those who came meanwhile wait and form the
// next group, led by the first of them, on whose thread all their work runs.
TEST_F(SharedTransactionTest, TheFirstThreadLeadsAndThoseWhoComeMeanwhileFormTheNextGroup)
{
    const std::vector<Result> results = AfterAGroupOfOne("", "", "");
    for (const Result& result : results) {
        EXPECT_TRUE(result.returned) << result.error;
        EXPECT_FALSE(result.unsynced);
    }
    EXPECT_EQ(results[1].ranOn, results[2].ranOn);
    EXPECT_EQ(results[1].ranOn, results[3].ranOn);
    EXPECT_NE(results[0].ranOn, results[1].ranOn);
    EXPECT_EQ((std::set<int64_t>{1, 2, 3, 4}), Rows());
}

// A piece that throws is rolled back alone; its thread gets what it threw, the others commit.
TEST_F(SharedTransactionTest, APieceThatThrowsIsRolledBackAloneAndTheOthersCommit)
{
    const std::vector<Result> results = AfterAGroupOfOne("", "throw", "");
    EXPECT_TRUE(results[1].returned);
    EXPECT_EQ("piece 3 failed", results[2].error);
    EXPECT_TRUE(results[3].returned);
    EXPECT_EQ((std::set<int64_t>{1, 2, 4}), Rows());
}

// A group whose commit fails keeps nothing, and every member hears of it: each may truthfully
// be told to try again. The group before it stands.
TEST_F(SharedTransactionTest, AGroupThatCannotCommitKeepsNothingAndEveryMemberHearsOfIt)
{
    const std::vector<Result> results = AfterAGroupOfOne("", "orphan", "");
    EXPECT_TRUE(results[0].returned);
    for (int member = 1; member < 4; ++member) {
        EXPECT_FALSE(results[member].returned) << member;
        EXPECT_NE(std::string::npos, results[member].error.find("FOREIGN KEY")) << results[member].error;
    }
    EXPECT_EQ((std::set<int64_t>{1}), Rows());
}

// The sync after the second group's commit fails: its members get their results (the rows are
// there) and the failure with them. The failed log is never synced again, and the connection
// begins no more writes: a later member is refused before its work runs.
TEST_F(SharedTransactionTest, ASyncThatFailsLeavesTheResultsStandingAndTheConnectionWritesNoMore)
{
    SyncFaults disk(m_folder.Path(""));
    std::vector<Result> results(4);
    std::atomic<bool> leading{false}, release{false};
    std::thread first = Bring(Piece(1, results[0], "", false,
                                    [&] {
                                        leading = true;
                                        WaitUntil([&] { return release.load(); });
                                    }),
                              results[0]);
    ASSERT_TRUE(WaitUntil([&] { return leading.load(); }));
    std::vector<std::thread> threads;
    for (int id = 2; id <= 4; ++id) {
        const std::size_t before = m_connection.Waiting();
        threads.push_back(Bring(Piece(id, results[id - 1]), results[id - 1]));
        ASSERT_TRUE(WaitUntil([&] { return m_connection.Waiting() == before + 1; }));
    }
    disk.Fail("EIO");
    release = true;
    first.join();
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_FALSE(results[0].unsynced) << "it asked for no sync";
    for (int member = 1; member < 4; ++member) {
        EXPECT_TRUE(results[member].returned) << member;
        ASSERT_TRUE(results[member].unsynced) << member;
        EXPECT_NE(std::string::npos, results[member].unsynced->find("Input/output error"));
    }
    EXPECT_TRUE(m_connection.Failed());

    Result later;
    Bring(Piece(5, later), later).join();
    EXPECT_NE(std::string::npos, later.error.find("opened afresh")) << later.error;
    EXPECT_EQ(std::thread::id(), later.ranOn) << "its work never ran";
    EXPECT_EQ((std::set<int64_t>{1, 2, 3, 4}), Rows());
    EXPECT_EQ(1, disk.Count(m_folder.Path("shared.db") + "-wal Input/output error"));
    EXPECT_EQ(0, disk.Count(m_folder.Path("shared.db") + "-wal ok")) << "the failed log is never synced again";
}

// Many threads, pieces that commit, throw or break their group's commit, durable or not, in
// whatever order they meet: each thread's answer is what the database holds, and durable pieces
// share syncs.
TEST_F(SharedTransactionTest, InEveryOrderEachAnswerIsWhatTheDatabaseHolds)
{
    SyncFaults disk(m_folder.Path(""));
    constexpr int kThreads = 16;
    constexpr int kPieces = 40;
    std::vector<std::vector<Result>> results(kThreads, std::vector<Result>(kPieces));
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
        threads.emplace_back([&, t] {
            for (int i = 0; i < kPieces; ++i) {
                const int id = t * 1000 + i;
                const int kind = (t * 7 + i * 13) % 20;
                const std::string_view then = kind == 0 ? "throw" : kind == 1 ? "orphan" : "";
                Result& result = results[t][i];
                try {
                    result.unsynced = m_connection.InSharedTransaction(Piece(id, result, then, kind % 2 == 0));
                    result.returned = true;
                } catch (const std::exception& error) {
                    result.error = error.what();
                }
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    std::set<int64_t> returned;
    int durable = 0;
    for (int t = 0; t < kThreads; ++t) {
        for (int i = 0; i < kPieces; ++i) {
            const Result& result = results[t][i];
            EXPECT_FALSE(result.unsynced);
            if (result.returned)
                returned.insert(t * 1000 + i);
            durable += result.returned && (t * 7 + i * 13) % 20 % 2 == 0;
        }
    }
    EXPECT_EQ(returned, Rows());
    EXPECT_LT(0, durable);
    EXPECT_GE(durable, disk.Count(m_folder.Path("shared.db") + "-wal ok"));
}
