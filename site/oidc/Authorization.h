#pragma once
// The authorization endpoint's decisions, as pure functions of the request's parameters (the
// query of a GET, the body of a POST) and the registered client. A request that names no known
// client, or a redirect_uri not registered for it byte for byte, is never redirected to: the
// visitor gets an error page. Every other fault goes back to the redirect_uri with error,
// error_description and the request's state.
#include "site/oidc/Client.h"

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

// A request the provider will answer with a code once the visitor is signed in.
struct AuthorizationRequest {
    std::string clientId;
    std::string redirectUri;
    std::string scope;         // what is granted of what was asked: openid, and profile if asked
    std::string state;         // as given; empty when none was
    std::string nonce;         // as given, for the ID token; empty when none was
    std::string codeChallenge; // S256; empty when none was (never for a public client)
    bool promptNone = false;   // prompt=none: answer without showing the visitor anything
    bool promptLogin = false;  // prompt=login: only a sign-in made for this request will do
    std::optional<int64_t> maxAge;
};

enum class AuthorizationError {
    InvalidRequest,
    UnsupportedResponseType,
    InvalidScope,
    LoginRequired,
    RequestNotSupported,
    RequestUriNotSupported,
    RegistrationNotSupported,
    ServerError,
    TemporarilyUnavailable,
};

// The error's name as the redirect carries it ("invalid_request", ...).
std::string_view ErrorCode(AuthorizationError error);

// Shown to the visitor; never a redirect.
struct ErrorPage {
    std::string problem;
};

struct ErrorRedirect {
    std::string redirectUri;
    std::string state;
    AuthorizationError error = AuthorizationError::InvalidRequest;
    std::string description;
};

using AuthorizationCheck = std::variant<AuthorizationRequest, ErrorPage, ErrorRedirect>;

AuthorizationCheck CheckAuthorizationRequest(std::string_view parameters, const ClientLookup& lookup);

// The request as parameters that CheckAuthorizationRequest reads back as this same request, as
// long as its client keeps the redirect_uri: what a request that waits for a sign-in keeps.
std::string RequestParameters(const AuthorizationRequest& request);

// A later refusal of a request that was valid (no sign-in with prompt=none, a store failure).
ErrorRedirect Refusal(const AuthorizationRequest& request, AuthorizationError error, std::string description);

// Where the browser goes: the redirect_uri with code (or error and error_description), state
// when the request had one, and iss, which tells a client that talks to several providers
// which one answered. A description keeps only the characters an error_description may have.
std::string CodeLocation(const AuthorizationRequest& request, std::string_view code, std::string_view issuer);
std::string ErrorLocation(const ErrorRedirect& refusal, std::string_view issuer);

enum class SignInStep {
    Continue, // the visitor's session will do: issue the code
    SignIn,   // the visitor must sign in with the token first
    Refuse,   // a sign-in is needed but prompt=none forbids it: login_required
};

// signedInAt: when the visitor's live session was opened by a sign-in, if there is one;
// requestedAt: when this request first reached the provider. prompt=login and an exceeded
// max_age ask for a new sign-in, which any sign-in made since the request is.
SignInStep NextStep(const AuthorizationRequest& request, std::optional<int64_t> signedInAt, int64_t requestedAt,
                    int64_t now);
