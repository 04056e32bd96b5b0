#include "site/cgi/Respond.h"

#include "site/verifier/Signature.h"

#include "InMemorySiteStore.h"
#include "ResponseHeader.h"

#include <gtest/gtest.h>

#include <fstream>
#include <iterator>
#include <string>

namespace {

const RomBytes kAlice = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const std::string kGenuine = "FB32A14FEE34FDAD64471BDC71115D5D7FC2D766830A69C3B114B065A97E0201"; // kAlice, tick 12345
const SessionToken kToken = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};

Request Get(std::string query, std::string cookies = "")
{
    Request request;
    request.method = "GET";
    request.query = std::move(query);
    request.clientAddress = "192.0.2.7";
    request.cookies = std::move(cookies);
    request.scriptPath = "/cgi-bin/login.cgi";
    request.now = 1'800'000'000;
    request.newSession = kToken;
    return request;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(Respond, AcceptedLogonSetsASiteWideSessionCookieAndRedirectsWithoutTheString)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    const Response accepted = Respond(Get("Authenticate=" + kGenuine), store);
    EXPECT_EQ(303, accepted.status);
    EXPECT_EQ("/cgi-bin/login.cgi", Header(accepted, "Location"));
    EXPECT_EQ("entravo_session=DEADBEEF0102030405060708090A0B0C; Path=/; Max-Age=43200; HttpOnly; SameSite=Lax",
              Header(accepted, "Set-Cookie"));

    Request secure =
        Get("Authenticate=" + EncodeAuthenticator(RomRecord{{1, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}, 7));
    secure.secure = true;
    EXPECT_TRUE(Header(Respond(secure, store), "Set-Cookie").ends_with("; Secure"));

    const Response welcome = Respond(Get("", "theme=dark; entravo_session=deadbeef0102030405060708090a0b0c"), store);
    EXPECT_EQ(200, welcome.status);
    EXPECT_TRUE(Contains(welcome.body, "<p>Signed in as alice</p>")) << welcome.body;
}

TEST(Respond, WelcomePageEscapesTheAccountAndKnowsWhoIsNotSignedIn)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "<b>Bob & \"Eve\"'s</b>");
    Respond(Get("Authenticate=" + kGenuine), store);
    const Response welcome = Respond(Get("", "entravo_session=DEADBEEF0102030405060708090A0B0C"), store);
    EXPECT_TRUE(Contains(welcome.body, "Signed in as &lt;b&gt;Bob &amp; &quot;Eve&quot;&#39;s&lt;/b&gt;"))
        << welcome.body;

    for (const char* cookies :
         {"", "entravo_session=DEADBEEF0102030405060708090A0B0D", "entravo_session=DEADBEEF",
          "entravo_session=XEADBEEF0102030405060708090A0B0C", "other=DEADBEEF0102030405060708090A0B0C"}) {
        // Not 2xx: a proxy's session check sent here by mistake must not pass anyone.
        const Response page = Respond(Get("", cookies), store);
        EXPECT_EQ(401, page.status);
        EXPECT_TRUE(Contains(page.body, "You are not signed in")) << cookies;
    }
}

TEST(Respond, SessionsLastTwelveHoursAndEveryCookieOfTheNameIsTried)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    Respond(Get("Authenticate=" + kGenuine), store);
    const std::string cookies = "entravo_session=00000000000000000000000000000000; theme=dark; "
                                "entravo_session=DEADBEEF0102030405060708090A0B0C";
    Request later = Get("", cookies);
    later.now += 11 * 60 * 60;
    EXPECT_TRUE(Contains(Respond(later, store).body, "Signed in as alice"));
    later.now += 60 * 60;
    EXPECT_TRUE(Contains(Respond(later, store).body, "Signed in as alice"));
    later.now += 1;
    EXPECT_TRUE(Contains(Respond(later, store).body, "You are not signed in"));
}

