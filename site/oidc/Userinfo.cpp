#include "site/oidc/Userinfo.h"

#include "site/oidc/AuthorizationHeader.h"
#include "site/oidc/JsonWriter.h"

#include <algorithm>
#include <cctype>

namespace {

// RFC 6750's b64token: letters, digits, - . _ ~ + / and '=' only at the end.
bool IsBearerToken(std::string_view token)
{
    const std::string_view body = token.substr(0, token.find_last_not_of('=') + 1);
    return !body.empty() && std::all_of(body.begin(), body.end(), [](char c) {
        return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '.' || c == '_' || c == '~' ||
               c == '+' || c == '/';
    });
}

} // namespace

std::optional<std::string> BearerToken(std::string_view authorization)
{
    const auto token = CredentialsOf(authorization, "Bearer");
    if (!token || !IsBearerToken(*token))
        return std::nullopt;
    return std::string(*token);
}

JsonAnswer UserinfoAnswer(std::string_view subject, std::string_view account)
{
    return PrivateAnswer(
        200, JsonObject().String("sub", subject).String("name", account).String("preferred_username", account).Text());
}

JsonAnswer UserinfoRefusal(BearerRefusal refusal)
{
    const bool invalid = refusal == BearerRefusal::InvalidToken;
    JsonAnswer answer = PrivateAnswer(401, invalid ? JsonObject().String("error", "invalid_token").Text() : "{}");
    answer.headers.emplace_back("WWW-Authenticate", invalid ? "Bearer realm=\"userinfo\", error=\"invalid_token\""
                                                            : "Bearer realm=\"userinfo\"");
    return answer;
}
