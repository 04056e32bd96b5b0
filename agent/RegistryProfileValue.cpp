#include "agent/RegistryProfileValue.h"

std::optional<uint32_t> IntFromRegistryValue(const RawRegistryValue& value)
{
    if (value.kind != RegistryValueKind::Dword || value.bytes.size() != 4)
        return std::nullopt;
    uint32_t result = 0;
    for (int i = 3; i >= 0; --i)
        result = (result << 8) | static_cast<unsigned char>(value.bytes[static_cast<std::size_t>(i)]);
    return result;
}

std::optional<std::string> StringFromRegistryValue(const RawRegistryValue& value)
{
    if (value.kind != RegistryValueKind::String)
        return std::nullopt;
    // Everything after a NUL is invisible to the text APIs the URL goes to (edit control,
    // shell), so keeping it would make the stored URL differ from the one opened.
    const auto end = value.bytes.find('\0');
    return value.bytes.substr(0, end);
}
