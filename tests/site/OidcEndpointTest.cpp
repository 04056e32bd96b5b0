#include "site/oidc/Authorization.h"
#include "site/oidc/Discovery.h"
#include "site/oidc/Pkce.h"
#include "site/oidc/TokenEndpoint.h"
#include "site/oidc/Userinfo.h"
#include "site/verifier/Signature.h"

#include <gtest/gtest.h>

namespace {

constexpr char kIssuer[] = "https://logon.example.com/entravo/login.cgi";
constexpr char kVerifier[] = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
constexpr char kChallenge[] = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";

std::optional<RegisteredClient> Lookup(std::string_view id)
{
    if (id == "app")
        return RegisteredClient{"app", {"https://app.example/cb", "https://app.example/cb?tenant=1"}, HashSecret("s3")};
    if (id == "pub")
        return RegisteredClient{"pub", {"http://127.0.0.1:9000/cb"}, std::nullopt};
    return std::nullopt;
}

constexpr char kGood[] =
    "response_type=code&client_id=app&redirect_uri=https%3A%2F%2Fapp.example%2Fcb&scope=openid+profile"
    "&state=st%26a&nonce=n-1";

AuthorizationCheck Check(const std::string& query)
{
    return CheckAuthorizationRequest(query, Lookup);
}

ErrorRedirect Redirected(const std::string& query)
{
    const auto check = Check(query);
    EXPECT_TRUE(std::holds_alternative<ErrorRedirect>(check)) << query;
    return std::holds_alternative<ErrorRedirect>(check) ? std::get<ErrorRedirect>(check) : ErrorRedirect{};
}

AuthorizationRequest At(int64_t maxAge = -1, bool none = false, bool login = false)
{
    AuthorizationRequest request;
    if (maxAge >= 0)
        request.maxAge = maxAge;
    request.promptNone = none;
    request.promptLogin = login;
    return request;
}

std::string Header(const JsonAnswer& answer, std::string_view name)
{
    for (const auto& [field, value] : answer.headers) {
        if (field == name)
            return value;
    }
    return "";
}

ClientCredentials Credentials(std::string_view authorization, std::string_view body)
{
    const auto read = ReadClientCredentials(authorization, *ParseForm(body));
    EXPECT_TRUE(std::holds_alternative<ClientCredentials>(read)) << authorization << " " << body;
    return std::holds_alternative<ClientCredentials>(read) ? std::get<ClientCredentials>(read) : ClientCredentials{};
}

TokenErrorCode CredentialsRefusal(std::string_view authorization, std::string_view body)
{
    const auto read = ReadClientCredentials(authorization, *ParseForm(body));
    EXPECT_TRUE(std::holds_alternative<TokenError>(read)) << authorization << " " << body;
    return std::holds_alternative<TokenError>(read) ? std::get<TokenError>(read).code : TokenErrorCode{};
}

std::string Basic(std::string_view pair)
{
    return "Basic " + Base64(std::span(reinterpret_cast<const uint8_t*>(pair.data()), pair.size()));
}

} // namespace

TEST(OidcAuthorization, AGoodRequestIsReadWhole)
{
    const auto check = Check(std::string(kGood) + "&code_challenge=" + kChallenge +
                             "&code_challenge_method=S256&prompt=login&max_age=300");
    ASSERT_TRUE(std::holds_alternative<AuthorizationRequest>(check));
    const auto& request = std::get<AuthorizationRequest>(check);
    EXPECT_EQ("app", request.clientId);
    EXPECT_EQ("https://app.example/cb", request.redirectUri);
    EXPECT_EQ("openid profile", request.scope);
    EXPECT_EQ("st&a", request.state);
    EXPECT_EQ("n-1", request.nonce);
    EXPECT_EQ(kChallenge, request.codeChallenge);
    EXPECT_TRUE(request.promptLogin);
    EXPECT_FALSE(request.promptNone);
    EXPECT_EQ(300, request.maxAge);
    // A confidential client may leave PKCE out; a parameter without a value counts as absent.
    const auto plain = Check(std::string(kGood) + "&code_challenge=&code_challenge_method=&prompt=");
    ASSERT_TRUE(std::holds_alternative<AuthorizationRequest>(plain));
    EXPECT_EQ("", std::get<AuthorizationRequest>(plain).codeChallenge);
    // Scopes it does not know are not granted.
    const auto unknown =
        Check("response_type=code&client_id=app&redirect_uri=https%3A%2F%2Fapp.example%2Fcb&scope=email+openid");
    ASSERT_TRUE(std::holds_alternative<AuthorizationRequest>(unknown));
    EXPECT_EQ("openid", std::get<AuthorizationRequest>(unknown).scope);
    EXPECT_FALSE(std::get<AuthorizationRequest>(plain).maxAge);
}

