#pragma once
// entravo-site, the operator's command, apart from its process: arguments in, lines out,
// an exit status back.
#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1; // also: verify found a string that is not genuine
inline constexpr int kExitUsage = 2;   // also: verify found a malformed string

struct CommandContext {
    std::ostream& out;
    std::ostream& err;
    std::string databaseFromEnvironment; // ENTRAVO_SITE_DB, or empty
    int64_t now = 0;                     // seconds since 1970
};

// args excludes the program name.
int RunSiteCommand(const std::vector<std::string>& args, CommandContext& context);
