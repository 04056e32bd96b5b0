#include "site/oidc/JsonReader.h"

#include "site/oidc/Utf8.h"

#include <algorithm>
#include <charconv>

namespace {

class Reader {
public:
    explicit Reader(std::string_view text) : m_text(text) {}

    std::optional<std::vector<JsonMember>> Object();

private:
    void SkipBlanks();
    bool Take(char c);
    std::optional<JsonValue> Value();
    std::optional<std::string> String();
    std::optional<char32_t> Escaped();
    std::optional<char32_t> Unescaped();
    std::optional<unsigned> HexQuad();
    std::optional<int64_t> Integer();
    bool Word(std::string_view word);

    std::string_view m_text;
};

std::optional<std::vector<JsonMember>> Reader::Object()
{
    SkipBlanks();
    if (!Take('{'))
        return std::nullopt;
    std::vector<JsonMember> members;
    SkipBlanks();
    bool more = !Take('}');
    while (more) {
        SkipBlanks();
        auto name = String();
        SkipBlanks();
        if (!name || !Take(':') || members.size() == kMaxJsonMembers)
            return std::nullopt;
        if (std::any_of(members.begin(), members.end(), [&](const JsonMember& m) { return m.name == *name; }))
            return std::nullopt;
        SkipBlanks();
        auto value = Value();
        SkipBlanks();
        if (!value)
            return std::nullopt;
        members.push_back({std::move(*name), std::move(*value)});
        if (Take('}'))
            more = false;
        else if (!Take(','))
            return std::nullopt;
    }
    SkipBlanks();
    if (!m_text.empty())
        return std::nullopt;
    return members;
}

void Reader::SkipBlanks()
{
    while (!m_text.empty() && (m_text[0] == ' ' || m_text[0] == '\t' || m_text[0] == '\n' || m_text[0] == '\r'))
        m_text.remove_prefix(1);
}

bool Reader::Take(char c)
{
    if (m_text.empty() || m_text[0] != c)
        return false;
    m_text.remove_prefix(1);
    return true;
}

std::optional<JsonValue> Reader::Value()
{
    if (m_text.empty())
        return std::nullopt;
    if (m_text[0] == '"') {
        auto text = String();
        return text ? std::optional<JsonValue>(std::move(*text)) : std::nullopt;
    }
    if (Word("true"))
        return JsonValue(true);
    if (Word("false"))
        return JsonValue(false);
    const auto number = Integer();
    return number ? std::optional<JsonValue>(*number) : std::nullopt;
}

std::optional<std::string> Reader::String()
{
    if (!Take('"'))
        return std::nullopt;
    std::string text;
    while (!Take('"')) {
        const std::optional<char32_t> code = Take('\\') ? Escaped() : Unescaped();
        if (!code)
            return std::nullopt;
        AppendUtf8(text, *code);
    }
    return text;
}

std::optional<char32_t> Reader::Escaped()
{
    if (m_text.empty())
        return std::nullopt;
    const char c = m_text[0];
    m_text.remove_prefix(1);
    switch (c) {
    case '"':
    case '\\':
    case '/':
        return c;
    case 'b':
        return '\b';
    case 'f':
        return '\f';
    case 'n':
        return '\n';
    case 'r':
        return '\r';
    case 't':
        return '\t';
    case 'u':
        break;
    default:
        return std::nullopt;
    }
    const auto high = HexQuad();
    if (!high || (*high >= 0xDC00 && *high <= 0xDFFF))
        return std::nullopt;
    if (*high < 0xD800 || *high > 0xDBFF)
        return *high;
    // A character beyond the first plane: a high surrogate must be followed by a low one.
    if (!Take('\\') || !Take('u'))
        return std::nullopt;
    const auto low = HexQuad();
    if (!low || *low < 0xDC00 || *low > 0xDFFF)
        return std::nullopt;
    return 0x10000 + ((*high - 0xD800) << 10) + (*low - 0xDC00);
}

std::optional<char32_t> Reader::Unescaped()
{
    // Controls are written only escaped.
    const auto code = TakeCodePoint(m_text);
    return code && *code >= 0x20 ? code : std::nullopt;
}

std::optional<unsigned> Reader::HexQuad()
{
    if (m_text.size() < 4)
        return std::nullopt;
    unsigned value = 0;
    const auto [end, error] = std::from_chars(m_text.data(), m_text.data() + 4, value, 16);
    if (error != std::errc() || end != m_text.data() + 4)
        return std::nullopt;
    m_text.remove_prefix(4);
    return value;
}

std::optional<int64_t> Reader::Integer()
{
    // JSON's integers: an optional minus, then 0 or digits without a leading zero.
    const std::size_t sign = m_text.starts_with('-') ? 1 : 0;
    std::size_t digits = 0;
    while (sign + digits < m_text.size() && m_text[sign + digits] >= '0' && m_text[sign + digits] <= '9')
        ++digits;
    if (digits == 0 || (digits > 1 && m_text[sign] == '0'))
        return std::nullopt;
    int64_t value = 0;
    const char* end = m_text.data() + sign + digits;
    const auto result = std::from_chars(m_text.data(), end, value);
    if (result.ec != std::errc() || result.ptr != end)
        return std::nullopt;
    m_text.remove_prefix(sign + digits);
    return value;
}

bool Reader::Word(std::string_view word)
{
    if (!m_text.starts_with(word))
        return false;
    m_text.remove_prefix(word.size());
    return true;
}

} // namespace

const JsonValue* ParsedJson::Find(std::string_view name) const
{
    const auto member =
        std::find_if(m_members.begin(), m_members.end(), [&](const JsonMember& m) { return m.name == name; });
    return member == m_members.end() ? nullptr : &member->value;
}

const std::string* ParsedJson::String(std::string_view name) const
{
    const JsonValue* value = Find(name);
    return value ? std::get_if<std::string>(value) : nullptr;
}

std::optional<int64_t> ParsedJson::Integer(std::string_view name) const
{
    const JsonValue* value = Find(name);
    const auto* number = value ? std::get_if<int64_t>(value) : nullptr;
    return number ? std::optional(*number) : std::nullopt;
}

std::optional<bool> ParsedJson::Boolean(std::string_view name) const
{
    const JsonValue* value = Find(name);
    const auto* flag = value ? std::get_if<bool>(value) : nullptr;
    return flag ? std::optional(*flag) : std::nullopt;
}

std::optional<ParsedJson> ParseJsonObject(std::string_view text)
{
    if (text.size() > kMaxJsonLength)
        return std::nullopt;
    auto members = Reader(text).Object();
    if (!members)
        return std::nullopt;
    return ParsedJson(std::move(*members));
}
