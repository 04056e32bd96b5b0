#pragma once
// JSON Web Tokens signed RS256: the ID tokens the provider issues, and the check of one it issued.
#include "site/oidc/JsonReader.h"
#include "site/oidc/RsaKey.h"

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// The header names the algorithm, the type and the key (kid), so that a relying party picks
// the right key from the JWKS while an old and a new key are published together. Nothing when
// signing fails.
std::optional<std::string> SignJwt(const RsaKeyPair& key, std::string_view claimsJson);

// The claims of a token signed RS256 by the key its header names among these. Nothing for any
// other algorithm ("none" included), an unknown kid, a header member beyond alg, typ and kid, a
// bad signature or text that is not three strict base64url parts. Times are the caller's to check.
std::optional<ParsedJson> VerifyJwt(std::string_view token, std::span<const RsaPublicKey> keys);

struct IdTokenClaims {
    std::string issuer;
    std::string subject;
    std::string audience; // the client's identifier
    int64_t issuedAt = 0;
    int64_t expiresAt = 0;
    int64_t authTime = 0; // when the account signed in with its token
    std::string nonce;    // as the authorization request gave it; empty: none was given
    std::string account;  // shown as name and preferred_username
};

std::string IdTokenJson(const IdTokenClaims& claims);
