#include "site/oidc/Authorization.h"

#include "site/oidc/Form.h"
#include "site/oidc/Pkce.h"
#include "site/oidc/Uri.h"

#include <algorithm>
#include <charconv>

namespace {

struct Fault {
    AuthorizationError error;
    std::string description;
};

// The longest max_age read: a hundred years in seconds has ten digits.
constexpr std::size_t kMaxAgeDigits = 10;

std::size_t CountOf(const Form& form, std::string_view name)
{
    return std::count_if(form.begin(), form.end(), [&](const FormField& field) { return field.name == name; });
}

// Copies, so that the words outlive the value they were read from.
std::vector<std::string> Words(std::string_view text)
{
    std::vector<std::string> words;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find(' '), text.size());
        if (end > 0)
            words.emplace_back(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
    }
    return words;
}

bool Contains(const std::vector<std::string>& words, std::string_view word)
{
    return std::find(words.begin(), words.end(), word) != words.end();
}

// The client and the registered redirect_uri the answer may go to, or the page that says why
// there is none.
std::variant<RegisteredClient, ErrorPage> RedirectTarget(const Form& form, const ClientLookup& lookup)
{
    if (CountOf(form, "client_id") > 1 || CountOf(form, "redirect_uri") > 1)
        return ErrorPage{"The request names its application or its return address more than once."};
    const std::string clientId = ValueOf(form, "client_id");
    if (clientId.empty())
        return ErrorPage{"The request does not name the application (client_id)."};
    auto client = lookup(clientId);
    if (!client)
        return ErrorPage{"The application of this request is not registered here."};
    const std::string redirectUri = ValueOf(form, "redirect_uri");
    if (redirectUri.empty())
        return ErrorPage{"The request does not say where to return to (redirect_uri)."};
    if (std::find(client->redirectUris.begin(), client->redirectUris.end(), redirectUri) == client->redirectUris.end())
        return ErrorPage{"The request's return address is not registered for its application."};
    return std::move(*client);
}

std::optional<Fault> UnsupportedParameter(const Form& form)
{
    if (const auto name = RepeatedName(form))
        return Fault{AuthorizationError::InvalidRequest, "the parameter " + *name + " is given more than once"};
    if (!ValueOf(form, "request").empty())
        return Fault{AuthorizationError::RequestNotSupported, "request objects are not supported"};
    if (!ValueOf(form, "request_uri").empty())
        return Fault{AuthorizationError::RequestUriNotSupported, "request_uri is not supported"};
    if (!ValueOf(form, "registration").empty())
        return Fault{AuthorizationError::RegistrationNotSupported, "registration is not supported"};
    return std::nullopt;
}

std::optional<Fault> ResponseFault(const Form& form)
{
    const std::string type = ValueOf(form, "response_type");
    if (type.empty())
        return Fault{AuthorizationError::InvalidRequest, "response_type is missing"};
    if (type != "code")
        return Fault{AuthorizationError::UnsupportedResponseType, "only response_type=code is supported"};
    const std::string mode = ValueOf(form, "response_mode");
    if (!mode.empty() && mode != "query")
        return Fault{AuthorizationError::InvalidRequest, "only response_mode=query is supported"};
    if (!Contains(Words(ValueOf(form, "scope")), "openid"))
        return Fault{AuthorizationError::InvalidScope, "the scope must include openid"};
    return std::nullopt;
}

std::optional<Fault> PkceFault(const Form& form, const RegisteredClient& client)
{
    const std::string challenge = ValueOf(form, "code_challenge");
    const std::string method = ValueOf(form, "code_challenge_method");
    if (challenge.empty() && !method.empty())
        return Fault{AuthorizationError::InvalidRequest, "code_challenge_method without code_challenge"};
    if (challenge.empty())
        return client.IsPublic() ? std::optional(Fault{AuthorizationError::InvalidRequest, "code challenge required"})
                                 : std::nullopt;
    // Without a method the challenge would be the verifier itself (plain), which is not taken.
    if (method != "S256")
        return Fault{AuthorizationError::InvalidRequest, "transform algorithm not supported: only S256"};
    if (!IsS256Challenge(challenge))
        return Fault{AuthorizationError::InvalidRequest, "code_challenge is not a base64url SHA-256 digest"};
    return std::nullopt;
}

std::optional<int64_t> ReadMaxAge(std::string_view text)
{
    // Unsigned, so that no sign is read.
    uint64_t seconds = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), seconds);
    if (text.size() > kMaxAgeDigits || error != std::errc() || end != text.data() + text.size())
        return std::nullopt;
    return static_cast<int64_t>(seconds);
}

std::optional<Fault> PromptFault(const Form& form)
{
    const auto prompt = Words(ValueOf(form, "prompt"));
    if (Contains(prompt, "none") && prompt.size() > 1)
        return Fault{AuthorizationError::InvalidRequest, "prompt=none cannot be combined with other values"};
    const std::string maxAge = ValueOf(form, "max_age");
    if (!maxAge.empty() && !ReadMaxAge(maxAge))
        return Fault{AuthorizationError::InvalidRequest, "max_age is not a number of seconds"};
    return std::nullopt;
}