// A request that waits for its sign-in is kept as parameters and read again when it goes on.
TEST(OidcAuthorization, AKeptRequestReadsBackAsTheSameRequest)
{
    for (const std::string& query :
         {std::string(kGood) + "&code_challenge=" + kChallenge + "&code_challenge_method=S256&prompt=login&max_age=0",
          std::string("response_type=code&client_id=pub&redirect_uri=http%3A%2F%2F127.0.0.1%3A9000%2Fcb&scope=openid") +
              "&code_challenge=" + kChallenge + "&code_challenge_method=S256&state=%E2%9C%93+%26=%25"}) {
        const auto first = Check(query);
        ASSERT_TRUE(std::holds_alternative<AuthorizationRequest>(first)) << query;
        const auto& request = std::get<AuthorizationRequest>(first);
        const auto again = Check(RequestParameters(request));
        ASSERT_TRUE(std::holds_alternative<AuthorizationRequest>(again)) << RequestParameters(request);
        const auto& kept = std::get<AuthorizationRequest>(again);
        EXPECT_EQ(std::tie(request.clientId, request.redirectUri, request.scope, request.state, request.nonce,
                           request.codeChallenge, request.promptNone, request.promptLogin, request.maxAge),
                  std::tie(kept.clientId, kept.redirectUri, kept.scope, kept.state, kept.nonce, kept.codeChallenge,
                           kept.promptNone, kept.promptLogin, kept.maxAge));
    }
}

TEST(OidcAuthorization, AnUnknownClientOrAnyOtherRedirectUriGetsAPageNeverARedirect)
{
    const std::string scope = "response_type=code&scope=openid&state=s";
    for (const std::string& query : {
             scope + "&client_id=app&redirect_uri=https%3A%2F%2Fapp.example%2Fcb%zz",
             scope + "&redirect_uri=https%3A%2F%2Fapp.example%2Fcb",
             scope + "&client_id=nobody&redirect_uri=https%3A%2F%2Fapp.example%2Fcb",
             scope + "&client_id=app",
             scope + "&client_id=app&redirect_uri=https%3A%2F%2Fapp.example%2Fcb%2F",
             scope + "&client_id=app&redirect_uri=https%3A%2F%2FAPP.example%2Fcb",
             scope + "&client_id=app&redirect_uri=https%3A%2F%2Fapp.example%2Fcb%2Fevil",
             scope + "&client_id=app&redirect_uri=https%3A%2F%2Fapp.example%2Fcb%3Ftenant%3D2",
             scope + "&client_id=pub&redirect_uri=https%3A%2F%2Fapp.example%2Fcb",
             scope + "&client_id=app&client_id=pub&redirect_uri=https%3A%2F%2Fapp.example%2Fcb",
             scope + "&client_id=app&redirect_uri=https%3A%2F%2Fapp.example%2Fcb&redirect_uri=https%3A%2F%2Fx",
         }) {
        const auto check = Check(query);
        ASSERT_TRUE(std::holds_alternative<ErrorPage>(check)) << query;
        EXPECT_NE("", std::get<ErrorPage>(check).problem);
    }
    // Percent-encoding that decodes to the registered bytes is the registered URI.
    EXPECT_TRUE(std::holds_alternative<AuthorizationRequest>(
        Check("response_type=code&scope=openid&client_id=app&redirect_uri=https://app.example/c%62")));
}

