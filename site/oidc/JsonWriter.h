#pragma once
// The JSON the provider writes: objects whose members keep the order they were added in.
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

// A JSON string: quotes, backslashes and every control character escaped, other text passed as
// UTF-8; a byte that is not part of valid UTF-8 becomes U+FFFD, so the result is always JSON.
std::string JsonString(std::string_view text);

// An array of values already written as JSON.
std::string JsonArray(std::span<const std::string> values);
std::string JsonStringArray(std::span<const std::string_view> values);

// Each member's kind is in its adder's name, so that a string literal never turns into a
// boolean by overload.
class JsonObject {
public:
    JsonObject& String(std::string_view name, std::string_view value);
    JsonObject& Integer(std::string_view name, int64_t value);
    JsonObject& Boolean(std::string_view name, bool value);
    // A value already written as JSON (an array, an object).
    JsonObject& Json(std::string_view name, std::string_view json);

    std::string Text() const { return "{" + m_members + "}"; }

private:
    std::string m_members;
};
