#pragma once
// The site database: one SQLite file shared by the login page's processes and the operator's
// command. It holds the enrolled tokens, the strings already accepted, the open sessions and
// every sign-in attempt.
#include "site/store/Sqlite.h"
#include "site/store/SiteStore.h"

#include <string>
#include <string_view>
#include <vector>

// Account names are shown on pages and printed one per line.
inline constexpr std::size_t kMaxAccountLength = 64;
bool IsValidAccount(std::string_view account);

enum class InitResult { Created, AlreadyThere };
enum class EnrollResult { Enrolled, AlreadyEnrolled };
enum class RevokeResult { Revoked, NotEnrolled, AlreadyRevoked };

struct TokenEntry {
    std::string identity;
    std::string account;
    bool revoked = false;
};

struct AttemptEntry {
    int64_t at = 0;
    std::string address;
    std::optional<std::string> identity;
    std::string outcome;
};

class SiteDatabase final : public SiteStore {
public:
    // Makes path a new site database, or checks that it already is one. Never changes a
    // file that is not ours.
    static InitResult Initialise(const std::string& path);
    // An existing site database of this version; StoreError when it is missing, not ours,
    // damaged or newer than this program.
    static SiteDatabase Open(const std::string& path);

    // A revoked token can be enrolled again, for any account.
    EnrollResult Enroll(const RomBytes& identity, std::string_view account, int64_t now);
    RevokeResult Revoke(const RomBytes& identity, int64_t now);
    std::vector<TokenEntry> Tokens();
    // Newest first.
    std::vector<AttemptEntry> RecentAttempts(int count);

    int CountFailures(std::string_view address, int64_t since, int limit) override;
    void Record(const Attempt& attempt) override;
    Admission Admit(const Claim& claim) override;
    std::optional<std::string> SessionAccount(const SessionHash& session, int64_t openedSince) override;

private:
    explicit SiteDatabase(SqliteConnection connection);

    SqliteConnection m_connection;
};
