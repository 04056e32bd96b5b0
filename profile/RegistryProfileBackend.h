#pragma once
// The per-user registry profile: HKEY_CURRENT_USER\software\<company>\<profile>\<section>.
// Windows only.
#include "profile/ProfileStore.h"

#include <string>
#include <string_view>

class RegistryProfileBackend final : public ProfileBackend {
public:
    explicit RegistryProfileBackend(std::string profileName);

    // Names the company key under "software". Until it is set (and with an empty profile
    // name) there is no profile: reads find nothing and writes fail, touching no key.
    void SetRegistryKey(std::string_view company);

    std::optional<uint32_t> ReadInt(std::string_view section, std::string_view entry) override;
    std::optional<std::string> ReadString(std::string_view section, std::string_view entry) override;
    bool WriteInt(std::string_view section, std::string_view entry, uint32_t value) override;
    bool WriteString(std::string_view section, std::string_view entry, std::string_view value) override;

private:
    std::string m_company;
    std::string m_profileName;
};
