#include "site/store/Replication.h"

#include <algorithm>
#include <cctype>
#include <string_view>

namespace {

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// PostgreSQL's boolean false: a prefix of "false" or "no", "off" or "of", or "0".
bool IsFalse(std::string_view value)
{
    if (value.empty())
        return false;
    return std::string_view("false").starts_with(value) || std::string_view("no").starts_with(value) ||
           (value.size() >= 2 && std::string_view("off").starts_with(value)) || value == "0";
}

std::string StandbyWarning(const Standby& standby, const std::string& synchronousStandbyNames)
{
    const std::string named = "standby \"" + standby.name + "\"";
    if (!standby.syncState) {
        if (synchronousStandbyNames.empty())
            return named + " replicates asynchronously (synchronous_standby_names is empty): " + kFailoverRisk;
        return named +
               ": whether it replicates synchronously is hidden from this role (it needs pg_read_all_stats);"
               " if it does not, " +
               std::string(kFailoverRisk);
    }
    if (*standby.syncState == "async" || *standby.syncState == "potential")
        return named + " replicates asynchronously (sync_state " + *standby.syncState + "): " + kFailoverRisk;
    return {};
}

} // namespace

bool CommitsBeforeStandby(const std::string& value)
{
    const std::string lower = Lower(value);
    return lower == "local" || lower == "remote_write" || IsFalse(lower);
}

std::vector<std::string> ReplicationWarnings(const Replication& replication)
{
    std::vector<std::string> warnings;
    for (const Standby& standby : replication.standbys) {
        if (std::string warning = StandbyWarning(standby, replication.synchronousStandbyNames); !warning.empty())
            warnings.push_back(std::move(warning));
    }
    for (const CommitSetting& setting : replication.commitSettings) {
        if (CommitsBeforeStandby(setting.value))
            warnings.push_back("synchronous_commit is " + setting.value + " for " + setting.where + ": " +
                               kFailoverRisk);
    }
    return warnings;
}