// A sibling domain may set cookies of the same name for this site: however many it sets,
// the visitor's own is found, on the welcome page, at the session check and at sign-out.
TEST(Respond, EveryWellFormedSessionCookieIsTried)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    Respond(Get("Authenticate=" + kGenuine), store);
    std::string cookies;
    for (int i = 0; i < 150; ++i)
        cookies += "entravo_session=" + std::string(30, '0') + std::to_string(10 + i % 90) + "; ";
    cookies += "entravo_session=DEADBEEF0102030405060708090A0B0C";
    EXPECT_TRUE(Contains(Respond(Get("", cookies), store).body, "Signed in as alice"));
    Request check = Get("", cookies);
    check.pathInfo = "/auth";
    EXPECT_EQ(200, Respond(check, store).status);
    Request signOut = Get("", cookies);
    signOut.method = "POST";
    Respond(signOut, store);
    EXPECT_EQ(401, Respond(check, store).status);
}

TEST(Respond, SignOutEndsTheSessionAndClearsTheCookie)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    Respond(Get("Authenticate=" + kGenuine), store);
    const std::string cookie = "entravo_session=DEADBEEF0102030405060708090A0B0C";
    EXPECT_TRUE(Contains(Respond(Get("", cookie), store).body,
                         "<form method=\"post\" action=\"/cgi-bin/login.cgi\"><button type=\"submit\">Sign out"));

    Request signOut = Get("", cookie);
    signOut.method = "POST";
    const Response signedOut = Respond(signOut, store);
    EXPECT_EQ(303, signedOut.status);
    EXPECT_EQ("/cgi-bin/login.cgi", Header(signedOut, "Location"));
    EXPECT_EQ("entravo_session=; Path=/; Max-Age=0; HttpOnly; SameSite=Lax", Header(signedOut, "Set-Cookie"));
    EXPECT_TRUE(Contains(Respond(Get("", cookie), store).body, "You are not signed in"));
}

// Counts the seed searches behind the store's budgets.
int g_searches = 0;
Verification CountingVerifier(std::string_view text)
{
    ++g_searches;
    return VerifyAuthenticator(text);
}

Request From(const std::string& address, const std::string& query, int64_t later = 0)
{
    Request request = Get(query);
    request.clientAddress = address;
    request.now += later;
    return request;
}

TEST(Respond, JunkPastAnAddressBudgetIsRefusedWithoutASearchAndOnlyChecksCount)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    const std::string junk = "Authenticate=" + std::string(64, '0');
    g_searches = 0;
    for (int i = 0; i < kFailureBudgets.address; ++i)
        EXPECT_EQ(403, Respond(From("192.0.2.7", junk), store, CountingVerifier).status);
    EXPECT_EQ(kFailureBudgets.address, g_searches);

    const Response refused = Respond(From("192.0.2.7", "Authenticate=" + kGenuine, 30), store, CountingVerifier);
    EXPECT_EQ(429, refused.status);
    EXPECT_EQ("60", Header(refused, "Retry-After"));
    EXPECT_EQ(kFailureBudgets.address, g_searches);
    EXPECT_EQ(0, store.admitCalls);
    EXPECT_EQ("address 192.0.2.7 spent its budget of failed sign-ins; refused unchecked for 60 s", refused.log);
    EXPECT_TRUE(Contains(refused.body, "Too many failed sign-ins came from your address.")) << refused.body;
    EXPECT_EQ("", Respond(From("192.0.2.7", "Authenticate=" + kGenuine, 31), store).log);

    // Refusals spend nothing: once the failures leave the window the address is checked again.
    EXPECT_EQ(303, Respond(From("192.0.2.7", "Authenticate=" + kGenuine, 61), store).status);
    EXPECT_EQ(303, Respond(From("192.0.2.8",
                                "Authenticate=" +
                                    EncodeAuthenticator(RomRecord{{1, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}, 99)),
                           store)
                       .status);
}

