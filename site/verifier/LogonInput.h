#pragma once
// Finding the authenticator in what reaches the site: a request's query string, or what an
// operator pastes (the bare 64 characters, a query or a whole logon URL).
#include "site/verifier/Query.h"

#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kAuthenticateParameter = "Authenticate";

// Bounds on a logon's query (and on the operator's forms that use the same reading), so that
// junk costs little to refuse.
inline constexpr QueryBounds kQueryBounds{.length = 1024, .parameters = 8, .nameLength = 32, .valueLength = 128};

// Strict: nothing at all when the query is beyond kQueryBounds, has an empty or nameless
// parameter, a name twice, a bad '%' sequence, a raw byte outside printable ASCII or a decoded
// control character.
std::optional<QueryParameters> ParseQuery(std::string_view query);

struct AuthenticatorInput {
    // Exactly 64 hexadecimal characters, in upper case whatever case was given, or nothing.
    std::optional<std::string> authenticator;
    // Without an authenticator: why, in one line.
    std::string problem;
};

// From a request's query string: its one Authenticate parameter; others are allowed.
AuthenticatorInput AuthenticatorFromQuery(std::string_view query);

// From an operator: the bare string, a query or a URL with a query; blanks around are ignored.
AuthenticatorInput AuthenticatorFromInput(std::string_view input);
