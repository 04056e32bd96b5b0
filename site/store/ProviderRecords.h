#pragma once
// What the store keeps for the OpenID Connect provider (site/oidc, site/cgi/OidcProvider.h):
// the applications registered with it, its keys, the sign-ins it waits for, and the codes and
// access tokens it issued. Every secret (a client's, a code, an access token, a waiting
// browser's cookie) is kept only as its SHA-256; the store never sees one.
#include "logon/Authenticator.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

using ProviderHash = std::array<uint8_t, 32>;

struct ProviderClient {
    std::string id;
    std::string name;
    std::vector<std::string> redirectUris;
    std::optional<ProviderHash> secretHash; // none for a public client
    int64_t addedAt = 0;
};

// A signing key as the provider stores it (the private JWK), named by its kid.
struct ProviderKey {
    std::string kid;
    std::string stored;
    int64_t madeAt = 0;
    std::optional<int64_t> retiredAt; // none for the key that signs now
};

struct ProviderKeys {
    std::optional<ProviderHash> subjectKey;
    std::vector<ProviderKey> keys; // the newest first
};

// An authorization request that waits for its browser to sign in.
struct PendingAuthorization {
    std::string request; // its parameters, form-encoded
    int64_t requestedAt = 0;
    bool continued = false; // a browser tab took it on already
};

// A code as issued: to whom, for what, and for whose sign-in.
struct ProviderCode {
    ProviderHash hash{};
    std::string clientId;
    std::string redirectUri;
    std::string challenge; // empty when the request had none
    std::string nonce;     // empty when the request had none
    std::string scope;
    RomBytes identity{};  // the token whose session signed in
    int64_t authTime = 0; // when that session was opened
    int64_t expiresAt = 0;
};

struct ProviderAccessToken {
    ProviderHash hash{};
    int64_t expiresAt = 0;
};

// What became of a code brought to the token endpoint.
enum class CodeUse {
    Redeemed, // first use, and the caller issued an access token for it
    Refused,  // first use, and the caller refused it: the code is used up all the same
    Unknown,  // never issued, forgotten, or its token revoked since
    Reused,   // used before: what its first use issued is revoked
};

struct CodeRedemption {
    CodeUse use = CodeUse::Unknown;
    ProviderCode code; // Redeemed and Refused
    std::string account;
};

// The caller's judgement of a code on its first use, made inside the store's step: the access
// token to issue, or nothing to refuse it.
using CodeJudgement = std::function<std::optional<ProviderAccessToken>(const ProviderCode& code)>;

// The provider's records are forgotten this long after they ran out (a pending sign-in, a code,
// an access token) or were retired (a key): a code's second use must be told from an unknown
// code while the access token of its first use lives, and a retired key is published while ID
// tokens it signed live.
inline constexpr int64_t kProviderKeepSeconds = 15 * 60;
