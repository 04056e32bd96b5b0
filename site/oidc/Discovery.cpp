#include "site/oidc/Discovery.h"

#include "site/oidc/JsonWriter.h"

#include <vector>

namespace {

std::string Strings(std::initializer_list<std::string_view> values)
{
    return JsonStringArray(std::span(values.begin(), values.size()));
}

} // namespace

std::string DiscoveryDocument(std::string_view issuer)
{
    const std::string base(issuer);
    return JsonObject()
        .String("issuer", issuer)
        .String("authorization_endpoint", base + std::string(kAuthorizationPath))
        .String("token_endpoint", base + std::string(kTokenPath))
        .String("userinfo_endpoint", base + std::string(kUserinfoPath))
        .String("jwks_uri", base + std::string(kJwksPath))
        .Json("scopes_supported", Strings({"openid", "profile"}))
        .Json("response_types_supported", Strings({"code"}))
        .Json("response_modes_supported", Strings({"query"}))
        .Json("grant_types_supported", Strings({"authorization_code"}))
        .Json("subject_types_supported", Strings({"public"}))
        .Json("id_token_signing_alg_values_supported", Strings({"RS256"}))
        .Json("token_endpoint_auth_methods_supported", Strings({"client_secret_basic", "client_secret_post", "none"}))
        .Json("code_challenge_methods_supported", Strings({"S256"}))
        .Json("claims_supported",
              Strings({"sub", "iss", "aud", "exp", "iat", "auth_time", "nonce", "name", "preferred_username"}))
        .Boolean("claims_parameter_supported", false)
        .Boolean("request_parameter_supported", false)
        // Its absence would mean true.
        .Boolean("request_uri_parameter_supported", false)
        .Boolean("authorization_response_iss_parameter_supported", true)
        .Text();
}

std::string JwksDocument(std::span<const RsaPublicKey> keys)
{
    std::vector<std::string> jwks;
    for (const RsaPublicKey& key : keys)
        jwks.push_back(key.Jwk());
    return JsonObject().Json("keys", JsonArray(jwks)).Text();
}
