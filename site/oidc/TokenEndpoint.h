#pragma once
// The token endpoint's decisions: who the client is (client_secret_basic, client_secret_post,
// or a public client that only names itself), what it asks for, whether the code it brings
// was issued for it, and the JSON it gets back.
#include "site/oidc/Client.h"
#include "site/oidc/Form.h"
#include "site/oidc/JsonAnswer.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

inline constexpr int64_t kCodeLifetimeSeconds = 60;
inline constexpr int64_t kAccessTokenLifetimeSeconds = 10 * 60;
// An old signing key stays published this long after a rotation.
inline constexpr int64_t kIdTokenLifetimeSeconds = 10 * 60;

enum class TokenErrorCode { InvalidRequest, InvalidClient, InvalidGrant, UnsupportedGrantType };

struct TokenError {
    TokenErrorCode code = TokenErrorCode::InvalidRequest;
    std::string description;
};

enum class ClientMethod { Basic, Post, None };

struct ClientCredentials {
    ClientMethod method = ClientMethod::None;
    std::string id;
    std::string secret; // empty for None
};

// From the Authorization header (empty when there was none) and the form body. Basic carries
// the identifier and the secret each form-urlencoded before base64. A client uses one way
// only: a secret both ways, or a client_id in the body that is not the one of the header, is
// invalid_request; no client_id at all, another scheme or an unreadable header is invalid_client.
std::variant<ClientCredentials, TokenError> ReadClientCredentials(std::string_view authorization, const Form& body);

// invalid_client when the client is unknown (nothing), a confidential client's secret does not
// match, or a public client presents a secret.
std::optional<TokenError> ClientFault(const ClientCredentials& credentials,
                                      const std::optional<RegisteredClient>& client);

struct TokenRequest {
    std::string code;
    std::string redirectUri;
    std::string codeVerifier; // empty when none was given
};

// grant_type=authorization_code with a code and the redirect_uri of the authorization request.
std::variant<TokenRequest, TokenError> ReadTokenRequest(const Form& body);

// What the store kept of a code it issued and has not seen redeemed.
struct IssuedCode {
    std::string clientId;
    std::string redirectUri;
    std::string codeChallenge; // empty when the request had none
    int64_t expiresAt = 0;
};

// invalid_grant when the code is past its time, was issued to another client or for another
// redirect_uri, or the verifier is missing, wrong, or given for a code issued without a
// challenge (which would let a stolen code be bound to a verifier afterwards).
std::optional<TokenError> RedemptionFault(const IssuedCode& issued, const TokenRequest& request,
                                          std::string_view clientId, int64_t now);

// The error's name as the JSON carries it.
std::string_view ErrorCode(TokenErrorCode code);

// scope: what the authorization request was granted, always named, since it may be less
// than what was asked.
JsonAnswer TokenAnswer(std::string_view accessToken, std::string_view idToken, std::string_view scope);
// 400, or 401 with a Basic challenge for invalid_client.
JsonAnswer TokenRefusal(const TokenError& error);
