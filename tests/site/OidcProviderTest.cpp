// The login page as an OpenID Connect provider, through Respond with a SQLite store of its own:
// the issuer from the settings only, keys made at first need, a live session answered at once,
// a browser without one kept waiting and continued by exactly one of its two tabs, prompt and
// max_age, and what the endpoints read. The refusals a relying party meets (a reused code, a
// wrong secret or verifier, an unregistered redirect, an expired code, a revoked token, an old
// key) are the whole-request test's (oidc_provider_test.py), through a real web server.
#include "site/cgi/Respond.h"

#include "site/oidc/Form.h"
#include "site/oidc/Jwt.h"
#include "site/oidc/Pkce.h"
#include "site/oidc/Secrets.h"
#include "site/store/SqliteSiteStore.h"

#include "ResponseHeader.h"
#include "TempFolder.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace {

const RomBytes kAlice = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const std::string kGenuine = "FB32A14FEE34FDAD64471BDC71115D5D7FC2D766830A69C3B114B065A97E0201"; // kAlice
const SessionToken kToken = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
const std::string kSession = "entravo_session=DEADBEEF0102030405060708090A0B0C";
constexpr char kIssuer[] = "https://logon.example.com/entravo/login.fcgi";
constexpr char kRedirect[] = "https://app.example/cb";
constexpr char kVerifier[] = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
constexpr int64_t kNow = 1'800'000'000;

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

// One key for every test: making one takes a while.
const RsaKeyPair& TestKey()
{
    static const RsaKeyPair key = *RsaKeyPair::Generate();
    return key;
}

// A parameter of a redirect's query, decoded.
std::string Parameter(const std::string& location, const std::string& name)
{
    const auto form = ParseForm(location.substr(location.find('?') + 1));
    return form ? ValueOf(*form, name) : "(unreadable)";
}

std::string CookieOf(const Response& response)
{
    const std::string header = Header(response, "Set-Cookie");
    return header.substr(0, header.find(';'));
}

class OidcProviderTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        SqliteSiteStore::Initialise(m_path);
        m_store = std::make_unique<SqliteSiteStore>(SqliteSiteStore::Open(m_path));
        m_store->Enroll(kAlice, "alice", 1);
        m_store->AddProviderClient({"app", "wiki", {kRedirect}, HashSecret("s3cret"), 1});
        m_store->AddProviderClient({"pub", "board", {"http://127.0.0.1:9000/cb"}, std::nullopt, 1});
        m_store->StartProvider(SubjectKey{7}, {TestKey().Public().Kid(), TestKey().Stored(), 1, std::nullopt});
    }

    Request At(std::string method, std::string path, std::string query = "", std::string cookies = "")
    {
        Request request;
        request.method = std::move(method);
        request.pathInfo = std::move(path);
        request.query = std::move(query);
        request.cookies = std::move(cookies);
        request.clientAddress = "192.0.2.7";
        request.scriptPath = "/entravo/login.fcgi";
        request.issuer = kIssuer;
        request.now = kNow;
        request.newSession = kToken;
        return request;
    }

    Response Answer(const Request& request) { return Respond(request, *m_store); }

    // The welcome page after the agent's sign-in, in a tab of a browser that holds cookies.
    Response SignIn(const std::string& cookies = "")
    {
        const Response accepted = Answer(At("GET", "", "Authenticate=" + kGenuine, cookies));
        EXPECT_EQ(303, accepted.status);
        return Answer(At("GET", "", "", JoinCookies(cookies, kSession)));
    }

    static std::string JoinCookies(const std::string& a, const std::string& b) { return a.empty() ? b : a + "; " + b; }

    static std::string Authorization(const std::string& extra = "")
    {
        return "response_type=code&client_id=app&redirect_uri=https%3A%2F%2Fapp.example%2Fcb&scope=openid+profile"
               "&state=st-1&nonce=n-1" +
               extra;
    }

    Response Token(const std::string& code, const std::string& extra = "")
    {
        Request request = At("POST", "/token");
        request.contentType = "application/x-www-form-urlencoded";
        request.authorization = "Basic YXBwOnMzY3JldA=="; // app:s3cret
        request.body =
            "grant_type=authorization_code&code=" + code + "&redirect_uri=https%3A%2F%2Fapp.example%2Fcb" + extra;
        return Answer(request);
    }

    TempFolder m_folder;
    std::string m_path = m_folder.Path("site.db");
    std::unique_ptr<SqliteSiteStore> m_store;
};

} // namespace

