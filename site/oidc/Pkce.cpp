#include "site/oidc/Pkce.h"

#include "site/oidc/Base64Url.h"
#include "site/oidc/Secrets.h"

#include <nettle/memops.h>

#include <algorithm>

namespace {

bool IsUnreserved(char c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
           c == '_' || c == '~';
}

} // namespace

bool IsCodeVerifier(std::string_view verifier)
{
    return verifier.size() >= 43 && verifier.size() <= 128 &&
           std::all_of(verifier.begin(), verifier.end(), IsUnreserved);
}

bool IsS256Challenge(std::string_view challenge)
{
    const auto digest = FromBase64Url(challenge);
    return digest && digest->size() == std::tuple_size_v<SecretHash>;
}

std::string S256Challenge(std::string_view verifier)
{
    return Base64Url(Sha256(verifier));
}

bool VerifierMatches(std::string_view verifier, std::string_view challenge)
{
    if (!IsCodeVerifier(verifier))
        return false;
    const std::string expected = S256Challenge(verifier);
    return expected.size() == challenge.size() && memeql_sec(expected.data(), challenge.data(), expected.size()) != 0;
}
