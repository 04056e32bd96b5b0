#include "site/cgi/Respond.h"

#include "InMemorySiteStore.h"

#include <gtest/gtest.h>

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
    request.remoteAddress = "192.0.2.7";
    request.cookies = std::move(cookies);
    request.scriptPath = "/cgi-bin/login.cgi";
    request.now = 1'800'000'000;
    request.newSession = kToken;
    return request;
}

std::string Header(const Response& response, const std::string& name)
{
    for (const auto& [key, value] : response.headers) {
        if (key == name)
            return value;
    }
    return "(none)";
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
        const Response page = Respond(Get("", cookies), store);
        EXPECT_EQ(200, page.status);
        EXPECT_TRUE(Contains(page.body, "You are not signed in")) << cookies;
    }
}

TEST(Respond, FloodFromOneAddressIsRefusedBeforeAnyVerification)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    for (int i = 0; i < kFailureLimit; ++i)
        EXPECT_EQ(403, Respond(Get("Authenticate=" + std::string(64, '0')), store).status);

    const Response refused = Respond(Get("Authenticate=" + kGenuine), store);
    EXPECT_EQ(429, refused.status);
    EXPECT_EQ("60", Header(refused, "Retry-After"));
    EXPECT_EQ(0, store.admitCalls);
    EXPECT_EQ(Outcome::TooManyFailures, store.attempts.back().outcome);

    Request other = Get("Authenticate=" + kGenuine);
    other.remoteAddress = "192.0.2.8";
    EXPECT_EQ(303, Respond(other, store).status);
    Request later = Get("Authenticate=" + kGenuine);
    later.now += kFailureWindowSeconds + 1;
    EXPECT_EQ(409, Respond(later, store).status);
}

TEST(Respond, OnlyGetIsAnsweredAndAStoreFailureStaysInTheLog)
{
    InMemorySiteStore store;
    for (const char* method : {"POST", "HEAD", "PUT", "get", ""}) {
        Request request = Get("Authenticate=" + kGenuine);
        request.method = method;
        const Response response = Respond(request, store);
        EXPECT_EQ(405, response.status) << method;
        EXPECT_EQ("GET", Header(response, "Allow"));
    }
    EXPECT_TRUE(store.attempts.empty());

    store.broken = true;
    for (const Request& request :
         {Get("", "entravo_session=DEADBEEF0102030405060708090A0B0C"), Get("Authenticate=" + kGenuine)}) {
        const Response response = Respond(request, store);
        EXPECT_EQ(500, response.status);
        EXPECT_TRUE(Contains(response.log, "stayed busy"));
        EXPECT_FALSE(Contains(response.body, "busy"));
    }
}

TEST(Respond, RedirectsOnlyToAPlainPath)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    Request request = Get("Authenticate=" + kGenuine);
    request.scriptPath = "/x\r\nSet-Cookie: a=b";
    EXPECT_EQ("/", Header(Respond(request, store), "Location"));
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
