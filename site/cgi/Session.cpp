#include "site/cgi/Session.h"

#include "site/verifier/Hex.h"

#include <nettle/sha2.h>
#include <sys/random.h>

namespace {

std::optional<SessionToken> TokenFromHex(std::string_view text)
{
    SessionToken token{};
    if (text.size() != 2 * token.size())
        return std::nullopt;
    for (std::size_t i = 0; i < token.size(); ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        token[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return token;
}

} // namespace

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
    std::string text;
    for (const uint8_t byte : token) {
        text += kUpperHexDigits[byte >> 4];
        text += kUpperHexDigits[byte & 0x0F];
    }
    return text;
}

std::optional<SessionToken> SessionTokenFromCookies(std::string_view cookies)
{
    while (!cookies.empty()) {
        const std::size_t end = std::min(cookies.find(';'), cookies.size());
        std::string_view pair = cookies.substr(0, end);
        cookies.remove_prefix(std::min(end + 1, cookies.size()));
        while (!pair.empty() && pair.front() == ' ')
            pair.remove_prefix(1);
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos || pair.substr(0, equals) != kSessionCookieName)
            continue;
        const std::string_view value = pair.substr(equals + 1);
        if (const auto token = TokenFromHex(value))
            return token;
    }
    return std::nullopt;
}
