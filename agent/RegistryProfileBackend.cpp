#include "agent/RegistryProfileBackend.h"

#include "agent/RegistryProfileValue.h"

#include <windows.h>

#include <limits>
#include <memory>
#include <type_traits>

namespace {

struct RegKeyCloser {
    void operator()(HKEY key) const { RegCloseKey(key); }
};
using UniqueRegKey = std::unique_ptr<std::remove_pointer_t<HKEY>, RegKeyCloser>;

// Another writer can grow a value between the size query and the read; give up after a
// few rounds rather than chase it.
constexpr int kMaxReadAttempts = 8;

UniqueRegKey CreateSubKey(HKEY parent, const std::string& name)
{
    HKEY key = nullptr;
    if (RegCreateKeyExA(parent, name.c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE, KEY_READ | KEY_WRITE,
                        nullptr, &key, nullptr) != ERROR_SUCCESS)
        return nullptr;
    return UniqueRegKey(key);
}

RegistryValueKind KindOf(DWORD type)
{
    switch (type) {
    case REG_SZ:
        return RegistryValueKind::String;
    case REG_DWORD:
        return RegistryValueKind::Dword;
    default:
        return RegistryValueKind::Other;
    }
}

std::optional<RawRegistryValue> ReadRawValue(HKEY key, const std::string& entry)
{
    DWORD type = 0;
    DWORD size = 0;
    if (RegQueryValueExA(key, entry.c_str(), nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::string bytes;
    for (int attempt = 0; attempt < kMaxReadAttempts; ++attempt) {
        bytes.resize(size == 0 ? 1 : size);
        size = static_cast<DWORD>(bytes.size());
        const LONG result = RegQueryValueExA(key, entry.c_str(), nullptr, &type,
                                             reinterpret_cast<BYTE*>(bytes.data()), &size);
        if (result == ERROR_SUCCESS) {
            bytes.resize(size);
            return RawRegistryValue{KindOf(type), std::move(bytes)};
        }
        if (result != ERROR_MORE_DATA)
            return std::nullopt;
        if (size <= bytes.size())
            size = static_cast<DWORD>(bytes.size() * 2);
    }
    return std::nullopt;
}

// Opens software\<company>\<profile>\<section>, creating what is missing, on every call:
// the profile may be changed from outside between two calls. An empty name would put the
// sections one level up, beside other programs' profiles, so it counts as no profile.
UniqueRegKey OpenSectionKey(const std::string& company, const std::string& profile, std::string_view section)
{
    if (company.empty() || profile.empty())
        return nullptr;
    UniqueRegKey software = CreateSubKey(HKEY_CURRENT_USER, "software");
    if (!software)
        return nullptr;
    UniqueRegKey companyKey = CreateSubKey(software.get(), company);
    if (!companyKey)
        return nullptr;
    UniqueRegKey profileKey = CreateSubKey(companyKey.get(), profile);
    if (!profileKey)
        return nullptr;
    return CreateSubKey(profileKey.get(), std::string(section));
}

std::optional<RawRegistryValue> ReadProfileValue(const std::string& company, const std::string& profile,
                                                 std::string_view section, std::string_view entry)
{
    const UniqueRegKey key = OpenSectionKey(company, profile, section);
    if (!key)
        return std::nullopt;
    return ReadRawValue(key.get(), std::string(entry));
}

} // namespace

RegistryProfileBackend::RegistryProfileBackend(std::string profileName) : m_profileName(std::move(profileName)) {}

void RegistryProfileBackend::SetRegistryKey(std::string_view company)
{
    m_company = company;
}

std::optional<uint32_t> RegistryProfileBackend::ReadInt(std::string_view section, std::string_view entry)
{
    const auto raw = ReadProfileValue(m_company, m_profileName, section, entry);
    return raw ? IntFromRegistryValue(*raw) : std::nullopt;
}

std::optional<std::string> RegistryProfileBackend::ReadString(std::string_view section, std::string_view entry)
{
    const auto raw = ReadProfileValue(m_company, m_profileName, section, entry);
    return raw ? StringFromRegistryValue(*raw) : std::nullopt;
}

bool RegistryProfileBackend::WriteInt(std::string_view section, std::string_view entry, uint32_t value)
{
    const UniqueRegKey key = OpenSectionKey(m_company, m_profileName, section);
    if (!key)
        return false;
    const DWORD data = value;
    return RegSetValueExA(key.get(), std::string(entry).c_str(), 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data),
                          sizeof data) == ERROR_SUCCESS;
}

bool RegistryProfileBackend::WriteString(std::string_view section, std::string_view entry, std::string_view value)
{
    if (value.size() >= std::numeric_limits<DWORD>::max())
        return false;
    const UniqueRegKey key = OpenSectionKey(m_company, m_profileName, section);
    if (!key)
        return false;
    const std::string text(value);
    return RegSetValueExA(key.get(), std::string(entry).c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}
