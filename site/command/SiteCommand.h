#pragma once
// entravo-site, the operator's command, apart from its process: arguments in, lines out,
// an exit status back.
#include "site/settings/Settings.h"

#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

inline constexpr int kExitSuccess = 0;
inline constexpr int kExitFailure = 1; // also: verify found a string that is not genuine
inline constexpr int kExitUsage = 2;   // also: verify found a malformed string

struct CommandContext {
    std::ostream& out;
    std::ostream& err;
    // The settings as the programs read them (the settings file under the environment), read
    // only by a command that needs them; SettingsError for a bad one.
    std::function<Settings()> readSettings;
    int64_t now = 0; // seconds since 1970
};

// args excludes the program name.
int RunSiteCommand(const std::vector<std::string>& args, CommandContext& context);
