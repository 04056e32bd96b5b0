#pragma once
// Finding the authenticator in what reaches the site: a request's query string, or what an
// operator pastes (the bare 64 characters, a query or a whole logon URL).
#include <cstddef>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

inline constexpr std::string_view kAuthenticateParameter = "Authenticate";

// Bounds on a query, so that junk costs little to refuse.
inline constexpr std::size_t kMaxQueryLength = 1024;
inline constexpr std::size_t kMaxParameters = 8;
inline constexpr std::size_t kMaxNameLength = 32;
inline constexpr std::size_t kMaxValueLength = 128;

struct QueryParameter {
    std::string name;
    std::string value;
};

// name=value pairs joined by '&', percent-encoded, '+' for a space. Strict: nothing at all
// when the query is too long, has too many or too long parameters, an empty or nameless
// parameter, a name twice, a bad '%' sequence, a raw byte outside printable ASCII or a
// decoded control character.
std::optional<std::vector<QueryParameter>> ParseQuery(std::string_view query);

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
