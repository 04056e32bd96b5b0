#include "platform/RegistryValue.h"

namespace registry {

std::optional<uint32_t> DwordOf(const RawValue& value)
{
    if (value.kind != ValueKind::Dword || value.bytes.size() != 4)
        return std::nullopt;
    uint32_t result = 0;
    for (int i = 3; i >= 0; --i)
        result = (result << 8) | static_cast<unsigned char>(value.bytes[static_cast<std::size_t>(i)]);
    return result;
}

std::optional<std::string> StringOf(const RawValue& value)
{
    if (value.kind != ValueKind::String)
        return std::nullopt;
    return value.bytes.substr(0, value.bytes.find('\0'));
}

std::optional<std::string> TextOf(const RawValue& value)
{
    if (value.kind != ValueKind::ExpandableString)
        return StringOf(value);
    return StringOf({ValueKind::String, value.bytes});
}

} // namespace registry
