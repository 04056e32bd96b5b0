#pragma once
// A signed-in visitor's session: 128 random bits in a cookie; the store keeps only their hash.
#include "site/store/SiteStore.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using SessionToken = std::array<uint8_t, 16>;

inline constexpr std::string_view kSessionCookieName = "entravo_session";

// From the operating system's generator; nothing when it fails.
std::optional<SessionToken> DrawSessionToken();

// SHA-256 of the token's bytes.
SessionHash HashOf(const SessionToken& token);

// 32 upper-case hexadecimal digits, as the cookie carries it.
std::string FormatSessionToken(const SessionToken& token);

// The session token in a Cookie header ("a=1; entravo_session=..."), if one is well-formed.
std::optional<SessionToken> SessionTokenFromCookies(std::string_view cookies);
