#pragma once
// The site's SQL, written once for both stores: the tables, step by step as the releases made
// them, and the statements both stores run. It is written in SQLite's dialect, whose text a
// SQLite file keeps for each table and index just as it was written, and `check` compares with
// it: the files of earlier releases must read the same. PostgresDialect makes PostgreSQL's text
// from it. What one store alone runs (the PostgreSQL store's admission in one statement, each
// store's clean-up of attempts, its header and catalog) is written in that store, from the pieces
// below where it names an outcome.
#include "site/store/SiteStore.h"

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

// Whether a statement may be sent again once its connection was found lost (PgConnection says
// when; a SQLite file is never lost between a statement and its answer).
enum class Resend { Allowed, Never };

// When a transaction's commit returns. Durable: once it is on the disk, for what a power cut
// must not undo (an acceptance, an enrolment, a revocation, a sign-out). Unsynced: once it is
// written; the disk follows a moment later, so a crash of the database's machine may undo the
// last of them, a crash of the program never.
enum class Durability { Durable, Unsynced };

// One parameter of a statement: a whole number, text, bytes, or NULL. Every value is also held
// as the bytes PostgreSQL is sent (a number in decimal digits).
class SqlValue {
public:
    enum class Kind { Null, Integer, Text, Bytes };

    SqlValue(std::nullopt_t) {}
    SqlValue(std::string_view text) : m_kind(Kind::Text), m_bytes(text) {}
    SqlValue(const std::string& text) : SqlValue(std::string_view(text)) {}
    SqlValue(const char* text) : SqlValue(std::string_view(text)) {}
    SqlValue(int64_t number) : m_kind(Kind::Integer), m_number(number), m_bytes(std::to_string(number)) {}
    SqlValue(std::span<const uint8_t> bytes)
        : m_kind(Kind::Bytes), m_bytes(reinterpret_cast<const char*>(bytes.data()), bytes.size())
    {
    }
    template <typename T>
    SqlValue(const std::optional<T>& value)
    {
        if (value)
            *this = SqlValue(*value);
    }

    Kind kind() const { return m_kind; }
    int64_t Number() const { return m_number; }
    const std::string& Bytes() const { return m_bytes; }

private:
    Kind m_kind = Kind::Null;
    int64_t m_number = 0;
    std::string m_bytes;
};

// A statement's parameters: a braced list written at the call, or values gathered at run time
// (a copied row). A view: the values outlive the call they are given to.
class SqlValues {
public:
    SqlValues() = default;
    SqlValues(std::initializer_list<SqlValue> values) : m_values(values.begin(), values.size()) {}
    SqlValues(std::span<const SqlValue> values) : m_values(values) {}

    auto begin() const { return m_values.begin(); }
    auto end() const { return m_values.end(); }
    std::size_t size() const { return m_values.size(); }

private:
    std::span<const SqlValue> m_values;
};

// SQLite's text as PostgreSQL reads it: a parameter ?N is $N; INTEGER is BIGINT and BLOB is
// BYTEA; a table's INTEGER PRIMARY KEY (SQLite's row id) is an identity column, and WITHOUT
// ROWID goes. Quoted text stays as it is.
std::string PostgresDialect(std::string_view sqlite);

// One statement in both dialects, made once per process and kept to its end: the address of
// each text is the key its prepared statement is kept under. Most are written once, in
// SQLite's dialect; the few that PostgreSQL must say otherwise are written in both.
struct StoreStatement {
    StoreStatement(std::string text, Resend resend);
    StoreStatement(std::string sqlite, std::string postgres, Resend resend);

    std::string sqlite;
    std::string postgres;
    Resend resend;
};

// The tables in SQLite's dialect: step N makes schema N + 1 of schema N (the first makes the
// first schema of nothing). A new store takes every step, an older one the steps after its
// version; kSchemaVersion is their number. Adding a table is one more step.
const std::vector<std::string>& SchemaSteps();

// What `entravo-site copy` runs on each table the steps make, in their order: every row, read
// in the order of its columns (the same in both stores, made by the same steps), and whether
// the table holds any.
struct TableCopy {
    std::string table;
    StoreStatement allRows;
    StoreStatement anyRow;
};
const std::vector<TableCopy>& TableCopies();
// A row of columns values into table, as read: PostgreSQL takes an identity column's value as
// given. Made on first use and kept to the program's end.
const StoreStatement& InsertRow(const std::string& table, std::size_t columns);