std::optional<Fault> FirstFault(const Form& form, const RegisteredClient& client)
{
    if (auto fault = UnsupportedParameter(form))
        return fault;
    if (auto fault = ResponseFault(form))
        return fault;
    if (auto fault = PkceFault(form, client))
        return fault;
    return PromptFault(form);
}

// Scopes the provider does not know are left out, so that the token answer tells the client
// what it was granted.
std::string GrantedScope(const Form& form)
{
    return Contains(Words(ValueOf(form, "scope")), "profile") ? "openid profile" : "openid";
}

AuthorizationRequest RequestOf(const Form& form)
{
    const auto prompt = Words(ValueOf(form, "prompt"));
    const std::string maxAge = ValueOf(form, "max_age");
    return {.clientId = ValueOf(form, "client_id"),
            .redirectUri = ValueOf(form, "redirect_uri"),
            .scope = GrantedScope(form),
            .state = ValueOf(form, "state"),
            .nonce = ValueOf(form, "nonce"),
            .codeChallenge = ValueOf(form, "code_challenge"),
            .promptNone = Contains(prompt, "none"),
            .promptLogin = Contains(prompt, "login"),
            .maxAge = maxAge.empty() ? std::nullopt : ReadMaxAge(maxAge)};
}

std::string Location(std::string_view redirectUri, Form fields, std::string_view state, std::string_view issuer)
{
    if (!state.empty())
        fields.push_back({"state", std::string(state)});
    fields.push_back({"iss", std::string(issuer)});
    return WithParameters(redirectUri, fields);
}

} // namespace

std::string_view ErrorCode(AuthorizationError error)
{
    switch (error) {
    case AuthorizationError::InvalidRequest:
        return "invalid_request";
    case AuthorizationError::UnsupportedResponseType:
        return "unsupported_response_type";
    case AuthorizationError::InvalidScope:
        return "invalid_scope";
    case AuthorizationError::LoginRequired:
        return "login_required";
    case AuthorizationError::RequestNotSupported:
        return "request_not_supported";
    case AuthorizationError::RequestUriNotSupported:
        return "request_uri_not_supported";
    case AuthorizationError::RegistrationNotSupported:
        return "registration_not_supported";
    case AuthorizationError::ServerError:
        return "server_error";
    case AuthorizationError::TemporarilyUnavailable:
        return "temporarily_unavailable";
    }
    return "server_error";
}

AuthorizationCheck CheckAuthorizationRequest(std::string_view parameters, const ClientLookup& lookup)
{
    const auto form = ParseForm(parameters);
    if (!form)
        return ErrorPage{"The request's parameters cannot be read."};
    auto target = RedirectTarget(*form, lookup);
    if (auto* page = std::get_if<ErrorPage>(&target))
        return std::move(*page);
    if (auto fault = FirstFault(*form, std::get<RegisteredClient>(target)))
        return ErrorRedirect{ValueOf(*form, "redirect_uri"), ValueOf(*form, "state"), fault->error,
                             std::move(fault->description)};
    return RequestOf(*form);
}

std::string RequestParameters(const AuthorizationRequest& request)
{
    Form form{{"response_type", "code"},
              {"client_id", request.clientId},
              {"redirect_uri", request.redirectUri},
              {"scope", request.scope}};
    const auto optional = [&](std::string_view name, const std::string& value) {
        if (!value.empty())
            form.push_back({std::string(name), value});
    };
    optional("state", request.state);
    optional("nonce", request.nonce);
    optional("code_challenge", request.codeChallenge);
    optional("code_challenge_method", request.codeChallenge.empty() ? "" : "S256");
    optional("prompt", request.promptNone ? "none" : request.promptLogin ? "login" : "");
    optional("max_age", request.maxAge ? std::to_string(*request.maxAge) : "");
    return FormText(form);
}

ErrorRedirect Refusal(const AuthorizationRequest& request, AuthorizationError error, std::string description)
{
    return {request.redirectUri, request.state, error, std::move(description)};
}

std::string CodeLocation(const AuthorizationRequest& request, std::string_view code, std::string_view issuer)
{
    return Location(request.redirectUri, {{"code", std::string(code)}}, request.state, issuer);
}

std::string ErrorLocation(const ErrorRedirect& refusal, std::string_view issuer)
{
    return Location(refusal.redirectUri,
                    {{"error", std::string(ErrorCode(refusal.error))},
                     {"error_description", ErrorDescription(refusal.description)}},
                    refusal.state, issuer);
}

SignInStep NextStep(const AuthorizationRequest& request, std::optional<int64_t> signedInAt, int64_t requestedAt,
                    int64_t now)
{
    const bool freshForThisRequest = signedInAt && *signedInAt >= requestedAt;
    const bool recentEnough = signedInAt && (!request.maxAge || now - *signedInAt <= *request.maxAge);
    const bool sessionWillDo = freshForThisRequest || (recentEnough && !request.promptLogin);
    if (sessionWillDo)
        return SignInStep::Continue;
    return request.promptNone ? SignInStep::Refuse : SignInStep::SignIn;
}
