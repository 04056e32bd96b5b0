#include "site/oidc/Form.h"

#include "site/oidc/Utf8.h"

#include <algorithm>

namespace {

int HexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

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
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto raw = static_cast<unsigned char>(text[i]);
        if (raw <= 0x20 || raw >= 0x7F)
            return std::nullopt;
        if (text[i] == '+') {
            decoded += ' ';
        } else if (text[i] != '%') {
            decoded += text[i];
        } else {
            const int high = i + 2 < text.size() ? HexValue(text[i + 1]) : -1;
            const int low = high >= 0 ? HexValue(text[i + 2]) : -1;
            if (low < 0)
                return std::nullopt;
            decoded += static_cast<char>(high << 4 | low);
            i += 2;
        }
    }
    if (!IsPrintableText(decoded))
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

std::optional<Form> ParseForm(std::string_view text)
{
    Form form;
    if (text.empty())
        return form;
    if (text.size() > kMaxFormLength)
        return std::nullopt;
    // An empty part, a trailing '&' included, is a nameless field.
    for (std::size_t start = 0; start <= text.size();) {
        const std::size_t end = std::min(text.find('&', start), text.size());
        const std::string_view pair = text.substr(start, end - start);
        start = end + 1;
        const std::size_t equals = std::min(pair.find('='), pair.size());
        auto name = FormDecoded(pair.substr(0, equals));
        auto value = FormDecoded(pair.substr(std::min(equals + 1, pair.size())));
        if (!name || !value || name->empty() || name->size() > kMaxFieldNameLength ||
            value->size() > kMaxFieldValueLength || form.size() == kMaxFormFields)
            return std::nullopt;
        form.push_back({std::move(*name), std::move(*value)});
    }
    return form;
}

std::optional<std::string> RepeatedName(const Form& form)
{
    for (auto field = form.begin(); field != form.end(); ++field) {
        if (std::any_of(form.begin(), field, [&](const FormField& earlier) { return earlier.name == field->name; }))
            return field->name;
    }
    return std::nullopt;
}

std::string ValueOf(const Form& form, std::string_view name)
{
    const auto field = std::find_if(form.begin(), form.end(), [&](const FormField& f) { return f.name == name; });
    return field == form.end() ? std::string() : field->value;
}

std::string ErrorDescription(std::string_view text)
{
    std::string description(text);
    std::replace_if(
        description.begin(), description.end(), [](char c) { return c < 0x20 || c > 0x7E || c == '"' || c == '\\'; },
        '?');
    return description;
}
