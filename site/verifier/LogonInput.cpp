#include "site/verifier/LogonInput.h"

#include "logon/AuthenticatorText.h"

#include <algorithm>

namespace {

// Bytes beyond ASCII pass: every value the site uses is checked for its own characters.
bool HasNoControl(std::string_view decoded)
{
    return std::none_of(decoded.begin(), decoded.end(), [](char c) {
        const auto byte = static_cast<unsigned char>(c);
        return byte < 0x20 || byte == 0x7F;
    });
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

std::optional<QueryParameters> ParseQuery(std::string_view query)
{
    auto parameters = SplitQuery(query, kQueryBounds, HasNoControl);
    if (!parameters || RepeatedName(*parameters))
        return std::nullopt;
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
