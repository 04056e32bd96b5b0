// The site's SQL written once: PostgreSQL's text made from SQLite's, and the schema's steps.
#include "site/store/StoreRules.h"
#include "site/store/StoreSql.h"

#include <gtest/gtest.h>

TEST(StoreSql, PostgresReadsTheSameStatementWithItsOwnWordsAndLeavesQuotedTextAlone)
{
    const std::pair<const char*, const char*> cases[] = {
        {"SELECT 1 FROM t WHERE a = ?1 AND b < ?12", "SELECT 1 FROM t WHERE a = $1 AND b < $12"},
        {"CREATE TABLE t(\n    id INTEGER PRIMARY KEY,\n    at INTEGER NOT NULL,\n    key BLOB\n);",
         "CREATE TABLE t(\n    id BIGINT GENERATED ALWAYS AS IDENTITY PRIMARY KEY,\n    at BIGINT NOT NULL,\n"
         "    key BYTEA\n);"},
        {"CREATE TABLE t(\n    name TEXT PRIMARY KEY,\n    seen INTEGER\n) WITHOUT ROWID;",
         "CREATE TABLE t(\n    name TEXT PRIMARY KEY,\n    seen BIGINT\n);"},
        {"ALTER TABLE t ADD COLUMN used_by INTEGER", "ALTER TABLE t ADD COLUMN used_by BIGINT"},
        // Only whole words, and nothing between quotes: the text a statement writes, a pattern.
        {"SELECT 'INTEGER ?1 BLOB' || x_INTEGER || BLOBS FROM t WHERE a GLOB '?*' AND b = ?2",
         "SELECT 'INTEGER ?1 BLOB' || x_INTEGER || BLOBS FROM t WHERE a GLOB '?*' AND b = $2"},
        {"SELECT 'it''s ?1' WHERE a = ?1", "SELECT 'it''s ?1' WHERE a = $1"},
    };
    for (const auto& [sqlite, postgres] : cases)
        EXPECT_EQ(postgres, PostgresDialect(sqlite)) << sqlite;
}

// A release that adds a step raises the version, or stores made with the step would claim the
// version before it, and stores of that version would never be brought up to it.
TEST(StoreSql, EachStepOfTheSchemaIsAVersion)
{
    EXPECT_EQ(kSchemaVersion, static_cast<int64_t>(SchemaSteps().size()));
}
