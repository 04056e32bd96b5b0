#pragma once
// The JSON the provider reads back: only what it wrote itself (its stored keys, its own
// tokens), so only one flat object of strings, integers and booleans. Strict: anything else,
// a member named twice, text after the object, a number beyond 64 bits, an unescaped control
// character or bytes that are not UTF-8 give nothing at all.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

inline constexpr std::size_t kMaxJsonLength = 16 * 1024;
inline constexpr std::size_t kMaxJsonMembers = 32;

using JsonValue = std::variant<std::string, int64_t, bool>;

struct JsonMember {
    std::string name;
    JsonValue value;
};

class ParsedJson {
public:
    explicit ParsedJson(std::vector<JsonMember> members) : m_members(std::move(members)) {}

    bool Has(std::string_view name) const { return Find(name) != nullptr; }
    // The member's value when it is there with that kind.
    const std::string* String(std::string_view name) const;
    std::optional<int64_t> Integer(std::string_view name) const;
    std::optional<bool> Boolean(std::string_view name) const;

    const std::vector<JsonMember>& Members() const { return m_members; }

private:
    const JsonValue* Find(std::string_view name) const;

    std::vector<JsonMember> m_members;
};

std::optional<ParsedJson> ParseJsonObject(std::string_view text);
