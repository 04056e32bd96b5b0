#include "site/cgi/OidcProvider.h"

#include "site/cgi/LoginPage.h"
#include "site/oidc/Authorization.h"
#include "site/oidc/Discovery.h"
#include "site/oidc/JsonWriter.h"
#include "site/oidc/Jwt.h"
#include "site/oidc/Secrets.h"
#include "site/oidc/TokenEndpoint.h"
#include "site/oidc/Uri.h"
#include "site/oidc/Userinfo.h"
#include "site/report/Markup.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

namespace {

// How long a request waits for its browser to sign in, and how often the waiting page looks.
constexpr int64_t kSignInWaitSeconds = 10 * 60;
constexpr int kLookAgainSeconds = 3;
constexpr std::string_view kWaitingCookieName = "entravo_pending";
constexpr std::string_view kContinuePath = "/continue";
// What DrawSecret makes of kSecretBytes.
constexpr std::size_t kSecretLength = 43;

static_assert(kProviderKeepSeconds >= kAccessTokenLifetimeSeconds && kProviderKeepSeconds >= kIdTokenLifetimeSeconds,
              "the store must tell a code's second use while the tokens of its first live, and keep a retired key "
              "while its ID tokens do");

// A request that waits for its browser's sign-in: the hash of its cookie's value, and when it came.
struct Waiting {
    ProviderHash hash{};
    int64_t requestedAt = 0;
};

struct WaitingRequest {
    Waiting waiting;
    PendingAuthorization pending;
};

Response FromJson(JsonAnswer answer)
{
    Response response;
    response.status = answer.status;
    response.headers = std::move(answer.headers);
    response.body = std::move(answer.body);
    return response;
}

// No issuer, no provider: its paths are not there. A bad one is the operator's to mend.
std::optional<Response> Unconfigured(const Request& request)
{
    if (request.issuer.empty())
        return NotFound();
    if (const std::string problem = IssuerProblem(request.issuer); !problem.empty())
        return Unavailable(std::string(kIssuerSetting) + ": " + problem);
    return std::nullopt;
}

// --- the keys ----------------------------------------------------------------------------

struct Keys {
    SubjectKey subject{};
    std::optional<RsaKeyPair> signing;
    std::vector<RsaPublicKey> published; // the keys ID tokens that still live were signed with
};

[[noreturn]] void NoRandomBits()
{
    throw std::runtime_error("the operating system gave no random bits");
}

// The provider's first keys, made when it is first needed (entravo-site oidc init makes them too).
void StartProvider(SiteStore& store, int64_t now)
{
    const auto subject = DrawSubjectKey();
    const auto key = RsaKeyPair::Generate();
    if (!subject || !key)
        NoRandomBits();
    store.StartProvider(*subject, {key->Public().Kid(), key->Stored(), now, std::nullopt});
}

RsaKeyPair StoredPair(const ProviderKey& key)
{
    auto pair = RsaKeyPair::FromStored(key.stored);
    if (!pair || pair->Public().Kid() != key.kid)
        throw StoreError("the OpenID Connect signing key " + key.kid + " is damaged");
    return std::move(*pair);
}

Keys ReadKeys(SiteStore& store, int64_t now)
{
    ProviderKeys stored = store.ReadProviderKeys();
    if (!stored.subjectKey || stored.keys.empty() || stored.keys.front().retiredAt) {
        StartProvider(store, now);
        stored = store.ReadProviderKeys();
    }
    if (!stored.subjectKey || stored.keys.empty() || stored.keys.front().retiredAt)
        throw StoreError("the OpenID Connect keys were not kept");
    Keys keys{*stored.subjectKey, StoredPair(stored.keys.front()), {}};
    for (const ProviderKey& key : stored.keys) {
        if (key.retiredAt && *key.retiredAt < now - kIdTokenLifetimeSeconds)
            continue;
        if (auto published = RsaPublicKey::FromJwk(StoredPair(key).Public().Jwk()))
            keys.published.push_back(std::move(*published));
    }
    return keys;
}

// --- the authorization --------------------------------------------------------------------

ClientLookup LookupIn(SiteStore& store)
{
    return [&store](std::string_view id) -> std::optional<RegisteredClient> {
        auto client = store.FindProviderClient(id);
        if (!client)
            return std::nullopt;
        return RegisteredClient{std::move(client->id), std::move(client->redirectUris), client->secretHash};
    };
}

bool IsFormBody(std::string_view type)
{
    constexpr std::string_view kForm = "application/x-www-form-urlencoded";
    if (type.size() < kForm.size() || (type.size() > kForm.size() && type[kForm.size()] != ';'))
        return false;
    return std::equal(kForm.begin(), kForm.end(), type.begin(),
                      [](char a, char b) { return a == std::tolower(static_cast<unsigned char>(b)); });
}

Response Redirect(std::string location)
{
    Response response = HtmlPage(302, "On to the application", "Your browser goes on to the application.");
    response.headers.emplace_back("Location", std::move(location));
    return response;
}

Response RequestRefused(std::string_view problem)
{
    return HtmlPage(400, "Sign-in request refused",
                    std::string(problem) + " Go back to the application and ask its operator to check its settings.");
}

std::string WaitingCookie(std::string_view value, int64_t maxAge, bool secure)
{
    return std::string(kWaitingCookieName) + "=" + std::string(value) + "; Path=/; Max-Age=" + std::to_string(maxAge) +
           "; HttpOnly; SameSite=Lax" + (secure ? "; Secure" : "");
}

// The waiting cookies' values that can be one, each once: a sibling domain may set more.
std::vector<std::string> WaitingCookies(std::string_view cookies)
{
    std::vector<std::string> values;
    while (!cookies.empty()) {
        const std::size_t end = std::min(cookies.find(';'), cookies.size());
        std::string_view pair = cookies.substr(0, end);
        cookies.remove_prefix(std::min(end + 1, cookies.size()));
        pair.remove_prefix(std::min(pair.find_first_not_of(' '), pair.size()));
        const std::size_t equals = pair.find('=');
        if (equals == std::string_view::npos || pair.substr(0, equals) != kWaitingCookieName)
            continue;
        const std::string value(pair.substr(equals + 1));
        const bool wellFormed = value.size() == kSecretLength && std::all_of(value.begin(), value.end(), [](char c) {
                                    return std::isalnum(static_cast<unsigned char>(c)) || c == '-' || c == '_';
                                });
        if (wellFormed && std::find(values.begin(), values.end(), value) == values.end())
            values.push_back(value);
    }
    return values;
}

std::optional<WaitingRequest> WaitingRequestOf(const Request& request, SiteStore& store)
{
    for (const std::string& value : WaitingCookies(request.cookies)) {
        const ProviderHash hash = HashSecret(value);
        if (auto pending = store.FindPendingAuthorization(hash, request.now))
            return WaitingRequest{{hash, pending->requestedAt}, std::move(*pending)};
    }
    return std::nullopt;
}

// The other tab took the request on: this one has nothing left to wait for.
Response WentOnElsewhere(const Request& request)
{
    Response page = HtmlPage(200, "Signed in", "The sign-in went on in the other tab. You can close this one.");
    page.headers.emplace_back("Set-Cookie", WaitingCookie("", 0, request.secure));
    return page;
}

// Refreshed every few seconds without a script, at the issuer's address: the browser's own.
Response WaitingPage(const Request& request)
{
    const std::string next = request.issuer + std::string(kContinuePath);
    return HtmlPage(200, "Touch your token",
                    "Touch your token to the reader and double-click the Entravo icon. This page goes on by itself "
                    "once you are signed in.",
                    "<meta http-equiv=\"refresh\" content=\"" + std::to_string(kLookAgainSeconds) +
                        "; url=" + EscapeMarkup(next) + "\">");
}

Response AwaitSignIn(const Request& request, SiteStore& store, const AuthorizationRequest& authorization)
{
    const auto value = DrawSecret();
    if (!value)
        NoRandomBits();
    store.AwaitSignIn(HashSecret(*value), RequestParameters(authorization), request.now,
                      request.now + kSignInWaitSeconds);
    Response page = WaitingPage(request);
    page.headers.emplace_back("Set-Cookie", WaitingCookie(*value, kSignInWaitSeconds, request.secure));
    return page;
}

// A code for the session's sign-in, kept (for a waiting request, only by the first tab to come).
Response IssueCode(const Request& request, SiteStore& store, const AuthorizationRequest& authorization,
                   const SessionHolder& holder, const std::optional<Waiting>& waiting)
{
    const auto code = DrawSecret();
    if (!code)
        NoRandomBits();
    const ProviderCode record{HashSecret(*code),
                              authorization.clientId,
                              authorization.redirectUri,
                              authorization.codeChallenge,
                              authorization.nonce,
                              authorization.scope,
                              holder.identity,
                              holder.openedAt,
                              request.now + kCodeLifetimeSeconds};
    if (!store.IssueCode(record, waiting ? std::optional(waiting->hash) : std::nullopt, request.now))
        return WentOnElsewhere(request);
    return Redirect(CodeLocation(authorization, *code, request.issuer));
}

// The answer to a request as checked; nothing while it must wait for a sign-in.
std::optional<Response> Proceed(const Request& request, SiteStore& store, const AuthorizationCheck& check,
                                const std::optional<Waiting>& waiting)
{
    if (const auto* page = std::get_if<ErrorPage>(&check))
        return RequestRefused(page->problem);
    if (const auto* refusal = std::get_if<ErrorRedirect>(&check))
        return Redirect(ErrorLocation(*refusal, request.issuer));
    const auto& authorization = std::get<AuthorizationRequest>(check);
    const auto signedIn = SessionOf(request, store);
    const auto signedInAt = signedIn ? std::optional(signedIn->holder.openedAt) : std::nullopt;
    switch (NextStep(authorization, signedInAt, waiting ? waiting->requestedAt : request.now, request.now)) {
    case SignInStep::Continue:
        return IssueCode(request, store, authorization, signedIn->holder, waiting);
    case SignInStep::Refuse:
        return Redirect(ErrorLocation(
            Refusal(authorization, AuthorizationError::LoginRequired, "the visitor is not signed in"), request.issuer));
    case SignInStep::SignIn:
        break;
    }
    return std::nullopt;
}

// --- the application's server ----------------------------------------------------------------

// The one place where a sign-in through the provider happens: a code redeemed for the
// application's tokens, the account signed in to the client. The store recorded it with the
// redemption; the web server's log gets its line here, as for the page's and the API's.
std::string OidcSignInLine(const ProviderCode& code, const std::string& account)
{
    StringCheck check;
    check.account = account;
    check.identity = code.identity;
    return SignInLine(check, ProviderSignInOrigin(code.clientId), SignInPath::Oidc);
}

struct Redeemed {
    CodeRedemption redemption;
    std::optional<TokenError> fault; // why a first use was refused
    std::string accessToken;
};

Redeemed Redeem(const Request& request, SiteStore& store, const TokenRequest& asked, const std::string& clientId)
{
    Redeemed redeemed;
    redeemed.redemption = store.RedeemCode(HashSecret(asked.code), request.now, [&](const ProviderCode& code) {
        const IssuedCode issued{code.clientId, code.redirectUri, code.challenge, code.expiresAt};
        redeemed.fault = RedemptionFault(issued, asked, clientId, request.now);
        if (redeemed.fault)
            return std::optional<ProviderAccessToken>();
        const auto token = DrawSecret();
        if (!token)
            NoRandomBits();
        redeemed.accessToken = *token;
        return std::optional(ProviderAccessToken{HashSecret(*token), request.now + kAccessTokenLifetimeSeconds});
    });
    return redeemed;
}

Response IdTokenAnswer(const Request& request, const Keys& keys, const Redeemed& redeemed)
{
    const ProviderCode& code = redeemed.redemption.code;
    const std::string& account = redeemed.redemption.account;
    const IdTokenClaims claims{request.issuer,
                               SubjectOf(keys.subject, account),
                               code.clientId,
                               request.now,
                               request.now + kIdTokenLifetimeSeconds,
                               code.authTime,
                               code.nonce,
                               account};
    const auto idToken = SignJwt(*keys.signing, IdTokenJson(claims));
    if (!idToken)
        throw std::runtime_error("the ID token could not be signed");
    Response answer = FromJson(TokenAnswer(redeemed.accessToken, *idToken, code.scope));
    answer.log = OidcSignInLine(code, account);
    return answer;
}

Response TokenRefused(TokenErrorCode code, std::string description)
{
    return FromJson(TokenRefusal({code, std::move(description)}));
}

} // namespace

