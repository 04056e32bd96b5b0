#pragma once
// The Authorization header of a request: a scheme, named in any case, and its credentials.
#include <optional>
#include <string_view>

// What follows "scheme " (blanks after the scheme skipped) when the header has that scheme.
std::optional<std::string_view> CredentialsOf(std::string_view header, std::string_view scheme);
