#pragma once
// The addresses the provider is given: the issuer it is configured with and the redirect URIs
// an operator registers for a client. Each is https, or http on a loopback host (for tests and
// for applications on the same machine); neither may have a fragment.
#include "site/oidc/Form.h"

#include <cstddef>
#include <string>
#include <string_view>

inline constexpr std::size_t kMaxUriLength = 1024;

// Why an operator cannot register this redirect URI; empty when it can be. Beyond the rules
// above: only printable ASCII without blanks (other characters are percent-encoded in a URI),
// no user name in the authority, a lower-case scheme, at most kMaxUriLength characters.
std::string RedirectUriProblem(std::string_view uri);

// Why this cannot be the issuer; empty when it can. As a redirect URI, without a query, and
// without a '/' at the end: the endpoints are the issuer followed by their paths.
std::string IssuerProblem(std::string_view issuer);

// The URI with the fields appended to its query (it may already have one), each encoded.
std::string WithParameters(std::string_view uri, const Form& fields);
