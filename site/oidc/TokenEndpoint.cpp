#include "site/oidc/TokenEndpoint.h"

#include "site/oidc/AuthorizationHeader.h"
#include "site/oidc/JsonWriter.h"
#include "site/oidc/Pkce.h"
#include "site/verifier/Signature.h"

namespace {

TokenError Refused(TokenErrorCode code, std::string description)
{
    return {code, std::move(description)};
}

std::optional<TokenError> RepeatedParameter(const Form& body)
{
    const auto name = RepeatedName(body);
    if (!name)
        return std::nullopt;
    return Refused(TokenErrorCode::InvalidRequest, "the parameter " + *name + " is given more than once");
}

std::variant<ClientCredentials, TokenError> BasicCredentials(std::string_view encoded)
{
    const auto bytes = FromBase64(encoded);
    const std::string pair = bytes ? std::string(bytes->begin(), bytes->end()) : "";
    const std::size_t colon = pair.find(':');
    const auto id = FormDecoded(std::string_view(pair).substr(0, colon));
    const auto secret = colon == std::string::npos ? std::nullopt : FormDecoded(pair.substr(colon + 1));
    if (!id || !secret || id->empty())
        return Refused(TokenErrorCode::InvalidClient, "the Basic credentials cannot be read");
    return ClientCredentials{ClientMethod::Basic, std::move(*id), std::move(*secret)};
}

} // namespace

std::variant<ClientCredentials, TokenError> ReadClientCredentials(std::string_view authorization, const Form& body)
{
    if (auto repeated = RepeatedParameter(body))
        return std::move(*repeated);
    const std::string id = ValueOf(body, "client_id");
    const std::string secret = ValueOf(body, "client_secret");
    if (authorization.empty()) {
        if (id.empty())
            return Refused(TokenErrorCode::InvalidClient, "the client does not authenticate");
        return ClientCredentials{secret.empty() ? ClientMethod::None : ClientMethod::Post, id, secret};
    }
    const auto encoded = CredentialsOf(authorization, "Basic");
    if (!encoded)
        return Refused(TokenErrorCode::InvalidClient, "client authentication takes the Basic scheme");
    auto credentials = BasicCredentials(*encoded);
    const auto* basic = std::get_if<ClientCredentials>(&credentials);
    if (basic && !secret.empty())
        return Refused(TokenErrorCode::InvalidRequest, "the client authenticates in more than one way");
    if (basic && !id.empty() && id != basic->id)
        return Refused(TokenErrorCode::InvalidRequest, "client_id is not the client of the Authorization header");
    return credentials;
}

std::optional<TokenError> ClientFault(const ClientCredentials& credentials,
                                      const std::optional<RegisteredClient>& client)
{
    if (!client)
        return Refused(TokenErrorCode::InvalidClient, "the client is not registered");
    if (client->IsPublic()) {
        if (credentials.method != ClientMethod::None)
            return Refused(TokenErrorCode::InvalidClient, "the client is public and has no secret");
        return std::nullopt;
    }
    if (credentials.method == ClientMethod::None)
        return Refused(TokenErrorCode::InvalidClient, "the client must authenticate with its secret");
    if (!SameHash(*client->secretHash, HashSecret(credentials.secret)))
        return Refused(TokenErrorCode::InvalidClient, "the client's secret is wrong");
    return std::nullopt;
}

std::variant<TokenRequest, TokenError> ReadTokenRequest(const Form& body)
{
    if (auto repeated = RepeatedParameter(body))
        return std::move(*repeated);
    const std::string grantType = ValueOf(body, "grant_type");
    if (grantType.empty())
        return Refused(TokenErrorCode::InvalidRequest, "grant_type is missing");
    if (grantType != "authorization_code")
        return Refused(TokenErrorCode::UnsupportedGrantType, "only grant_type=authorization_code is supported");
    TokenRequest request{ValueOf(body, "code"), ValueOf(body, "redirect_uri"), ValueOf(body, "code_verifier")};
    if (request.code.empty())
        return Refused(TokenErrorCode::InvalidRequest, "code is missing");
    if (request.redirectUri.empty())
        return Refused(TokenErrorCode::InvalidRequest, "redirect_uri is missing");
    if (!request.codeVerifier.empty() && !IsCodeVerifier(request.codeVerifier))
        return Refused(TokenErrorCode::InvalidRequest, "code_verifier is not 43 to 128 unreserved characters");
    return request;
}

std::optional<TokenError> RedemptionFault(const IssuedCode& issued, const TokenRequest& request,
                                          std::string_view clientId, int64_t now)
{
    if (issued.clientId != clientId)
        return Refused(TokenErrorCode::InvalidGrant, "the code was issued to another client");
    if (now >= issued.expiresAt)
        return Refused(TokenErrorCode::InvalidGrant, "the code has expired");
    if (issued.redirectUri != request.redirectUri)
        return Refused(TokenErrorCode::InvalidGrant, "redirect_uri is not the one of the authorization request");
    if (issued.codeChallenge.empty() && !request.codeVerifier.empty())
        return Refused(TokenErrorCode::InvalidGrant, "the code was issued without a code challenge");
    if (!issued.codeChallenge.empty() && request.codeVerifier.empty())
        return Refused(TokenErrorCode::InvalidGrant, "code_verifier is missing");
    if (!issued.codeChallenge.empty() && !VerifierMatches(request.codeVerifier, issued.codeChallenge))
        return Refused(TokenErrorCode::InvalidGrant, "code_verifier does not match the code challenge");
    return std::nullopt;
}

std::string_view ErrorCode(TokenErrorCode code)
{
    switch (code) {
    case TokenErrorCode::InvalidRequest:
        return "invalid_request";
    case TokenErrorCode::InvalidClient:
        return "invalid_client";
    case TokenErrorCode::InvalidGrant:
        return "invalid_grant";
    case TokenErrorCode::UnsupportedGrantType:
        return "unsupported_grant_type";
    }
    return "invalid_request";
}

JsonAnswer TokenAnswer(std::string_view accessToken, std::string_view idToken, std::string_view scope)
{
    return PrivateAnswer(200, JsonObject()
                                  .String("access_token", accessToken)
                                  .String("token_type", "Bearer")
                                  .Integer("expires_in", kAccessTokenLifetimeSeconds)
                                  .String("id_token", idToken)
                                  .String("scope", scope)
                                  .Text());
}

JsonAnswer TokenRefusal(const TokenError& error)
{
    const bool client = error.code == TokenErrorCode::InvalidClient;
    JsonAnswer answer =
        PrivateAnswer(client ? 401 : 400, JsonObject()
                                              .String("error", ErrorCode(error.code))
                                              .String("error_description", ErrorDescription(error.description))
                                              .Text());
    if (client)
        answer.headers.emplace_back("WWW-Authenticate", "Basic realm=\"token\", charset=\"UTF-8\"");
    return answer;
}