TEST_F(OidcProviderTest, WithoutAnIssuerThereIsNoProviderAndABadOneIsTheOperatorsToMend)
{
    for (const char* path : {"/.well-known/openid-configuration", "/jwks", "/authorize", "/continue", "/userinfo"}) {
        Request request = At("GET", path);
        request.issuer = "";
        EXPECT_EQ(404, Answer(request).status) << path;
        request.issuer = "http://logon.example.com/entravo/login.fcgi";
        const Response bad = Answer(request);
        EXPECT_EQ(500, bad.status) << path;
        EXPECT_TRUE(Contains(bad.log, "ENTRAVO_SITE_ISSUER: the issuer uses http on a host that is not loopback"))
            << bad.log;
    }
    // The welcome page does not depend on it.
    Request welcome = At("GET", "", "", kSession);
    welcome.issuer = "";
    EXPECT_EQ(401, Answer(welcome).status);
}

TEST_F(OidcProviderTest, TheDocumentsNameTheConfiguredIssuerAndTheKeysAreMadeAtFirstNeed)
{
    const Response discovery = Answer(At("GET", "/.well-known/openid-configuration"));
    EXPECT_EQ(200, discovery.status);
    EXPECT_TRUE(Contains(discovery.body, "\"authorization_endpoint\":\"" + std::string(kIssuer) + "/authorize\""));
    EXPECT_EQ("application/json;charset=UTF-8", Header(discovery, "Content-Type"));

    TempFolder folder;
    const std::string fresh = folder.Path("fresh.db");
    SqliteSiteStore::Initialise(fresh);
    SqliteSiteStore store = SqliteSiteStore::Open(fresh);
    const Response first = Respond(At("GET", "/jwks"), store);
    ASSERT_EQ(200, first.status);
    const auto keys = store.ReadProviderKeys();
    ASSERT_EQ(1u, keys.keys.size());
    EXPECT_TRUE(keys.subjectKey);
    EXPECT_TRUE(Contains(first.body, "\"kid\":\"" + keys.keys[0].kid + "\""));
    EXPECT_EQ(first.body, Respond(At("GET", "/jwks"), store).body) << "made once";
}

TEST_F(OidcProviderTest, ALiveSessionGetsACodeAtOnceForTokensThatNameItsAccount)
{
    SignIn();
    const Response authorized = Answer(At("GET", "/authorize", Authorization(), kSession));
    ASSERT_EQ(302, authorized.status) << authorized.body;
    const std::string location = Header(authorized, "Location");
    EXPECT_EQ(0u, location.rfind(std::string(kRedirect) + "?code=", 0)) << location;
    EXPECT_EQ("st-1", Parameter(location, "state"));
    EXPECT_EQ(kIssuer, Parameter(location, "iss"));

    const Response tokens = Token(Parameter(location, "code"));
    ASSERT_EQ(200, tokens.status) << tokens.body;
    const auto answer = ParseJsonObject(tokens.body);
    ASSERT_TRUE(answer);
    EXPECT_EQ("openid profile", *answer->String("scope"));
    const auto published = RsaPublicKey::FromJwk(TestKey().Public().Jwk());
    const auto claims = VerifyJwt(*answer->String("id_token"), std::span(&*published, 1));
    ASSERT_TRUE(claims);
    EXPECT_EQ(kIssuer, *claims->String("iss"));
    EXPECT_EQ("app", *claims->String("aud"));
    EXPECT_EQ("n-1", *claims->String("nonce"));
    EXPECT_EQ("alice", *claims->String("preferred_username"));
    EXPECT_EQ(kNow, claims->Integer("auth_time")) << "the session's sign-in";

    Request userinfo = At("GET", "/userinfo");
    userinfo.authorization = "Bearer " + *answer->String("access_token");
    const Response info = Answer(userinfo);
    EXPECT_EQ(200, info.status);
    EXPECT_TRUE(Contains(info.body, "\"sub\":\"" + *claims->String("sub") + "\"")) << info.body;
    EXPECT_TRUE(Contains(info.body, "\"name\":\"alice\""));
}

// The agent opens the sign-in in a new tab of the same browser: the waiting tab's next look and
// the welcome page after the sign-in both try to continue, and only the first one does.
TEST_F(OidcProviderTest, AWaitingRequestGoesOnInWhicheverTabComesFirstAndTheOtherSaysSo)
{
    for (const bool welcomeFirst : {true, false}) {
        SCOPED_TRACE(welcomeFirst ? "the welcome page first" : "the waiting page first");
        const Response waiting = Answer(At("GET", "/authorize", Authorization()));
        ASSERT_EQ(200, waiting.status);
        EXPECT_TRUE(Contains(waiting.body,
                             "<meta http-equiv=\"refresh\" content=\"3; url=" + std::string(kIssuer) + "/continue\">"))
            << waiting.body;
        EXPECT_TRUE(Header(waiting, "Set-Cookie").ends_with("; Path=/; Max-Age=600; HttpOnly; SameSite=Lax"));
        const std::string browser = CookieOf(waiting);
        EXPECT_TRUE(Contains(Answer(At("GET", "/continue", "", browser)).body, "Touch your token")) << "still waiting";

        if (welcomeFirst)
            SignIn();
        const Request look = At("GET", "/continue", "", JoinCookies(browser, kSession));
        const Request welcome = At("GET", "", "", JoinCookies(browser, kSession));
        const Response first = Answer(welcomeFirst ? welcome : look);
        ASSERT_EQ(302, first.status) << first.body;
        EXPECT_EQ("st-1", Parameter(Header(first, "Location"), "state"));
        const Response second = Answer(welcomeFirst ? look : welcome);
        EXPECT_NE(302, second.status);
        EXPECT_TRUE(Contains(second.body, "went on in the other tab")) << second.body;
        EXPECT_TRUE(Contains(Header(second, "Set-Cookie"), "entravo_pending=; Path=/; Max-Age=0"));
        EXPECT_EQ(200, Token(Parameter(Header(first, "Location"), "code")).status);
    }
}

