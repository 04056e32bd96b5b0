#pragma once
// A profile held in memory, for tests: behaves like the registry profile (names compare
// without regard to case, a read or write creates its section, values keep their kind) and
// lets a test look inside.
#include "profile/ProfileStore.h"

#include <cstdint>
#include <map>
#include <set>
#include <string>
#include <string_view>
#include <variant>

class InMemoryProfileBackend final : public ProfileBackend {
public:
    using Value = std::variant<uint32_t, std::string>;

    std::optional<uint32_t> ReadInt(std::string_view section, std::string_view entry) override;
    std::optional<std::string> ReadString(std::string_view section, std::string_view entry) override;
    bool WriteInt(std::string_view section, std::string_view entry, uint32_t value) override;
    bool WriteString(std::string_view section, std::string_view entry, std::string_view value) override;

    // Stores a value of either kind directly, as another program might have left it.
    void Put(std::string_view section, std::string_view entry, Value value);
    // From now on every write fails, as on a read-only registry.
    void FailWrites() { m_failWrites = true; }

    bool HasSection(std::string_view section) const;
    std::size_t ValueCount(std::string_view section) const;
    std::optional<Value> Get(std::string_view section, std::string_view entry) const;

private:
    using Name = std::string; // folded to lower case
    static Name Fold(std::string_view name);
    void CreateSection(std::string_view section);

    std::set<Name> m_sections;
    std::map<std::pair<Name, Name>, Value> m_values;
    bool m_failWrites = false;
};