TEST(Respond, ManyAddressesOfOneNetworkShareItsBudgetAndItsFirstRefusalIsLogged)
{
    struct Case {
        std::string address;   // printf pattern with one %d for the host part
        std::string exhausted; // the network whose budget runs out
        std::string neighbour; // in no spent network
    };
    const Case cases[] = {
        {"198.51.100.%d", "198.51.100.0/24", "198.51.101.1"},
        {"2001:db8:0:1::%x", "2001:db8:0:1::/64", "2001:db8:0:2::1"},
    };
    for (const Case& c : cases) {
        InMemorySiteStore store;
        const std::string junk = "Authenticate=" + std::string(64, '1');
        char address[64];
        int sent = 0;
        for (int host = 1; sent < kFailureBudgets.network; ++host) {
            std::snprintf(address, sizeof address, c.address.c_str(), host);
            for (int i = 0; i < kFailureBudgets.address / 4; ++i, ++sent)
                EXPECT_EQ(403, Respond(From(address, junk), store).status) << address;
        }
        std::snprintf(address, sizeof address, c.address.c_str(), 250);
        const Response first = Respond(From(address, junk), store);
        EXPECT_EQ(429, first.status) << c.address;
        EXPECT_TRUE(Contains(first.log, "network " + c.exhausted + " spent its budget")) << first.log;
        EXPECT_TRUE(Contains(first.body, "came from your network (" + c.exhausted + ").")) << first.body;
        EXPECT_EQ("", Respond(From(address, junk), store).log);
        EXPECT_EQ(403, Respond(From(c.neighbour, junk), store).status) << c.neighbour;
    }

    // A /48 holds 65,536 networks of /64: together they have one budget too.
    InMemorySiteStore store;
    const std::string junk = "Authenticate=" + std::string(64, '2');
    for (int net = 0; net < kFailureBudgets.wideNetwork; ++net)
        Respond(From("2001:db8:7:" + std::to_string(net) + "::1", junk), store);
    EXPECT_EQ(429, Respond(From("2001:db8:7:ffff::1", junk), store).status);
    EXPECT_EQ(403, Respond(From("2001:db8:8::1", junk), store).status);
}

TEST(Respond, OnlyGetAndSignOutAreAnsweredAndAStoreFailureStaysInTheLog)
{
    InMemorySiteStore store;
    for (const char* method : {"POST", "HEAD", "PUT", "get", ""}) {
        Request request = Get("Authenticate=" + kGenuine);
        request.method = method;
        const Response response = Respond(request, store);
        EXPECT_EQ(405, response.status) << method;
        EXPECT_EQ("GET, POST", Header(response, "Allow"));
    }
    EXPECT_TRUE(store.attempts.empty());

    store.broken = true;
    for (const auto kind : {StoreError::Kind::Busy, StoreError::Kind::Full, StoreError::Kind::Broken}) {
        store.failure = kind;
        for (const Request& request :
             {Get("", "entravo_session=DEADBEEF0102030405060708090A0B0C"), Get("Authenticate=" + kGenuine)}) {
            const Response response = Respond(request, store);
            EXPECT_EQ(kind == StoreError::Kind::Broken ? 500 : 503, response.status);
            EXPECT_EQ(kind == StoreError::Kind::Broken ? "(none)" : "30", Header(response, "Retry-After"));
            EXPECT_TRUE(response.storeFailed);
            EXPECT_TRUE(Contains(response.log, "stayed busy"));
            EXPECT_FALSE(Contains(response.body, "busy"));
        }
    }
}

TEST(Respond, RedirectsOnlyToAPlainPathOfThisSite)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    for (const char* path : {"/x\r\nSet-Cookie: a=b", "//evil.example/x", "/\\evil.example", "evil.example/x", ""}) {
        Request request = Get("", "entravo_session=DEADBEEF0102030405060708090A0B0C");
        request.method = "POST";
        request.scriptPath = path;
        EXPECT_EQ("/", Header(Respond(request, store), "Location")) << path;
    }
}

