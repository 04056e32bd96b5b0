#include "profile/RegistryProfileBackend.h"

#include "platform/Registry.h"

namespace {

// Opens software\<company>\<profile>\<section>, creating what is missing, on every call: the
// profile may be changed from outside between two calls. An empty name would put the sections
// one level up, beside other programs' profiles, so it counts as no profile.
scoped::RegKey OpenSectionKey(const std::string& company, const std::string& profile, std::string_view section)
{
    if (company.empty() || profile.empty())
        return {};
    return registry::CreateChain(HKEY_CURRENT_USER, {"software", company, profile, section});
}

std::optional<registry::RawValue> ReadValue(const std::string& company, const std::string& profile,
                                            std::string_view section, std::string_view entry)
{
    const scoped::RegKey key = OpenSectionKey(company, profile, section);
    if (!key)
        return std::nullopt;
    return registry::Query(key.Get(), std::string(entry).c_str());
}

} // namespace

RegistryProfileBackend::RegistryProfileBackend(std::string profileName) : m_profileName(std::move(profileName)) {}

void RegistryProfileBackend::SetRegistryKey(std::string_view company)
{
    m_company = company;
}

std::optional<uint32_t> RegistryProfileBackend::ReadInt(std::string_view section, std::string_view entry)
{
    const auto raw = ReadValue(m_company, m_profileName, section, entry);
    return raw ? registry::DwordOf(*raw) : std::nullopt;
}

std::optional<std::string> RegistryProfileBackend::ReadString(std::string_view section, std::string_view entry)
{
    const auto raw = ReadValue(m_company, m_profileName, section, entry);
    return raw ? registry::StringOf(*raw) : std::nullopt;
}

bool RegistryProfileBackend::WriteInt(std::string_view section, std::string_view entry, uint32_t value)
{
    const scoped::RegKey key = OpenSectionKey(m_company, m_profileName, section);
    return key && registry::SetDword(key.Get(), std::string(entry).c_str(), value);
}

bool RegistryProfileBackend::WriteString(std::string_view section, std::string_view entry, std::string_view value)
{
    const scoped::RegKey key = OpenSectionKey(m_company, m_profileName, section);
    return key && registry::SetString(key.Get(), std::string(entry).c_str(), value);
}
