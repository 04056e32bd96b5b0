#pragma once
// A fresh site store for one test, of either kind: a SQLite file in a folder of its own, or a
// schema of its own in the test run's PostgreSQL cluster (tests/site/pg-fixture.sh, whose URI
// file ENTRAVO_TEST_PG_URI_FILE names), gone with the test. The programs reach it by its
// address alone; the test's own SQL goes through the databases' C libraries, as another program
// would, so that it can age or damage what the programs wrote.
#include "site/store/OpenStore.h"

#include "TempFolder.h"

#include <libpq-fe.h>
#include <sqlite3.h>
#include <unistd.h>

#include <atomic>
#include <cstdlib>
#include <fstream>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

enum class StoreKind { Sqlite, Postgres };

inline std::string KindName(StoreKind kind)
{
    return kind == StoreKind::Sqlite ? "Sqlite" : "Postgres";
}

class ThrowawayStore {
public:
    explicit ThrowawayStore(StoreKind kind) : m_kind(kind)
    {
        if (kind == StoreKind::Sqlite) {
            m_address = m_folder.Path("site.db");
            m_unmade = m_folder.Path("unmade.db");
            std::ofstream(m_unmade) << std::string(4096, 'x');
            return;
        }
        const std::string cluster = ClusterUri();
        if (cluster.empty())
            return;
        static std::atomic<int> made{0};
        const std::string name = "s" + std::to_string(getpid()) + "_" + std::to_string(++made);
        m_schemas = {name, name + "_unmade"};
        m_admin.reset(PQconnectdb(cluster.c_str()));
        for (const std::string& schema : m_schemas)
            Admin("DROP SCHEMA IF EXISTS " + schema + " CASCADE; CREATE SCHEMA " + schema);
        m_address = cluster + "&options=-csearch_path%3D" + m_schemas[0];
        m_unmade = cluster + "&options=-csearch_path%3D" + m_schemas[1];
    }
    ~ThrowawayStore()
    {
        for (const std::string& schema : m_schemas)
            Admin("DROP SCHEMA " + schema + " CASCADE");
    }
    ThrowawayStore(const ThrowawayStore&) = delete;
    ThrowawayStore& operator=(const ThrowawayStore&) = delete;

    // Why this kind cannot be had here, or nothing.
    std::string Unavailable() const
    {
        return m_address.empty() ? "no PostgreSQL cluster for the tests (tests/site/pg-fixture.sh)" : "";
    }
    StoreKind Kind() const { return m_kind; }
    // The store's address, as ENTRAVO_SITE_DB or --db names it; init has not run.
    const std::string& Address() const { return m_address; }
    // An address of the same kind where something else is: a file of other bytes, a schema
    // without the site's tables.
    const std::string& Unmade() const { return m_unmade; }
    std::unique_ptr<OperatorStore> Open(StoreUse use = StoreUse::OneRequest) const { return OpenStore(m_address, use); }

    // The rows of the last statement of sql, each row's values joined with '|', rows ended by '\n'.
    std::string Sql(const std::string& sql) const
    {
        return m_kind == StoreKind::Sqlite ? SqliteRows(sql)
                                           : PostgresRows("SET search_path TO " + m_schemas[0] + ";" + sql);
    }

    // The cluster's URI, as the fixture wrote it; empty without one.
    static std::string ClusterUri()
    {
        const char* file = std::getenv("ENTRAVO_TEST_PG_URI_FILE");
        std::string uri;
        if (file)
            std::getline(std::ifstream(file), uri);
        return uri;
    }

private:
    struct PgCloser {
        void operator()(PGconn* connection) const noexcept { PQfinish(connection); }
    };

    void Admin(const std::string& sql) const
    {
        if (m_admin)
            PQclear(PQexec(m_admin.get(), sql.c_str()));
    }

    std::string SqliteRows(const std::string& sql) const
    {
        sqlite3* database = nullptr;
        sqlite3_open(m_address.c_str(), &database);
        std::string rows;
        char* error = nullptr;
        sqlite3_exec(
            database, sql.c_str(),
            [](void* out, int columns, char** values, char**) {
                std::string& text = *static_cast<std::string*>(out);
                for (int i = 0; i < columns; ++i)
                    text += std::string(i ? "|" : "") + (values[i] ? values[i] : "NULL");
                text += '\n';
                return 0;
            },
            &rows, &error);
        const std::string problem = error ? error : "";
        sqlite3_free(error);
        sqlite3_close(database);
        if (!problem.empty())
            throw std::runtime_error(problem);
        return rows;
    }

    std::string PostgresRows(const std::string& sql) const
    {
        PGresult* result = PQexec(m_admin.get(), sql.c_str());
        const ExecStatusType status = PQresultStatus(result);
        std::string rows;
        for (int row = 0; status == PGRES_TUPLES_OK && row < PQntuples(result); ++row) {
            for (int column = 0; column < PQnfields(result); ++column)
                rows += std::string(column ? "|" : "") +
                        (PQgetisnull(result, row, column) ? "NULL" : PQgetvalue(result, row, column));
            rows += '\n';
        }
        const std::string problem = PQresultErrorMessage(result);
        PQclear(result);
        Admin("RESET search_path");
        if (status != PGRES_TUPLES_OK && status != PGRES_COMMAND_OK)
            throw std::runtime_error(problem);
        return rows;
    }

    StoreKind m_kind;
    TempFolder m_folder;
    std::string m_address;
    std::string m_unmade;
    std::vector<std::string> m_schemas;
    std::unique_ptr<PGconn, PgCloser> m_admin;
};
