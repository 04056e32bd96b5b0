#include "site/oidc/Form.h"

#include "site/oidc/Utf8.h"

#include <algorithm>

namespace {

bool IsUnreserved(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

bool IsPrintableText(std::string_view text)
{
    while (!text.empty()) {
        const auto code = TakeCodePoint(text);
        if (!code || IsControl(*code))
            return false;
    }
    return true;
}

} // namespace

std::optional<std::string> FormDecoded(std::string_view text)
{
    auto decoded = PercentDecoded(text);
    if (!decoded || !IsPrintableText(*decoded))
        return std::nullopt;
    return decoded;
}

std::string FormEncoded(std::string_view text)
{
    static constexpr char kHex[] = "0123456789ABCDEF";
    std::string encoded;
    for (const char c : text) {
        if (IsUnreserved(c)) {
            encoded += c;
        } else {
            const auto byte = static_cast<unsigned char>(c);
            encoded += '%';
            encoded += kHex[byte >> 4];
            encoded += kHex[byte & 0xF];
        }
    }
    return encoded;
}

std::string FormText(const Form& fields)
{
    std::string text;
    for (const FormField& field : fields)
        text += (text.empty() ? "" : "&") + FormEncoded(field.name) + "=" + FormEncoded(field.value);
    return text;
}

std::optional<Form> ParseForm(std::string_view text)
{
    if (text.empty())
        return Form{};
    return SplitQuery(text, kFormBounds, IsPrintableText);
}

std::string ErrorDescription(std::string_view text)
{
    std::string description(text);
    std::replace_if(
        description.begin(), description.end(), [](char c) { return c < 0x20 || c > 0x7E || c == '"' || c == '\\'; },
        '?');
    return description;
}