Response ProviderDiscovery(Exchange& exchange, SiteStore&)
{
    if (auto off = Unconfigured(exchange.request))
        return std::move(*off);
    return FromJson(PublicAnswer(DiscoveryDocument(exchange.request.issuer)));
}

Response ProviderJwks(Exchange& exchange, SiteStore& store)
{
    if (auto off = Unconfigured(exchange.request))
        return std::move(*off);
    const Keys keys = ReadKeys(store, exchange.request.now);
    return FromJson(PublicAnswer(JwksDocument(keys.published)));
}

Response ProviderAuthorize(Exchange& exchange, SiteStore& store)
{
    const Request& request = exchange.request;
    if (auto off = Unconfigured(request))
        return std::move(*off);
    const bool posted = request.method == "POST";
    if (posted && !IsFormBody(request.contentType))
        return RequestRefused("The request's parameters are not a form.");
    const AuthorizationCheck check = CheckAuthorizationRequest(posted ? request.body : request.query, LookupIn(store));
    if (auto answer = Proceed(request, store, check, std::nullopt))
        return std::move(*answer);
    return AwaitSignIn(request, store, std::get<AuthorizationRequest>(check));
}

Response ProviderContinue(Exchange& exchange, SiteStore& store)
{
    const Request& request = exchange.request;
    if (auto off = Unconfigured(request))
        return std::move(*off);
    const auto found = WaitingRequestOf(request, store);
    if (!found)
        return HtmlPage(400, "No sign-in waiting",
                        "This browser has no sign-in waiting, or it waited too long. Go back to the application and "
                        "sign in again.");
    if (found->pending.continued)
        return WentOnElsewhere(request);
    const auto check = CheckAuthorizationRequest(found->pending.request, LookupIn(store));
    if (auto answer = Proceed(request, store, check, found->waiting))
        return std::move(*answer);
    return WaitingPage(request);
}