TEST(OidcAuthorization, OtherFaultsGoBackToTheRedirectUriWithTheState)
{
    const std::string base = "client_id=app&redirect_uri=https%3A%2F%2Fapp.example%2Fcb%3Ftenant%3D1&state=s1";
    const std::string code = base + "&response_type=code&scope=openid";
    const std::string pub = "client_id=pub&redirect_uri=http%3A%2F%2F127.0.0.1%3A9000%2Fcb&state=s1&response_type=code"
                            "&scope=openid";
    const std::string challenge = std::string("&code_challenge=") + kChallenge;
    const std::pair<std::string, AuthorizationError> cases[] = {
        {base + "&scope=openid", AuthorizationError::InvalidRequest},
        {base + "&scope=openid&response_type=token", AuthorizationError::UnsupportedResponseType},
        {base + "&scope=openid&response_type=code+id_token", AuthorizationError::UnsupportedResponseType},
        {base + "&response_type=code", AuthorizationError::InvalidScope},
        {base + "&response_type=code&scope=profile+openidx", AuthorizationError::InvalidScope},
        {code + "&response_mode=form_post", AuthorizationError::InvalidRequest},
        {code + "&nonce=a&nonce=b", AuthorizationError::InvalidRequest},
        {code + "&request=eyJ", AuthorizationError::RequestNotSupported},
        {code + "&request_uri=https%3A%2F%2Fx", AuthorizationError::RequestUriNotSupported},
        {code + "&registration=%7B%7D", AuthorizationError::RegistrationNotSupported},
        {pub, AuthorizationError::InvalidRequest},
        {pub + challenge, AuthorizationError::InvalidRequest},
        {pub + challenge + "&code_challenge_method=plain", AuthorizationError::InvalidRequest},
        {pub + "&code_challenge_method=S256", AuthorizationError::InvalidRequest},
        {pub + "&code_challenge_method=S256&code_challenge=" + std::string(43, 'a'),
         AuthorizationError::InvalidRequest},
        {code + "&prompt=none+login", AuthorizationError::InvalidRequest},
        {code + "&max_age=-1", AuthorizationError::InvalidRequest},
        {code + "&max_age=1e3", AuthorizationError::InvalidRequest},
        {code + "&max_age=12345678901", AuthorizationError::InvalidRequest},
    };
    for (const auto& [query, error] : cases) {
        const ErrorRedirect refusal = Redirected(query);
        EXPECT_EQ(ErrorCode(error), ErrorCode(refusal.error)) << query;
        EXPECT_EQ("s1", refusal.state) << query;
        EXPECT_NE("", refusal.description) << query;
    }
    EXPECT_TRUE(std::holds_alternative<AuthorizationRequest>(Check(pub + challenge + "&code_challenge_method=S256")));
}

TEST(OidcAuthorization, TheAnswersLocationKeepsTheRegisteredQuery)
{
    const ErrorRedirect refusal =
        Redirected("client_id=app&redirect_uri=https%3A%2F%2Fapp.example%2Fcb%3Ftenant%3D1&state=a+b&response_type=code"
                   "&scope=openid&%22x%C3%A9=1&%22x%C3%A9=2");
    EXPECT_EQ("https://app.example/cb?tenant=1&error=invalid_request"
              "&error_description=the%20parameter%20%3Fx%3F%3F%20is%20given%20more%20than%20once&state=a%20b"
              "&iss=https%3A%2F%2Flogon.example.com%2Fentravo%2Flogin.cgi",
              ErrorLocation(refusal, kIssuer));
    const auto request = std::get<AuthorizationRequest>(Check(kGood));
    EXPECT_EQ("https://app.example/cb?code=c-1&state=st%26a&iss=https%3A%2F%2Flogon.example.com%2Fentravo%2Flogin.cgi",
              CodeLocation(request, "c-1", kIssuer));
    AuthorizationRequest stateless = request;
    stateless.state.clear();
    EXPECT_EQ("https://app.example/cb?error=login_required&error_description=sign%20in%20first"
              "&iss=https%3A%2F%2Flogon.example.com%2Fentravo%2Flogin.cgi",
              ErrorLocation(Refusal(stateless, AuthorizationError::LoginRequired, "sign in first"), kIssuer));
}

