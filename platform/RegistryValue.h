#pragma once
// How the bytes of a registry value become a number or a text. A value of the wrong kind or
// shape reads as missing, so the caller falls back to its default.
#include <cstdint>
#include <optional>
#include <string>

namespace registry {

enum class ValueKind { String, ExpandableString, Dword, Other };

struct RawValue {
    ValueKind kind = ValueKind::Other;
    std::string bytes; // exactly the bytes the registry returned, terminator or not
};

// A DWORD is exactly four little-endian bytes.
std::optional<uint32_t> DwordOf(const RawValue& value);

// A plain string: the text up to the first NUL, or all the bytes when another program stored
// it without a terminator. Everything after a NUL is invisible to the text APIs a setting goes
// to (edit controls, the shell), so keeping it would make two copies of one value differ.
std::optional<std::string> StringOf(const RawValue& value);

// The same for a plain or an expandable string; the latter stays unexpanded.
std::optional<std::string> TextOf(const RawValue& value);

} // namespace registry