Response ContinueWaitingSignIn(Exchange& exchange, SiteStore& store, const SessionHolder&, Response welcome)
{
    const Request& request = exchange.request;
    if (Unconfigured(request) || WaitingCookies(request.cookies).empty())
        return welcome;
    const auto found = WaitingRequestOf(request, store);
    if (!found)
        return welcome;
    if (found->pending.continued) {
        AppendToBody(welcome, "<p>The sign-in to the application went on in the other tab.</p>");
        welcome.headers.emplace_back("Set-Cookie", WaitingCookie("", 0, request.secure));
        return welcome;
    }
    const auto check = CheckAuthorizationRequest(found->pending.request, LookupIn(store));
    auto answer = Proceed(request, store, check, found->waiting);
    return answer ? std::move(*answer) : std::move(welcome);
}

Response ProviderToken(Exchange& exchange, SiteStore& store)
{
    const Request& request = exchange.request;
    if (auto off = Unconfigured(request))
        return std::move(*off);
    if (!IsFormBody(request.contentType))
        return TokenRefused(TokenErrorCode::InvalidRequest, "the body must be application/x-www-form-urlencoded");
    const auto body = ParseForm(request.body);
    if (!body)
        return TokenRefused(TokenErrorCode::InvalidRequest, "the body cannot be read");
    const auto credentials = ReadClientCredentials(request.authorization, *body);
    if (const auto* error = std::get_if<TokenError>(&credentials))
        return FromJson(TokenRefusal(*error));
    const auto& client = std::get<ClientCredentials>(credentials);
    if (const auto fault = ClientFault(client, LookupIn(store)(client.id)))
        return FromJson(TokenRefusal(*fault));
    const auto asked = ReadTokenRequest(*body);
    if (const auto* error = std::get_if<TokenError>(&asked))
        return FromJson(TokenRefusal(*error));
    // The keys first: a key that cannot be read must not use the code up.
    const Keys keys = ReadKeys(store, request.now);
    const Redeemed redeemed = Redeem(request, store, std::get<TokenRequest>(asked), client.id);
    switch (redeemed.redemption.use) {
    case CodeUse::Redeemed:
        return IdTokenAnswer(request, keys, redeemed);
    case CodeUse::Refused:
        return FromJson(TokenRefusal(*redeemed.fault));
    case CodeUse::Reused: {
        Response refused = TokenRefused(TokenErrorCode::InvalidGrant, "the code was used before");
        refused.log = "client " + client.id +
                      " brought a code a second time: the access token of its first use is "
                      "revoked";
        return refused;
    }
    case CodeUse::Unknown:
        break;
    }
    return TokenRefused(TokenErrorCode::InvalidGrant, "the code is unknown, has expired or was revoked");
}