TEST(OidcAuthorization, ASessionWillDoUnlessPromptOrMaxAgeAskForANewSignIn)
{
    const int64_t requested = 1000;
    EXPECT_EQ(SignInStep::SignIn, NextStep(At(), std::nullopt, requested, requested));
    EXPECT_EQ(SignInStep::Refuse, NextStep(At(-1, true), std::nullopt, requested, requested));
    EXPECT_EQ(SignInStep::Continue, NextStep(At(), 10, requested, requested));
    EXPECT_EQ(SignInStep::Continue, NextStep(At(-1, true), 10, requested, requested));
    // prompt=login: only a sign-in since the request.
    EXPECT_EQ(SignInStep::SignIn, NextStep(At(-1, false, true), 999, requested, requested));
    EXPECT_EQ(SignInStep::Continue, NextStep(At(-1, false, true), 1000, requested, 1005));
    // max_age: a sign-in that old or younger, or one made for this request however long ago.
    EXPECT_EQ(SignInStep::Continue, NextStep(At(60), 940, requested, requested));
    EXPECT_EQ(SignInStep::SignIn, NextStep(At(60), 939, requested, requested));
    EXPECT_EQ(SignInStep::Refuse, NextStep(At(60, true), 939, requested, requested));
    EXPECT_EQ(SignInStep::Continue, NextStep(At(0), 1001, requested, 1090));
}

TEST(OidcTokenEndpoint, ClientsAuthenticateOneWayEach)
{
    // Basic: each part form-urlencoded before base64, so a secret may hold ':' and '%'.
    const ClientCredentials basic = Credentials(Basic("my%20app:a%3Ab+c%25"), "");
    EXPECT_EQ(ClientMethod::Basic, basic.method);
    EXPECT_EQ("my app", basic.id);
    EXPECT_EQ("a:b c%", basic.secret);
    EXPECT_EQ("app", Credentials("bAsIc  " + Basic("app:s3").substr(6), "client_id=app").id);
    const ClientCredentials post = Credentials("", "client_id=app&client_secret=s3");
    EXPECT_EQ(ClientMethod::Post, post.method);
    EXPECT_EQ("s3", post.secret);
    EXPECT_EQ(ClientMethod::None, Credentials("", "client_id=pub").method);

    EXPECT_EQ(TokenErrorCode::InvalidRequest, CredentialsRefusal(Basic("app:s3"), "client_secret=s3"));
    EXPECT_EQ(TokenErrorCode::InvalidRequest, CredentialsRefusal(Basic("app:s3"), "client_id=pub"));
    EXPECT_EQ(TokenErrorCode::InvalidRequest, CredentialsRefusal("", "client_id=app&client_id=pub"));
    for (const std::string& header : {std::string("Bearer abc"), std::string("Basic"), Basic("app"), Basic(":s3"),
                                      Basic("app:s%zz"), std::string("Basic YXBwOnMz=")})
        EXPECT_EQ(TokenErrorCode::InvalidClient, CredentialsRefusal(header, "")) << header;
    EXPECT_EQ(TokenErrorCode::InvalidClient, CredentialsRefusal("", "client_secret=s3"));
}

TEST(OidcTokenEndpoint, OnlyTheRightSecretOrAPublicClientWithoutOnePasses)
{
    const auto app = Lookup("app");
    const auto pub = Lookup("pub");
    EXPECT_FALSE(ClientFault({ClientMethod::Basic, "app", "s3"}, app));
    EXPECT_FALSE(ClientFault({ClientMethod::Post, "app", "s3"}, app));
    EXPECT_FALSE(ClientFault({ClientMethod::None, "pub", ""}, pub));
    for (const auto& [credentials, client] :
         {std::pair{ClientCredentials{ClientMethod::Basic, "app", "s4"}, app},
          {ClientCredentials{ClientMethod::Post, "app", ""}, app},
          {ClientCredentials{ClientMethod::None, "app", ""}, app},
          {ClientCredentials{ClientMethod::Post, "pub", "x"}, pub},
          {ClientCredentials{ClientMethod::None, "nobody", ""}, Lookup("nobody")}}) {
        const auto fault = ClientFault(credentials, client);
        ASSERT_TRUE(fault) << credentials.id << " " << credentials.secret;
        EXPECT_EQ(TokenErrorCode::InvalidClient, fault->code);
    }
}

