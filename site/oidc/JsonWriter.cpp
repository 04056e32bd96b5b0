#include "site/oidc/JsonWriter.h"

#include "site/oidc/Utf8.h"

#include <vector>

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendEscaped(std::string& json, char32_t code)
{
    static constexpr char kHex[] = "0123456789abcdef";
    switch (code) {
    case '"':
        json += "\\\"";
        return;
    case '\\':
        json += "\\\\";
        return;
    case '\n':
        json += "\\n";
        return;
    case '\r':
        json += "\\r";
        return;
    case '\t':
        json += "\\t";
        return;
    default:
        break;
    }
    if (IsControl(code)) {
        json += "\\u00";
        json += kHex[code >> 4];
        json += kHex[code & 0xF];
        return;
    }
    AppendUtf8(json, code);
}

} // namespace

std::string JsonString(std::string_view text)
{
    std::string json = "\"";
    while (!text.empty()) {
        const auto code = TakeCodePoint(text);
        if (!code)
            text.remove_prefix(1);
        AppendEscaped(json, code.value_or(kReplacement));
    }
    return json + "\"";
}

std::string JsonArray(std::span<const std::string> values)
{
    std::string text;
    for (const std::string& value : values)
        text += (text.empty() ? "" : ",") + value;
    return "[" + text + "]";
}

std::string JsonStringArray(std::span<const std::string_view> values)
{
    std::vector<std::string> strings;
    for (std::string_view value : values)
        strings.push_back(JsonString(value));
    return JsonArray(strings);
}

JsonObject& JsonObject::String(std::string_view name, std::string_view value)
{
    return Json(name, JsonString(value));
}

JsonObject& JsonObject::Integer(std::string_view name, int64_t value)
{
    return Json(name, std::to_string(value));
}

JsonObject& JsonObject::Boolean(std::string_view name, bool value)
{
    return Json(name, value ? "true" : "false");
}

JsonObject& JsonObject::Json(std::string_view name, std::string_view json)
{
    if (!m_members.empty())
        m_members += ',';
    m_members += JsonString(name);
    m_members += ':';
    m_members += json;
    return *this;
}
