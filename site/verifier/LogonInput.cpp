#include "site/verifier/LogonInput.h"

#include "logon/AuthenticatorText.h"

#include <algorithm>

namespace {

bool IsControl(unsigned char c)
{
    return c < 0x20 || c == 0x7F;
}

std::optional<std::string> PercentDecoded(std::string_view text, std::size_t maxLength)
{
    std::string decoded;
    for (std::size_t i = 0; i < text.size(); ++i) {
        const auto raw = static_cast<unsigned char>(text[i]);
        if (raw <= 0x20 || raw >= 0x7F)
            return std::nullopt;
        char c = text[i];
        if (c == '+') {
            c = ' ';
        } else if (c == '%') {
            if (i + 2 >= text.size())
                return std::nullopt;
            const int high = HexDigitValue(text[i + 1]);
            const int low = HexDigitValue(text[i + 2]);
            if (high < 0 || low < 0)
                return std::nullopt;
            c = static_cast<char>(high << 4 | low);
            i += 2;
        }
        if (IsControl(static_cast<unsigned char>(c)) || decoded.size() == maxLength)
            return std::nullopt;
        decoded += c;
    }
    return decoded;
}

AuthenticatorInput Problem(std::string problem)
{
    return {std::nullopt, std::move(problem)};
}

AuthenticatorInput CheckedAuthenticator(std::string_view text)
{
    if (text.size() != kAuthenticatorLength)
        return Problem("an authenticator has 64 hexadecimal characters, this one has " + std::to_string(text.size()));
    auto authenticator = NormalizedAuthenticator(text);
    if (!authenticator)
        return Problem("an authenticator has only hexadecimal characters");
    return {std::move(authenticator), {}};
}

} // namespace

std::optional<std::vector<QueryParameter>> ParseQuery(std::string_view query)
{
    if (query.size() > kMaxQueryLength)
        return std::nullopt;
    std::vector<QueryParameter> parameters;
    std::size_t start = 0;
    while (start <= query.size()) {
        const std::size_t end = std::min(query.find('&', start), query.size());
        const std::string_view pair = query.substr(start, end - start);
        const std::size_t equals = std::min(pair.find('='), pair.size());
        auto name = PercentDecoded(pair.substr(0, equals), kMaxNameLength);
        auto value = PercentDecoded(pair.substr(std::min(equals + 1, pair.size())), kMaxValueLength);
        if (!name || !value || name->empty() || parameters.size() == kMaxParameters)
            return std::nullopt;
        const bool repeated =
            std::any_of(parameters.begin(), parameters.end(), [&](const QueryParameter& p) { return p.name == *name; });
        if (repeated)
            return std::nullopt;
        parameters.push_back({std::move(*name), std::move(*value)});
        start = end + 1;
    }
    return parameters;
}

AuthenticatorInput AuthenticatorFromQuery(std::string_view query)
{
    const auto parameters = ParseQuery(query);
    if (!parameters)
        return Problem("the query is not a well-formed, short list of distinct parameters");
    for (const QueryParameter& parameter : *parameters) {
        if (parameter.name == kAuthenticateParameter)
            return CheckedAuthenticator(parameter.value);
    }
    return Problem("the query has no Authenticate parameter");
}

AuthenticatorInput AuthenticatorFromInput(std::string_view input)
{
    std::string_view text = TrimBlanks(input);
    text = text.substr(0, text.find('#'));
    const std::size_t question = text.find('?');
    if (question != std::string_view::npos)
        return AuthenticatorFromQuery(text.substr(question + 1));
    if (text.find('=') != std::string_view::npos)
        return AuthenticatorFromQuery(text);
    return CheckedAuthenticator(text);
}
