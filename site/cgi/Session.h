#pragma once
// A signed-in visitor's session: 128 random bits in a cookie; the store keeps only their hash.
#include "site/store/SiteStore.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

using SessionToken = std::array<uint8_t, 16>;

inline constexpr std::string_view kSessionCookieName = "entravo_session";

// From the operating system's generator; nothing when it fails.
std::optional<SessionToken> DrawSessionToken();

// SHA-256 of the token's bytes.
SessionHash HashOf(const SessionToken& token);

// 32 upper-case hexadecimal digits, as the cookie carries it.
std::string FormatSessionToken(const SessionToken& token);

// The session tokens in a Cookie header ("a=1; entravo_session=..."), in their order, each
// once. A browser may send several cookies of this name (set for different paths, by an older
// sign-in, or by a sibling domain that may set cookies for this site): every well-formed one is
// a candidate, however many come, so that none can hide the visitor's own. The web server's
// limit on a header's size (8 KB in lighttpd and nginx: some 170 cookies) bounds the lookups.
std::vector<SessionToken> SessionTokensFromCookies(std::string_view cookies);