Response ProviderUserinfo(Exchange& exchange, SiteStore& store)
{
    const Request& request = exchange.request;
    if (auto off = Unconfigured(request))
        return std::move(*off);
    if (request.authorization.empty())
        return FromJson(UserinfoRefusal(BearerRefusal::NoToken));
    const auto token = BearerToken(request.authorization);
    const auto holder = token ? store.FindAccessToken(HashSecret(*token), request.now) : std::nullopt;
    if (!holder)
        return FromJson(UserinfoRefusal(BearerRefusal::InvalidToken));
    const auto subjectKey = store.ReadProviderKeys().subjectKey;
    if (!subjectKey)
        throw StoreError("the OpenID Connect subject key is missing");
    return FromJson(UserinfoAnswer(SubjectOf(*subjectKey, holder->account), holder->account));
}

Response ProviderFailed(const Exchange&, const StoreError& error)
{
    JsonAnswer answer = PrivateAnswer(error.temporary() ? 503 : 500,
                                      JsonObject()
                                          .String("error", "server_error")
                                          .String("error_description", "the site's records cannot be reached")
                                          .Text());
    if (error.temporary())
        answer.headers.emplace_back("Retry-After", std::to_string(kRetryAfterSeconds));
    return FromJson(std::move(answer));
}

std::string IssuerSettingProblem(const Settings& settings)
{
    const std::string& issuer = settings.Text(kIssuerSetting);
    const std::string problem = issuer.empty() ? "" : IssuerProblem(issuer);
    return problem.empty() ? ""
                           : std::string(kIssuerSetting) + " (" + settings.Origin(kIssuerSetting) + "): " + problem;
}