TEST(Respond, ATidyingRequestCleansUpAfterItsAnswerWhichStandsWhateverTheCleanUpMeets)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    Request request = Get("Authenticate=" + kGenuine);
    request.tidy = true;
    store.tidyFails = true;
    const Response accepted = Respond(request, store);
    EXPECT_EQ(303, accepted.status);
    EXPECT_TRUE(Contains(accepted.log, "clean-up: ")) << accepted.log;
    Respond(Get(""), store);
    EXPECT_EQ(1, store.tidyCalls);
}

TEST(CgiText, StatusLineHeadersBlankLineAndBody)
{
    Response response;
    response.status = 409;
    response.headers = {{"Content-Type", "text/html"}, {"Cache-Control", "no-store"}};
    response.body = "<p>x</p>";
    EXPECT_EQ("Status: 409 Conflict\r\nContent-Type: text/html\r\nCache-Control: no-store\r\n\r\n<p>x</p>",
              CgiText(response));
}

TEST(Session, TokensHashAsSha256)
{
    // SHA-256 of sixteen zero bytes.
    const SessionHash hash = HashOf(SessionToken{});
    EXPECT_EQ(0x37, hash[0]);
    EXPECT_EQ(0x47, hash[1]);
    EXPECT_EQ(0xBB, hash[31]);
    EXPECT_NE(hash, HashOf(kToken));
}

