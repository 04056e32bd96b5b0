#include "site/oidc/AuthorizationHeader.h"

#include <algorithm>
#include <cctype>

std::optional<std::string_view> CredentialsOf(std::string_view header, std::string_view scheme)
{
    const bool named =
        header.size() > scheme.size() && header[scheme.size()] == ' ' &&
        std::equal(scheme.begin(), scheme.end(), header.begin(), [](char a, char b) {
            return std::tolower(static_cast<unsigned char>(a)) == std::tolower(static_cast<unsigned char>(b));
        });
    if (!named)
        return std::nullopt;
    header.remove_prefix(scheme.size());
    header.remove_prefix(std::min(header.find_first_not_of(' '), header.size()));
    return header;
}
