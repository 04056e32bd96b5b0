#include "tests/support/uidriver/Registry.h"

#include "platform/Handle.h"

#include <algorithm>

namespace uidriver {
namespace {

constexpr char kCompanyPath[] = "software\\Entravo";

scoped::RegKey OpenKey(HKEY root, const std::string& path, REGSAM access)
{
    HKEY key = nullptr;
    if (RegOpenKeyExA(root, path.c_str(), 0, access, &key) != ERROR_SUCCESS)
        return scoped::RegKey();
    return scoped::RegKey(key);
}

scoped::RegKey CreateKey(HKEY root, const std::string& path)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(root, path.c_str(), 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return scoped::RegKey();
    return scoped::RegKey(key);
}

bool SetString(HKEY key, const char* name, std::string_view value)
{
    const std::string text(value);
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

} // namespace

std::string AgentProfile::SectionPath(std::string_view section) const
{
    return std::string(kCompanyPath) + "\\" + m_profile + "\\" + std::string(section);
}

std::optional<uint32_t> AgentProfile::ReadInt(std::string_view section, std::string_view entry) const
{
    const auto key = OpenKey(HKEY_CURRENT_USER, SectionPath(section), KEY_QUERY_VALUE);
    DWORD type = 0, value = 0, size = sizeof value;
    if (!key ||
        RegQueryValueExA(key.Get(), std::string(entry).c_str(), nullptr, &type, reinterpret_cast<BYTE*>(&value),
                         &size) != ERROR_SUCCESS ||
        type != REG_DWORD)
        return std::nullopt;
    return value;
}

std::optional<std::string> AgentProfile::ReadString(std::string_view section, std::string_view entry) const
{
    const auto key = OpenKey(HKEY_CURRENT_USER, SectionPath(section), KEY_QUERY_VALUE);
    const std::string name(entry);
    DWORD type = 0, size = 0;
    if (!key || RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS ||
        type != REG_SZ)
        return std::nullopt;
    std::string value(size, '\0');
    if (RegQueryValueExA(key.Get(), name.c_str(), nullptr, &type, reinterpret_cast<BYTE*>(value.data()), &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    value.resize(std::min<std::size_t>(size, value.size()));
    while (!value.empty() && value.back() == '\0')
        value.pop_back();
    return value;
}

bool AgentProfile::WriteInt(std::string_view section, std::string_view entry, uint32_t value) const
{
    const auto key = CreateKey(HKEY_CURRENT_USER, SectionPath(section));
    const DWORD data = value;
    return key && RegSetValueExA(key.Get(), std::string(entry).c_str(), 0, REG_DWORD,
                                 reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

bool AgentProfile::WriteString(std::string_view section, std::string_view entry, std::string_view value) const
{
    const auto key = CreateKey(HKEY_CURRENT_USER, SectionPath(section));
    return key && SetString(key.Get(), std::string(entry).c_str(), value);
}

bool AgentProfile::Erase() const
{
    const LSTATUS status = RegDeleteTreeA(HKEY_CURRENT_USER, (std::string(kCompanyPath) + "\\" + m_profile).c_str());
    return status == ERROR_SUCCESS || status == ERROR_FILE_NOT_FOUND;
}

bool AgentProfile::HasValue(std::string_view section, std::string_view entry) const
{
    const auto key = OpenKey(HKEY_CURRENT_USER, SectionPath(section), KEY_QUERY_VALUE);
    return key &&
           RegQueryValueExA(key.Get(), std::string(entry).c_str(), nullptr, nullptr, nullptr, nullptr) == ERROR_SUCCESS;
}

bool RegisterUrlHandler(std::string_view scheme, std::string_view command)
{
    const std::string root(scheme);
    const auto schemeKey = CreateKey(HKEY_CLASSES_ROOT, root);
    const auto commandKey = CreateKey(HKEY_CLASSES_ROOT, root + "\\shell\\open\\command");
    return schemeKey && commandKey && SetString(schemeKey.Get(), "URL Protocol", "") &&
           SetString(commandKey.Get(), nullptr, command);
}

bool SetDoubleClickTimeForNewPrograms(unsigned milliseconds)
{
    const auto key = CreateKey(HKEY_CURRENT_USER, "Control Panel\\Mouse");
    return key && SetString(key.Get(), "DoubleClickSpeed", std::to_string(milliseconds));
}

} // namespace uidriver
