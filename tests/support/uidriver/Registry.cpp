#include "tests/support/uidriver/Registry.h"

#include "platform/Registry.h"

#include <algorithm>

namespace uidriver {
namespace {

constexpr char kCompanyPath[] = "software\\Entravo";

scoped::RegKey CreateKey(HKEY root, const std::string& path)
{
    return registry::CreateChain(root, {path});
}

} // namespace

std::optional<registry::RawValue> AgentProfile::Read(std::string_view section, std::string_view entry) const
{
    LONG error = ERROR_SUCCESS;
    const std::string path = std::string(kCompanyPath) + "\\" + m_profile + "\\" + std::string(section);
    const auto key = registry::OpenForQuery(HKEY_CURRENT_USER, path, error);
    return key ? registry::Query(key.Get(), std::string(entry).c_str()) : std::nullopt;
}

scoped::RegKey AgentProfile::CreateSection(std::string_view section) const
{
    return registry::CreateChain(HKEY_CURRENT_USER, {"software", "Entravo", m_profile, section});
}

std::optional<uint32_t> AgentProfile::ReadInt(std::string_view section, std::string_view entry) const
{
    const auto value = Read(section, entry);
    return value ? registry::DwordOf(*value) : std::nullopt;
}

std::optional<std::string> AgentProfile::ReadString(std::string_view section, std::string_view entry) const
{
    const auto value = Read(section, entry);
    return value ? registry::StringOf(*value) : std::nullopt;
}

bool AgentProfile::WriteInt(std::string_view section, std::string_view entry, uint32_t value) const
{
    const auto key = CreateSection(section);
    return key && registry::SetDword(key.Get(), std::string(entry).c_str(), value);
}

bool AgentProfile::WriteString(std::string_view section, std::string_view entry, std::string_view value) const
{
    const auto key = CreateSection(section);
    return key && registry::SetString(key.Get(), std::string(entry).c_str(), value);
}

bool AgentProfile::Erase() const
{
    const LSTATUS status = RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kCompanyPath) + "\\" + m_profile).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool AgentProfile::HasValue(std::string_view section, std::string_view entry) const
{
    return Read(section, entry).has_value();
}

bool RegisterUrlHandler(std::string_view scheme, std::string_view command)
{
    const std::string root(scheme);
    const auto schemeKey = CreateKey(HKEY_CLASSES_ROOT, root);
    const auto commandKey = CreateKey(HKEY_CLASSES_ROOT, root + "\\shell\\open\\command");
    return schemeKey && commandKey && registry::SetString(schemeKey.Get(), "URL Protocol", "") &&
           registry::SetString(commandKey.Get(), nullptr, command);
}

bool SetDoubleClickTimeForNewPrograms(unsigned milliseconds)
{
    const auto key = CreateKey(HKEY_CURRENT_USER, "Control Panel\\Mouse");
    return key && registry::SetString(key.Get(), "DoubleClickSpeed", std::to_string(milliseconds));
}

} // namespace uidriver
