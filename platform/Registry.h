#pragma once
// Registry keys and values: a chain of keys opened (and created where missing) in one call,
// and value reads bounded in size. Windows only.
#include "platform/Handle.h"
#include "platform/RegistryValue.h"

#include <windows.h>

#include <cstdint>
#include <initializer_list>
#include <limits>
#include <optional>
#include <string>
#include <string_view>

namespace registry {

// Opens root\names[0]\names[1]... for reading and writing, creating each key that is missing
// (never a value); null when any step fails.
scoped::RegKey CreateChain(HKEY root, std::initializer_list<std::string_view> names);

// Opens root\subKey for querying values; null with the system's error in `error` otherwise.
scoped::RegKey OpenForQuery(HKEY root, const std::string& subKey, LONG& error);

// Opens root\subKey for querying and reads its default value into `out`. Returns 0 when the
// key opened, otherwise the system error of the open, leaving `out` untouched. A default value
// that is missing, not text, or longer than 259 characters reads as an empty string; an
// embedded NUL ends the text. `subKey` and `out` may be the same string.
long QueryKeyDefault(HKEY root, const std::string& subKey, std::string& out);

inline constexpr std::size_t kAnySize = std::numeric_limits<DWORD>::max();

// A value's kind and bytes, as stored (null `name`: the key's default value). Nothing when it
// is missing, unreadable, or larger than maxBytes.
std::optional<RawValue> Query(HKEY key, const char* name, std::size_t maxBytes = kAnySize);

bool SetDword(HKEY key, const char* name, uint32_t value);
// Stored with its terminator.
bool SetString(HKEY key, const char* name, std::string_view value);

} // namespace registry