TEST_F(OidcProviderTest, PromptAndMaxAgeDecideWhetherTheSessionWillDo)
{
    SignIn();
    const Response none = Answer(At("GET", "/authorize", Authorization("&prompt=none")));
    EXPECT_EQ("login_required", Parameter(Header(none, "Location"), "error"));
    EXPECT_EQ("st-1", Parameter(Header(none, "Location"), "state"));
    EXPECT_EQ(302, Answer(At("GET", "/authorize", Authorization("&prompt=none"), kSession)).status);

    // A session opened before the request will not do for prompt=login, nor one older than max_age.
    for (const char* extra : {"&prompt=login", "&max_age=0"}) {
        Request later = At("GET", "/authorize", Authorization(extra), kSession);
        later.now += 1;
        const Response waiting = Answer(later);
        EXPECT_EQ(200, waiting.status) << extra;
        EXPECT_TRUE(Contains(waiting.body, "Touch your token")) << extra;
    }
}

TEST_F(OidcProviderTest, AnUnregisteredRedirectIsNeverFollowedOtherFaultsGoBackToIt)
{
    const Response unregistered =
        Answer(At("GET", "/authorize",
                  "response_type=code&client_id=app&redirect_uri=https%3A%2F%2Fevil.example%2F"
                  "&scope=openid<script>",
                  kSession));
    EXPECT_EQ(400, unregistered.status);
    EXPECT_EQ("(none)", Header(unregistered, "Location"));
    EXPECT_TRUE(Contains(unregistered.body, "not registered for its application"));
    const Response noOpenid = Answer(
        At("GET", "/authorize",
           "response_type=code&client_id=app&redirect_uri=" + FormEncoded(kRedirect) + "&scope=profile&state=x"));
    EXPECT_EQ(302, noOpenid.status);
    EXPECT_EQ("invalid_scope", Parameter(Header(noOpenid, "Location"), "error"));
    // A public client must bring a challenge.
    const Response bare = Answer(At("GET", "/authorize",
                                    "response_type=code&client_id=pub&redirect_uri=http%3A%2F%2F127.0.0.1%3A9000%2Fcb"
                                    "&scope=openid"));
    EXPECT_EQ("invalid_request", Parameter(Header(bare, "Location"), "error"));
}

TEST_F(OidcProviderTest, ThePostedFormsAreReadOnlyAsForms)
{
    SignIn();
    Request posted = At("POST", "/authorize", "", kSession);
    posted.body = Authorization("&code_challenge=" + S256Challenge(kVerifier) + "&code_challenge_method=S256");
    posted.contentType = "application/x-www-form-urlencoded; charset=UTF-8";
    const Response authorized = Answer(posted);
    ASSERT_EQ(302, authorized.status) << authorized.body;
    posted.contentType = "text/plain";
    EXPECT_EQ(400, Answer(posted).status);

    Request token = At("POST", "/token");
    token.contentType = "application/json";
    token.body = "{}";
    const Response refused = Answer(token);
    EXPECT_EQ(400, refused.status);
    EXPECT_TRUE(Contains(refused.body, "\"error\":\"invalid_request\""));
    EXPECT_EQ("no-store", Header(refused, "Cache-Control"));
    EXPECT_EQ(
        200,
        Token(Parameter(Header(authorized, "Location"), "code"), std::string("&code_verifier=") + kVerifier).status);
}

TEST_F(OidcProviderTest, AStoreThatFailsAtAJsonEndpointIsAServerErrorInJson)
{
    class Busy final : public StoreSource {
    public:
        SiteStore& StoreFor(const std::string&) override { throw StoreError("busy", StoreError::Kind::Busy); }
        void Forget() override {}
    } busy;
    const Response answer = Respond(At("POST", "/token"), busy, "site.db");
    EXPECT_EQ(503, answer.status);
    EXPECT_EQ("{\"error\":\"server_error\",\"error_description\":\"the site's records cannot be reached\"}",
              answer.body);
    EXPECT_EQ("30", Header(answer, "Retry-After"));
}
