#pragma once
// What `entravo-site check` says of a PostgreSQL database's replication. A string works once
// across a failover only when the standby that takes over had each acceptance before the page
// answered: a synchronous standby, and commits that wait for it (synchronous_commit on or
// remote_apply). Anything less leaves the last acceptances on the lost machine alone. That is
// the operator's choice, so it is a warning, not damage.
#include <optional>
#include <string>
#include <vector>

// A standby as the primary's pg_stat_replication shows it.
struct Standby {
    std::string name;                     // its application_name
    std::optional<std::string> syncState; // sync, quorum, potential or async; none for a role without pg_read_all_stats
};

// A value synchronous_commit takes, as written, and where it holds.
struct CommitSetting {
    std::string where; // "this connection (role www-data)", "role www-data in database entravo", ...
    std::string value;
};

struct Replication {
    std::vector<Standby> standbys;
    std::string synchronousStandbyNames;
    std::vector<CommitSetting> commitSettings;
};

// What an acceptance risks when a warning holds.
inline constexpr char kFailoverRisk[] = "an acceptance can be lost on failover, so its string could work twice";

// One line per warning; none when every standby is synchronous and every commit waits for it.
std::vector<std::string> ReplicationWarnings(const Replication& replication);

// Whether a value of synchronous_commit (as PostgreSQL reads it: any case, the boolean words and
// their prefixes) lets a commit return before the standby has it on its disk.
bool CommitsBeforeStandby(const std::string& value);
