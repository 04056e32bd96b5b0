#pragma once
// What the provider publishes about itself: the discovery document and the JWKS. Every
// address in them is the configured issuer followed by a path, never taken from a request.
#include "site/oidc/RsaKey.h"

#include <span>
#include <string>
#include <string_view>

inline constexpr std::string_view kDiscoveryPath = "/.well-known/openid-configuration";
inline constexpr std::string_view kAuthorizationPath = "/authorize";
inline constexpr std::string_view kTokenPath = "/token";
inline constexpr std::string_view kUserinfoPath = "/userinfo";
inline constexpr std::string_view kJwksPath = "/jwks";

// For an issuer IssuerProblem accepts.
std::string DiscoveryDocument(std::string_view issuer);

// {"keys":[...]}: the keys an ID token may still be signed with, the newest first.
std::string JwksDocument(std::span<const RsaPublicKey> keys);
