#include "site/cgi/Session.h"

#include "logon/AuthenticatorText.h"

#include <nettle/sha2.h>
#include <sys/random.h>

#include <algorithm>

std::optional<SessionToken> DrawSessionToken()
{
    SessionToken token{};
    if (getrandom(token.data(), token.size(), 0) != static_cast<ssize_t>(token.size()))
        return std::nullopt;
    return token;
}

SessionHash HashOf(const SessionToken& token)
{
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, token.size(), token.data());
    SessionHash hash{};
    sha256_digest(&context, hash.size(), hash.data());
    return hash;
}

std::string FormatSessionToken(const SessionToken& token)
{
    return FormatHexBytes(token);
}

std::vector<SessionToken> SessionTokensFromCookies(std::string_view cookies)
{
    std::vector<SessionToken> tokens;
    while (!cookies.empty()) {
        const std::size_t end = std::min(cookies.find(';'), cookies.size());
        std::string_view pair = cookies.substr(0, end);
        cookies.remove_prefix(std::min(end + 1, cookies.size()));
        while (!pair.empty() && pair.front() == ' ')
            pair.remove_prefix(1);
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos || pair.substr(0, equals) != kSessionCookieName)
            continue;
        const auto token = ParseHexBytes<std::tuple_size_v<SessionToken>>(pair.substr(equals + 1));
        if (token && std::find(tokens.begin(), tokens.end(), *token) == tokens.end())
            tokens.push_back(*token);
    }
    return tokens;
}
