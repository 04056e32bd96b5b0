#include "platform/Registry.h"

namespace registry {

namespace {

// Another writer can grow a value between the size query and the read; give up after a few
// rounds rather than chase it.
constexpr int kMaxReadAttempts = 8;

// Default texts are at most 259 characters and a terminator.
constexpr std::size_t kDefaultTextBufferSize = 260;

ValueKind KindOf(DWORD type)
{
    switch (type) {
    case REG_SZ:
        return ValueKind::String;
    case REG_EXPAND_SZ:
        return ValueKind::ExpandableString;
    case REG_DWORD:
        return ValueKind::Dword;
    default:
        return ValueKind::Other;
    }
}

} // namespace

scoped::RegKey CreateChain(HKEY root, std::initializer_list<std::string_view> names)
{
    scoped::RegKey key;
    HKEY parent = root;
    for (const std::string_view name : names) {
        HKEY created = nullptr;
        if (RegCreateKeyExA(parent, std::string(name).c_str(), 0, nullptr, REG_OPTION_NON_VOLATILE,
                            KEY_READ | KEY_WRITE, nullptr, &created, nullptr) != ERROR_SUCCESS)
            return {};
        key.Reset(created);
        parent = created;
    }
    return key;
}

scoped::RegKey OpenForQuery(HKEY root, const std::string& subKey, LONG& error)
{
    HKEY opened = nullptr;
    error = RegOpenKeyExA(root, subKey.c_str(), 0, KEY_QUERY_VALUE, &opened);
    return scoped::RegKey(error == ERROR_SUCCESS ? opened : nullptr);
}

std::optional<RawValue> Query(HKEY key, const char* name, std::size_t maxBytes)
{
    DWORD type = REG_NONE;
    DWORD size = 0;
    if (RegQueryValueExA(key, name, nullptr, &type, nullptr, &size) != ERROR_SUCCESS)
        return std::nullopt;
    std::string bytes;
    for (int attempt = 0; attempt < kMaxReadAttempts; ++attempt) {
        if (size > maxBytes)
            return std::nullopt;
        bytes.resize(size == 0 ? 1 : size);
        size = static_cast<DWORD>(bytes.size());
        const LONG result = RegQueryValueExA(key, name, nullptr, &type, reinterpret_cast<BYTE*>(bytes.data()), &size);
        if (result == ERROR_SUCCESS) {
            bytes.resize(size);
            return RawValue{KindOf(type), std::move(bytes)};
        }
        if (result != ERROR_MORE_DATA)
            return std::nullopt;
        if (size <= bytes.size())
            size = static_cast<DWORD>(bytes.size() * 2);
    }
    return std::nullopt;
}

bool SetDword(HKEY key, const char* name, uint32_t value)
{
    const DWORD data = value;
    return RegSetValueExA(key, name, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&data), sizeof data) == ERROR_SUCCESS;
}

bool SetString(HKEY key, const char* name, std::string_view value)
{
    if (value.size() >= std::numeric_limits<DWORD>::max())
        return false;
    const std::string text(value);
    return RegSetValueExA(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.c_str()),
                          static_cast<DWORD>(text.size() + 1)) == ERROR_SUCCESS;
}

long QueryKeyDefault(HKEY root, const std::string& subKey, std::string& out)
{
    LONG error = ERROR_SUCCESS;
    const scoped::RegKey key = OpenForQuery(root, subKey, error);
    if (!key)
        return error;
    // Only a text: a number or binary value must never become part of a command line. A value
    // stored without its terminator can fill the buffer to the last byte.
    const auto value = Query(key.Get(), nullptr, kDefaultTextBufferSize);
    const auto text = value ? TextOf(*value) : std::nullopt;
    out = text && text->size() < kDefaultTextBufferSize ? *text : std::string();
    return ERROR_SUCCESS;
}

} // namespace registry