// An outcome as the records write it, quoted for SQL: 'accepted'.
std::string OutcomeLiteral(Outcome outcome);

// What a sign-in adds to the row of its token, account, address, path and week when there is
// one: its time after the others (only the latest kMostSignInTimes are kept), and one to the
// count. Both dialects read it alike.
std::string SignInUpsert();

// The statements both stores run, each written once.
struct StoreStatements {
    // Enrolment and the operator's lists. A token about to change is locked until the
    // transaction ends (SQLite's transactions hold the whole file's write lock from their start).
    StoreStatement findToken;
    StoreStatement enroll;
    StoreStatement revoke;
    StoreStatement endTokenSessions;
    StoreStatement listTokens;
    // Whether a string (?1 identity, ?2 seed) is used.
    StoreStatement isUsed;
    StoreStatement recentAttempts;
    StoreStatement failuresByNetwork;
    StoreStatement dailyCounts;
    // A string's check, besides the admission.
    StoreStatement countFailures;
    StoreStatement recordAttempt;
    StoreStatement countToday;
    StoreStatement countHour;
    // An accepted sign-in, within its acceptance's transaction.
    StoreStatement recordSignIn;
    StoreStatement brake;
    // Sessions, and the applications that verify strings. A client's key is read as
    // hexadecimal digits.
    StoreStatement findSession;
    StoreStatement endSession;
    StoreStatement clientKey;
    StoreStatement useNonce;
    StoreStatement addClient;
    StoreStatement listClients;
    StoreStatement removeClient;
    StoreStatement removeClientNonces;
    // The OpenID Connect provider's. A client's secret hash and the subject key are read as
    // hexadecimal digits; a claimed code answers its row.
    StoreStatement findProviderClient;
    StoreStatement listProviderClients;
    StoreStatement addProviderClient;
    StoreStatement removeProviderClient;
    StoreStatement removeProviderClientCodes;
    StoreStatement removeProviderClientTokens;
    StoreStatement subjectKey;
    StoreStatement addSubjectKey;
    StoreStatement providerKeys;
    StoreStatement addProviderKey;
    StoreStatement retireProviderKey;
    StoreStatement awaitSignIn;
    StoreStatement findPending;
    StoreStatement continuePending;
    StoreStatement addCode;
    StoreStatement claimCode;
    StoreStatement findCode;
    StoreStatement revokeCodeTokens;
    StoreStatement activeAccount;
    StoreStatement addAccessToken;
    StoreStatement findAccessToken;
    StoreStatement endTokenCodes;
    StoreStatement endTokenAccessTokens;
    // A probe's token and every record of it, in this order, what its attempts counted kept.
    std::vector<StoreStatement> forgetToken;
    // The clean-up of what has run out, besides the attempts (each store folds them into the
    // counts per day its own way). At most ?2 sessions, the oldest first.
    StoreStatement endOldSessions;
    StoreStatement dropOldBrakes;
    StoreStatement dropOldNonces;
    std::vector<StoreStatement> keepCountsOfDays; // before dropOldDays, with the same time
    StoreStatement dropOldDays;
    StoreStatement dropOldHours;
    StoreStatement dropOldSignIns;
    // What the operator sees: the metrics' figures (sessions live since ?1) and the counts
    // written in batches; attempts per hour or day (since ?1, slots of ?2 seconds); budgets
    // spent since ?1 (at most ?2); sign-ins since the week ?1 of account ?2 (or all when NULL) in
    // the weeks of the latest ?3 + 1 rows; each token's latest week of sign-ins; the admin grants.
    StoreStatement figures;
    StoreStatement addCount;
    StoreStatement hourlyActivity;
    StoreStatement dailyActivity;
    StoreStatement spentBudgets;
    StoreStatement signIns;
    StoreStatement lastSignIns;
    StoreStatement isAdmin;
    StoreStatement grantAdmin;
    StoreStatement revokeAdmin;
    StoreStatement listAdmins;
    // The provider's records, ?1 being the time before which they ran out or were retired.
    std::vector<StoreStatement> dropOldProviderRecords;
    // Rows that break the rules the program keeps, one line per fault.
    std::vector<StoreStatement> rowChecks;
};

const StoreStatements& Statements();
