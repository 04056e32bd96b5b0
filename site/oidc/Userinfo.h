#pragma once
// The userinfo endpoint's decisions: the access token a request carries (as a Bearer
// credential in the Authorization header) and the answers.
#include "site/oidc/JsonAnswer.h"

#include <optional>
#include <string>
#include <string_view>

// The token of "Bearer TOKEN" (the scheme in any case); nothing for another scheme or a token
// with characters a bearer token cannot have.
std::optional<std::string> BearerToken(std::string_view authorization);

// The account's claims: sub always, and its name as name and preferred_username.
JsonAnswer UserinfoAnswer(std::string_view subject, std::string_view account);

enum class BearerRefusal {
    NoToken,      // no credentials at all: only the challenge, without an error
    InvalidToken, // unknown, expired or revoked, or not a bearer token
};

// 401 with a Bearer challenge that says why.
JsonAnswer UserinfoRefusal(BearerRefusal refusal);