TEST(OidcTokenEndpoint, OnlyTheAuthorizationCodeGrantIsRead)
{
    const auto read = ReadTokenRequest(
        *ParseForm("grant_type=authorization_code&code=c1&redirect_uri=https%3A%2F%2Fapp.example%2Fcb&code_verifier=" +
                   std::string(kVerifier)));
    ASSERT_TRUE(std::holds_alternative<TokenRequest>(read));
    EXPECT_EQ("c1", std::get<TokenRequest>(read).code);
    EXPECT_EQ("https://app.example/cb", std::get<TokenRequest>(read).redirectUri);
    EXPECT_EQ(kVerifier, std::get<TokenRequest>(read).codeVerifier);
    const std::string rest = "&code=c1&redirect_uri=https%3A%2F%2Fapp.example%2Fcb";
    const std::pair<std::string, TokenErrorCode> cases[] = {
        {rest.substr(1), TokenErrorCode::InvalidRequest},
        {"grant_type=refresh_token" + rest, TokenErrorCode::UnsupportedGrantType},
        {"grant_type=authorization_code&redirect_uri=x", TokenErrorCode::InvalidRequest},
        {"grant_type=authorization_code&code=c1", TokenErrorCode::InvalidRequest},
        {"grant_type=authorization_code&code_verifier=short" + rest, TokenErrorCode::InvalidRequest},
        {"grant_type=authorization_code&code=c2" + rest, TokenErrorCode::InvalidRequest},
    };
    for (const auto& [body, code] : cases) {
        const auto refused = ReadTokenRequest(*ParseForm(body));
        ASSERT_TRUE(std::holds_alternative<TokenError>(refused)) << body;
        EXPECT_EQ(ErrorCode(code), ErrorCode(std::get<TokenError>(refused).code)) << body;
    }
}

TEST(OidcTokenEndpoint, ACodeGoesOnlyToItsClientAndRedirectUriInTimeWithItsVerifier)
{
    const IssuedCode issued{"pub", "http://127.0.0.1:9000/cb", kChallenge, 1060};
    const TokenRequest good{"c", "http://127.0.0.1:9000/cb", kVerifier};
    EXPECT_FALSE(RedemptionFault(issued, good, "pub", 1059));
    const IssuedCode withoutChallenge{"app", "https://app.example/cb", "", 1060};
    EXPECT_FALSE(RedemptionFault(withoutChallenge, {"c", "https://app.example/cb", ""}, "app", 1000));
    const std::tuple<IssuedCode, TokenRequest, std::string, int64_t> refused[] = {
        {issued, good, "app", 1000},
        {issued, good, "pub", 1060},
        {issued, {"c", "http://127.0.0.1:9000/cb/", kVerifier}, "pub", 1000},
        {issued, {"c", "http://127.0.0.1:9000/cb", ""}, "pub", 1000},
        {issued, {"c", "http://127.0.0.1:9000/cb", std::string(kVerifier, 42) + "x"}, "pub", 1000},
        {withoutChallenge, {"c", "https://app.example/cb", kVerifier}, "app", 1000},
    };
    for (const auto& [code, request, client, now] : refused) {
        const auto fault = RedemptionFault(code, request, client, now);
        ASSERT_TRUE(fault) << client << " " << now << " " << request.redirectUri << " " << request.codeVerifier;
        EXPECT_EQ(TokenErrorCode::InvalidGrant, fault->code);
    }
}