Request VerifyRequest(std::string query, int64_t now = 1'800'000'000)
{
    Request request = Get(std::move(query));
    request.pathInfo = "/verify";
    request.now = now;
    return request;
}

// The worked example's key: the bytes 0 to 31.
ClientKey ExampleKey()
{
    ClientKey key{};
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<uint8_t>(i);
    return key;
}

// Alice enrolled, and client 1 holding the example's key.
void ReadyToVerify(InMemorySiteStore& store)
{
    store.Enroll(kAlice, "alice");
    store.clients[1] = ExampleKey();
}

// The worked example of docs/verify-api.md, read from it and answered to the byte.
TEST(Respond, TheVerificationApisWorkedExample)
{
    std::ifstream file(std::string(ENTRAVO_SOURCE_DIR) + "/docs/verify-api.md");
    std::string doc((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    const std::size_t request = doc.find("    GET /entravo/login.cgi/verify?v=2&id=1");
    const std::size_t answer = doc.find("    {\"v\":\"2\"");
    ASSERT_NE(std::string::npos, request);
    ASSERT_NE(std::string::npos, answer);
    const std::size_t query = doc.find('?', request) + 1;
    InMemorySiteStore store;
    ReadyToVerify(store);
    const Response response = Respond(VerifyRequest(doc.substr(query, doc.find('\n', query) - query)), store);
    EXPECT_EQ(200, response.status);
    EXPECT_EQ("application/json", Header(response, "Content-Type"));
    EXPECT_EQ(doc.substr(answer + 4, doc.find('\n', answer) - answer - 3), response.body);
    EXPECT_EQ(0, store.tidyCalls);
    EXPECT_EQ(std::nullopt, store.FindSession(HashOf(kToken), 0)); // an application keeps its own sessions
}

// Requests without v are answered as before, signed as before.
TEST(Respond, VersionOneOfTheVerificationApiStillAnswers)
{
    InMemorySiteStore store;
    ReadyToVerify(store);
    const Response answer = Respond(VerifyRequest("id=1&nonce=abcdefghijklmnop1234&authenticator=" + kGenuine +
                                                  "&h=QQ4tu3PbMUX4erfFMQcAKsD9uuIxXBL%2BzWe4D%2BpHZKk%3D"),
                                    store);
    EXPECT_EQ("{\"status\":\"OK\",\"nonce\":\"abcdefghijklmnop1234\",\"t\":\"2027-01-15T08:00:00Z\","
              "\"identity\":\"0123456789ABCDEF\",\"account\":\"alice\","
              "\"h\":\"/8KF4Ktf5ploNum6t/KsGVDmtjk9wHYZDMtErUPcya4=\"}\n",
              answer.body);
}

// A version 2 request is answered only within 300 s of its time, and a stale one uses up
// neither its nonce nor its string. Every answer names the request's time.
TEST(Respond, AVersionTwoRequestIsAnsweredOnlyWithinItsTime)
{
    InMemorySiteStore store;
    ReadyToVerify(store);
    const auto verify = [&](int64_t time, const std::string& nonce, bool withTime = true) {
        Fields fields = {{"v", "2"}, {"id", "1"}, {"nonce", nonce}, {"authenticator", kGenuine}};
        if (withTime)
            fields.emplace_back("time", std::to_string(time));
        std::string query;
        for (const auto& [name, value] : fields)
            query += name + "=" + value + "&";
        return Respond(VerifyRequest(query + "h=" + PercentEncoded(Sign(ExampleKey(), fields, SignatureVersion::Two))),
                       store)
            .body;
    };
    const int64_t now = 1'800'000'000;
    EXPECT_TRUE(Contains(verify(now - 301, "abcdefghijklmnop0001"), "\"status\":\"STALE_REQUEST\""));
    EXPECT_TRUE(Contains(verify(now + 301, "abcdefghijklmnop0001"), "\"status\":\"STALE_REQUEST\""));
    EXPECT_TRUE(Contains(verify(now, "abcdefghijklmnop0001", false), "\"status\":\"MALFORMED\""));
    const std::string accepted = verify(now - 300, "abcdefghijklmnop0001");
    EXPECT_TRUE(Contains(accepted, "\"status\":\"OK\"")) << accepted;
    EXPECT_TRUE(Contains(accepted, "\"time\":\"1799999700\"")) << accepted;
    EXPECT_TRUE(Contains(verify(now + 300, "abcdefghijklmnop0001"), "\"status\":\"REPLAYED_REQUEST\""));
    EXPECT_TRUE(Contains(verify(now, "abcdefghijklmnop0002"), "\"status\":\"REPLAYED\""));
}

// As an authorizer the session check answers for the request it guards, whatever its method.
TEST(Respond, TheSessionCheckAnswersEveryMethod)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    Respond(Get("Authenticate=" + kGenuine), store);
    for (const char* method : {"GET", "HEAD", "POST", "PUT", "DELETE", "PATCH", "OPTIONS"}) {
        Request check = Get("", "entravo_session=DEADBEEF0102030405060708090A0B0C");
        check.method = method;
        check.pathInfo = "/auth";
        EXPECT_EQ(200, Respond(check, store).status) << method;
        check.cookies.clear();
        EXPECT_EQ(401, Respond(check, store).status) << method;
    }
}

// The store was lost as it accepted the string, and could not be asked afterwards: the link may
// be used up, so the visitor is sent for a new one, never back with it.
TEST(Respond, AnAcceptanceTheStoreCannotConfirmSendsTheVisitorForANewLink)
{
    InMemorySiteStore store;
    store.broken = true;
    store.failure = StoreError::Kind::Unresolved;
    const Response logon = Respond(Get("Authenticate=" + kGenuine), store);
    EXPECT_EQ(503, logon.status);
    EXPECT_TRUE(Contains(logon.body, "cannot tell whether it was used. Sign in with a new link")) << logon.body;
    EXPECT_FALSE(Contains(logon.body, "Try again")) << logon.body;
    EXPECT_TRUE(logon.storeFailed);
}

TEST(Respond, TheSessionCheckReadsOnlyTheCookie)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    Respond(Get("Authenticate=" + kGenuine), store);
    Request check = Get("", "entravo_session=DEADBEEF0102030405060708090A0B0C");
    check.pathInfo = "/auth";
    const Response allowed = Respond(check, store);
    EXPECT_EQ(200, allowed.status);
    EXPECT_EQ("alice", Header(allowed, "X-Entravo-Account"));
    EXPECT_EQ("0123456789ABCDEF", Header(allowed, "X-Entravo-Identity"));
    check.cookies = "entravo_session=DEADBEEF0102030405060708090A0B0D";
    EXPECT_EQ(401, Respond(check, store).status);
    check.pathInfo = "/other";
    EXPECT_EQ(404, Respond(check, store).status);
}
