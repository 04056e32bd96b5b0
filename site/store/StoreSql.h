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

// An outcome as the records write it, quoted for SQL: 'accepted'.
std::string OutcomeLiteral(Outcome outcome);

// The statements both stores run, each written once.
struct StoreStatements {
    // Enrolment and the operator's lists. A token about to change is locked until the
    // transaction ends (SQLite's transactions hold the whole file's write lock from their start).
    StoreStatement findToken;
    StoreStatement enroll;
    StoreStatement revoke;
    StoreStatement endTokenSessions;
    StoreStatement listTokens;
    StoreStatement recentAttempts;
    StoreStatement failuresByNetwork;
    StoreStatement dailyCounts;
    // A string's check, besides the admission.
    StoreStatement countFailures;
    StoreStatement recordAttempt;
    StoreStatement countToday;
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
    // A probe's token and every record of it, in this order.
    std::vector<StoreStatement> forgetToken;
    // The clean-up of what has run out, besides the attempts (each store folds them into the
    // counts per day its own way). At most ?2 sessions, the oldest first.
    StoreStatement endOldSessions;
    StoreStatement dropOldBrakes;
    StoreStatement dropOldNonces;
    StoreStatement dropOldDays;
    // The provider's records, ?1 being the time before which they ran out or were retired.
    std::vector<StoreStatement> dropOldProviderRecords;
    // Rows that break the rules the program keeps, one line per fault.
    std::vector<StoreStatement> rowChecks;
};

const StoreStatements& Statements();
