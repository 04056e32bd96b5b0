#pragma once
// How the raw bytes of a registry value become a setting. Values of the wrong kind or shape
// read as missing, so the caller falls back to the default.
#include <cstdint>
#include <optional>
#include <string>

enum class RegistryValueKind { String, Dword, Other };

struct RawRegistryValue {
    RegistryValueKind kind = RegistryValueKind::Other;
    std::string bytes; // exactly the bytes the registry returned, terminator or not
};

// A DWORD is exactly four little-endian bytes.
std::optional<uint32_t> IntFromRegistryValue(const RawRegistryValue& value);

// The text up to the first NUL, or all the bytes when another program stored the string
// without a terminator.
std::optional<std::string> StringFromRegistryValue(const RawRegistryValue& value);
