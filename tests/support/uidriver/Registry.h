#pragma once
// The registry of the prefix the test runs in, as the agent and the shell read it.
#include "platform/Registry.h"

#include <windows.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace uidriver {

// HKEY_CURRENT_USER\software\Entravo\<profile>\<section>, the agent's settings profile.
class AgentProfile {
public:
    explicit AgentProfile(std::string profileName = "logonagent") : m_profile(std::move(profileName)) {}

    std::optional<uint32_t> ReadInt(std::string_view section, std::string_view entry) const;
    std::optional<std::string> ReadString(std::string_view section, std::string_view entry) const;
    bool WriteInt(std::string_view section, std::string_view entry, uint32_t value) const;
    bool WriteString(std::string_view section, std::string_view entry, std::string_view value) const;
    // Removes the whole profile, so the next case starts from defaults.
    bool Erase() const;

    bool HasValue(std::string_view section, std::string_view entry) const;

private:
    // Reads make nothing; writes make the keys that are missing.
    std::optional<registry::RawValue> Read(std::string_view section, std::string_view entry) const;
    scoped::RegKey CreateSection(std::string_view section) const;
    std::string m_profile;
};

// Makes the shell open scheme ("http", "https") URLs with command, e.g. "\"C:\\b.exe\" \"%1\"".
bool RegisterUrlHandler(std::string_view scheme, std::string_view command);

// The double-click time programs started afterwards will read, in milliseconds.
bool SetDoubleClickTimeForNewPrograms(unsigned milliseconds);

} // namespace uidriver
