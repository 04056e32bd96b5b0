#pragma once
// What the admin page's Revoke buttons send back, and the proof that a post came from the page
// shown to this session rather than from another site the administrator happens to visit.
//
// The proof is HMAC-SHA256 of a fixed label under the session's own token, the 128 random bits
// in the cookie. The store keeps only the token's hash, so neither the store nor a copy of it
// can make the value, and it needs nothing new stored: no secret to keep, back up or rotate, no
// column, no write. It holds exactly as long as the session (ended by signing out, revoking or
// expiry), differs between sessions, and shows nothing of the token it comes from. Another
// site can neither read the cookie nor the page, so it cannot know the value.
#include "logon/Authenticator.h"
#include "site/verifier/LogonInput.h"

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

// 64 lower-case hexadecimal digits, from the token whose session showed the page.
std::string CsrfValue(std::span<const uint8_t, 16> sessionToken);

// Whether offered is the session's value, compared in time that does not depend on where the
// two differ.
bool CsrfMatches(std::span<const uint8_t, 16> sessionToken, std::string_view offered);

// Longer bodies are refused: the gateway need read no more than this (and one byte to tell).
inline constexpr std::size_t kMaxAdminPostBytes = kQueryBounds.length;

struct AdminPost {
    RomBytes revoke{};
    std::string csrf;
};

// The body of a Revoke button's post: application/x-www-form-urlencoded (parameters after the
// type are allowed), exactly the fields revoke (an identity) and csrf, each once, in either
// order. Anything else is nothing, with the reason in problem.
std::optional<AdminPost> ParseAdminPost(std::string_view contentType, std::string_view body, std::string& problem);
