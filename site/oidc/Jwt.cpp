#include "site/oidc/Jwt.h"

#include "site/oidc/Base64Url.h"
#include "site/oidc/JsonWriter.h"

#include <algorithm>

namespace {

struct JwtParts {
    std::string_view header;
    std::string_view claims;
    std::string_view signature;
};

std::optional<JwtParts> SplitJwt(std::string_view token)
{
    const std::size_t first = token.find('.');
    const std::size_t second = first == std::string_view::npos ? first : token.find('.', first + 1);
    if (second == std::string_view::npos || token.find('.', second + 1) != std::string_view::npos)
        return std::nullopt;
    return JwtParts{token.substr(0, first), token.substr(first + 1, second - first - 1), token.substr(second + 1)};
}

bool IsOurHeader(const ParsedJson& header)
{
    const bool onlyKnown = std::all_of(header.Members().begin(), header.Members().end(), [](const JsonMember& m) {
        return m.name == "alg" || m.name == "typ" || m.name == "kid";
    });
    const std::string* algorithm = header.String("alg");
    const std::string* type = header.String("typ");
    return onlyKnown && algorithm && *algorithm == "RS256" && (!header.Has("typ") || (type && *type == "JWT"));
}

const RsaPublicKey* KeyNamed(std::span<const RsaPublicKey> keys, const std::string* kid)
{
    if (!kid)
        return nullptr;
    const auto key = std::find_if(keys.begin(), keys.end(), [&](const RsaPublicKey& k) { return k.Kid() == *kid; });
    return key == keys.end() ? nullptr : &*key;
}

} // namespace

std::optional<std::string> SignJwt(const RsaKeyPair& key, std::string_view claimsJson)
{
    const std::string header =
        JsonObject().String("alg", "RS256").String("typ", "JWT").String("kid", key.Public().Kid()).Text();
    const std::string signingInput = Base64Url(header) + "." + Base64Url(claimsJson);
    const auto signature = key.Sign(signingInput);
    if (!signature)
        return std::nullopt;
    return signingInput + "." + Base64Url(*signature);
}

std::optional<ParsedJson> VerifyJwt(std::string_view token, std::span<const RsaPublicKey> keys)
{
    const auto parts = SplitJwt(token);
    if (!parts)
        return std::nullopt;
    const auto headerText = TextFromBase64Url(parts->header);
    const auto header = headerText ? ParseJsonObject(*headerText) : std::nullopt;
    if (!header || !IsOurHeader(*header))
        return std::nullopt;
    const RsaPublicKey* key = KeyNamed(keys, header->String("kid"));
    const auto signature = FromBase64Url(parts->signature);
    const std::string_view signingInput = token.substr(0, parts->header.size() + 1 + parts->claims.size());
    if (!key || !signature || !key->Verifies(signingInput, *signature))
        return std::nullopt;
    const auto claims = TextFromBase64Url(parts->claims);
    return claims ? ParseJsonObject(*claims) : std::nullopt;
}

std::string IdTokenJson(const IdTokenClaims& claims)
{
    JsonObject json;
    json.String("iss", claims.issuer)
        .String("sub", claims.subject)
        .String("aud", claims.audience)
        .Integer("exp", claims.expiresAt)
        .Integer("iat", claims.issuedAt)
        .Integer("auth_time", claims.authTime);
    if (!claims.nonce.empty())
        json.String("nonce", claims.nonce);
    return json.String("name", claims.account).String("preferred_username", claims.account).Text();
}
