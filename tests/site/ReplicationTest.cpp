// What `entravo-site check` warns about a PostgreSQL database's replication, from what the
// server shows (the real views are read by tests/site/replication-e2e.sh).
#include "site/store/Replication.h"

#include <gtest/gtest.h>

namespace {

const std::string kRisk = "an acceptance can be lost on failover, so its string could work twice";

TEST(ReplicationWarnings, SynchronousStandbysAndCommitsThatWaitForThemAreNoNews)
{
    const Replication replication{
        {{"db2", "sync"}, {"db3", "quorum"}},
        "ANY 1 (db2, db3)",
        {{"this connection (role www-data)", "on"}, {"role audit in every database", "remote_apply"}}};
    EXPECT_TRUE(ReplicationWarnings(replication).empty());
    EXPECT_TRUE(ReplicationWarnings({}).empty()) << "no standby, the default commit";
}

TEST(ReplicationWarnings, AStandbyThatDoesNotWaitForAcceptancesIsNamedWithTheRisk)
{
    const auto warnings =
        ReplicationWarnings({{{"db2", "async"}, {"db3", "potential"}, {"db4", "sync"}}, "FIRST 1 (db4, db3)", {}});
    ASSERT_EQ(2u, warnings.size());
    EXPECT_EQ("standby \"db2\" replicates asynchronously (sync_state async): " + kRisk, warnings[0]);
    EXPECT_EQ("standby \"db3\" replicates asynchronously (sync_state potential): " + kRisk, warnings[1]);
}

// A role without pg_read_all_stats sees a standby's name and no more: with no synchronous
// standby named, it is asynchronous all the same; otherwise the role cannot tell.
TEST(ReplicationWarnings, AStandbyWhoseStateIsHiddenIsAsynchronousWhenNoneIsNamedElseUnknown)
{
    EXPECT_EQ(
        std::vector<std::string>{"standby \"db2\" replicates asynchronously (synchronous_standby_names is empty): " +
                                 kRisk},
        ReplicationWarnings({{{"db2", std::nullopt}}, "", {}}));
    const auto hidden = ReplicationWarnings({{{"db2", std::nullopt}}, "db2", {}});
    ASSERT_EQ(1u, hidden.size());
    EXPECT_NE(std::string::npos, hidden[0].find("pg_read_all_stats")) << hidden[0];
    EXPECT_NE(std::string::npos, hidden[0].find(kRisk)) << hidden[0];
}

TEST(ReplicationWarnings, ACommitThatReturnsBeforeTheStandbyHasItIsNamedWhereverItIsSet)
{
    const auto warnings = ReplicationWarnings(
        {{}, "", {{"this connection (role www-data)", "local"}, {"role www-data in database entravo", "FALSE"}}});
    ASSERT_EQ(2u, warnings.size());
    EXPECT_EQ("synchronous_commit is local for this connection (role www-data): " + kRisk, warnings[0]);
    EXPECT_EQ("synchronous_commit is FALSE for role www-data in database entravo: " + kRisk, warnings[1]);

    // As PostgreSQL reads the value: any case, the boolean words and their unambiguous prefixes.
    for (const char* lower :
         {"off", "Off", "of", "false", "f", "no", "n", "0", "local", "remote_write", "REMOTE_WRITE"})
        EXPECT_TRUE(CommitsBeforeStandby(lower)) << lower;
    for (const char* waits : {"on", "ON", "true", "t", "yes", "1", "remote_apply", "o", ""})
        EXPECT_FALSE(CommitsBeforeStandby(waits)) << waits;
}

} // namespace