TEST(OidcTokenEndpoint, AnswersAreNeverCachedAndInvalidClientAsksForBasic)
{
    const JsonAnswer answer = TokenAnswer("at-1", "a.b.c", "openid");
    EXPECT_EQ(200, answer.status);
    EXPECT_EQ(R"({"access_token":"at-1","token_type":"Bearer","expires_in":600,"id_token":"a.b.c","scope":"openid"})",
              answer.body);
    for (const JsonAnswer& any : {answer, TokenRefusal({TokenErrorCode::InvalidGrant, "x"})}) {
        EXPECT_EQ("no-store", Header(any, "Cache-Control"));
        EXPECT_EQ("no-cache", Header(any, "Pragma"));
        EXPECT_EQ("application/json;charset=UTF-8", Header(any, "Content-Type"));
    }
    const JsonAnswer grant = TokenRefusal({TokenErrorCode::InvalidGrant, "the code has expired"});
    EXPECT_EQ(400, grant.status);
    EXPECT_EQ(R"({"error":"invalid_grant","error_description":"the code has expired"})", grant.body);
    EXPECT_EQ("", Header(grant, "WWW-Authenticate"));
    const JsonAnswer client = TokenRefusal({TokenErrorCode::InvalidClient, "wrong \"secret\""});
    EXPECT_EQ(401, client.status);
    EXPECT_TRUE(Header(client, "WWW-Authenticate").starts_with("Basic realm="));
    EXPECT_EQ(R"({"error":"invalid_client","error_description":"wrong ?secret?"})", client.body);
}

TEST(OidcUserinfo, ABearerTokenIsReadFromTheAuthorizationHeaderOnly)
{
    EXPECT_EQ("abc.DEF-_~+/==", BearerToken("Bearer abc.DEF-_~+/=="));
    EXPECT_EQ("x", BearerToken("bearer x"));
    for (const char* header :
         {"", "Bearer", "Bearer ", "Basic eA==", "Bearer a b", "Bearer =abc", "Bearer a=b", "Bearerx"})
        EXPECT_FALSE(BearerToken(header)) << header;
    const JsonAnswer answer = UserinfoAnswer("sub-1", "Zoë");
    EXPECT_EQ(R"({"sub":"sub-1","name":"Zoë","preferred_username":"Zoë"})", answer.body);
    EXPECT_EQ("no-store", Header(answer, "Cache-Control"));
    const JsonAnswer none = UserinfoRefusal(BearerRefusal::NoToken);
    EXPECT_EQ(401, none.status);
    EXPECT_EQ("Bearer realm=\"userinfo\"", Header(none, "WWW-Authenticate"));
    const JsonAnswer invalid = UserinfoRefusal(BearerRefusal::InvalidToken);
    EXPECT_EQ(401, invalid.status);
    EXPECT_NE(std::string::npos, Header(invalid, "WWW-Authenticate").find("error=\"invalid_token\""));
}

TEST(OidcDiscovery, EveryAddressIsTheIssuerFollowedByAPath)
{
    const std::string document = DiscoveryDocument(kIssuer);
    for (const std::string& member : {
             std::string(R"("issuer":"https://logon.example.com/entravo/login.cgi")"),
             std::string(R"("authorization_endpoint":"https://logon.example.com/entravo/login.cgi/authorize")"),
             std::string(R"("token_endpoint":"https://logon.example.com/entravo/login.cgi/token")"),
             std::string(R"("userinfo_endpoint":"https://logon.example.com/entravo/login.cgi/userinfo")"),
             std::string(R"("jwks_uri":"https://logon.example.com/entravo/login.cgi/jwks")"),
             std::string(R"("response_types_supported":["code"])"),
             std::string(R"("subject_types_supported":["public"])"),
             std::string(R"("id_token_signing_alg_values_supported":["RS256"])"),
             std::string(R"("code_challenge_methods_supported":["S256"])"),
             std::string(R"("request_uri_parameter_supported":false)"),
         })
        EXPECT_NE(std::string::npos, document.find(member)) << member;
    const JsonAnswer answer = PublicAnswer(document);
    EXPECT_EQ("application/json;charset=UTF-8", Header(answer, "Content-Type"));
}
