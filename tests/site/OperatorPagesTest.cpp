// What the operator reaches through the login page, as a request meets it through Respond: the
// metrics only for the addresses allowed them, and the admin page with its Revoke form, whose
// every other post is refused and changes nothing.
#include "site/cgi/Respond.h"

#include "site/report/AdminForm.h"
#include "site/report/AdminPage.h"
#include "site/report/Exposition.h"

#include "InMemorySiteStore.h"
#include "ResponseHeader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const RomBytes kAlice = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const RomBytes kBob = {0x28, 0, 0, 0, 0, 0, 0, 0x42};
const std::string kAliceString = "FB32A14FEE34FDAD64471BDC71115D5D7FC2D766830A69C3B114B065A97E0201";
const SessionToken kAliceToken = {0xA1, 0xCE, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
const SessionToken kBobToken = {0xB0, 0xB0, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14};
constexpr int64_t kNow = 1'800'000'000;

Request At(std::string method, std::string pathInfo, std::string cookies = "")
{
    Request request;
    request.method = std::move(method);
    request.pathInfo = std::move(pathInfo);
    request.cookies = std::move(cookies);
    request.clientAddress = "192.0.2.7";
    request.scriptPath = "/entravo/login.fcgi";
    request.now = kNow;
    return request;
}

Request Scrape()
{
    Request request = At("GET", "/metrics");
    request.mayScrape = true;
    return request;
}

std::string CookieOf(const SessionToken& token)
{
    return "entravo_session=" + FormatSessionToken(token);
}

// A store where alice (an administrator) and bob are signed in, each with a session of their own.
struct SignedInStore {
    SignedInStore()
    {
        store.Enroll(kAlice, "alice");
        store.Enroll(kBob, "bob");
        store.admins.insert("alice");
        Request signIn = At("GET", "");
        signIn.query = "Authenticate=" + kAliceString;
        signIn.newSession = kAliceToken;
        EXPECT_EQ(303, Respond(signIn, store).status);
        signIn.query = "Authenticate=" + EncodeAuthenticator(RomRecord{{0x28, 0, 0, 0, 0, 0, 0, 0x42}}, 77);
        signIn.newSession = kBobToken;
        EXPECT_EQ(303, Respond(signIn, store).status);
    }

    InMemorySiteStore store;
};

Request Post(const SessionToken& token, std::string body)
{
    Request request = At("POST", "/admin", CookieOf(token));
    request.contentType = "application/x-www-form-urlencoded";
    request.body = std::move(body);
    return request;
}

bool Contains(const std::string& text, const std::string& part)
{
    return text.find(part) != std::string::npos;
}

} // namespace

TEST(Metrics, AreThereOnlyForTheAddressesAllowedThemAndComeFromTheStore)
{
    InMemorySiteStore store;
    store.broken = true;
    EXPECT_EQ(404, Respond(At("GET", "/metrics"), store).status) << "to anyone else the path is not there";
    Request post = Scrape();
    post.method = "POST";
    EXPECT_EQ("GET", Header(Respond(post, store), "Allow"));
    EXPECT_EQ(503, Respond(Scrape(), store).status) << "a store that cannot be read is a target down";

    store.broken = false;
    store.Enroll(kAlice, "alice");
    Request signIn = At("GET", "");
    signIn.query = "Authenticate=" + kAliceString;
    Respond(signIn, store);
    const Response metrics = Respond(Scrape(), store);
    EXPECT_EQ(200, metrics.status);
    EXPECT_EQ(kExpositionContentType, Header(metrics, "Content-Type"));
    EXPECT_TRUE(Contains(metrics.body, "\nentravo_sign_ins_total{outcome=\"accepted\"} 1\n")) << metrics.body;
    EXPECT_TRUE(Contains(metrics.body, "\nentravo_sign_ins_total{outcome=\"not-genuine\"} 0\n"));
    // Every series there from the start (the process's own counts depend on what it answered).
    EXPECT_TRUE(Contains(metrics.body, "\nentravo_api_calls_total{status=\"BAD_SIGNATURE\"} "));
    EXPECT_TRUE(Contains(metrics.body, "\nentravo_store_errors_total{kind=\"unreachable\"} "));
    EXPECT_FALSE(Contains(metrics.body, "entravo_request_seconds")) << "only login.fcgi keeps answer times";
}

// What leaves no record is counted in the process and written at the next scrape; a store
// failure too, once the store is back.
TEST(Metrics, CountWhatLeavesNoRecordOncePerAnswer)
{
    InMemorySiteStore store;
    Respond(Scrape(), store); // what earlier tests of this process counted
    const Counts before = store.counts;
    SignedInStore signedIn;
    for (int i = 0; i < 3; ++i)
        Respond(At("GET", "/auth", CookieOf(kAliceToken)), signedIn.store);
    Respond(At("GET", "/auth"), signedIn.store);
    signedIn.store.broken = true;
    Respond(At("GET", "/auth", CookieOf(kBobToken)), signedIn.store);
    signedIn.store.broken = false;
    Respond(Scrape(), store);
    const auto added = [&](const char* name, const char* label) {
        const auto was = before.find({name, label});
        return store.counts[{name, label}] - (was == before.end() ? 0 : was->second);
    };
    EXPECT_EQ(3, added("session_check", "signed-in"));
    EXPECT_EQ(1, added("session_check", "not-signed-in"));
    EXPECT_EQ(1, added("store_error", "busy"));
}

TEST(AdminPage, IsForTheAccountsGrantedItWithAPageToSignInWithoutASession)
{
    SignedInStore signedIn;
    const Response none = Respond(At("GET", "/admin"), signedIn.store);
    EXPECT_EQ(401, none.status);
    EXPECT_TRUE(Contains(none.body, "Touch your token to the reader")) << none.body;
    const Response bob = Respond(At("GET", "/admin", CookieOf(kBobToken)), signedIn.store);
    EXPECT_EQ(403, bob.status);
    EXPECT_TRUE(Contains(bob.body, "The account bob may not see")) << bob.body;

    const Response alice = Respond(At("GET", "/admin", CookieOf(kAliceToken)), signedIn.store);
    EXPECT_EQ(200, alice.status);
    EXPECT_EQ(AdminPagePolicy(), Header(alice, "Content-Security-Policy"));
    EXPECT_EQ("no-store", Header(alice, "Cache-Control"));
    EXPECT_TRUE(Contains(alice.body, "<form method=\"post\" action=\"/entravo/login.fcgi/admin\">"));
    EXPECT_TRUE(Contains(alice.body, "name=\"csrf\" value=\"" + CsrfValue(kAliceToken) + "\""));
    EXPECT_EQ(405, Respond(At("PUT", "/admin", CookieOf(kAliceToken)), signedIn.store).status);
}

TEST(AdminPage, RevokesOnlyWithThisSessionsValueAndRefusesEveryOtherPost)
{
    SignedInStore signedIn;
    const std::string bob = "revoke=2800000000000042&csrf=";
    const Request refused[] = {
        Post(kAliceToken, bob),
        Post(kAliceToken, bob + CsrfValue(kBobToken)),
        Post(kAliceToken, bob + std::string(64, '0')),
        Post(kBobToken, bob + CsrfValue(kBobToken)),
        Post({}, bob + CsrfValue(kAliceToken)),
        Post(kAliceToken, bob + CsrfValue(kAliceToken) + "&revoke=0123456789ABCDEF"),
        Post(kAliceToken, bob + CsrfValue(kAliceToken) + std::string(kMaxAdminPostBytes, 'x')),
    };
    for (const Request& post : refused) {
        const Response response = Respond(post, signedIn.store);
        EXPECT_EQ(403, response.status) << post.body;
        EXPECT_TRUE(Contains(response.log, "admin page: a post from 192.0.2.7 refused")) << response.log;
    }
    Request text = Post(kAliceToken, bob + CsrfValue(kAliceToken));
    text.contentType = "text/plain";
    EXPECT_EQ(403, Respond(text, signedIn.store).status);
    EXPECT_EQ(200, Respond(At("GET", "/auth", CookieOf(kBobToken)), signedIn.store).status) << "nothing changed";

    const Response revoked = Respond(Post(kAliceToken, bob + CsrfValue(kAliceToken)), signedIn.store);
    EXPECT_EQ(200, revoked.status);
    EXPECT_TRUE(Contains(revoked.body, "Token 2800000000000042 revoked; its sessions are ended.")) << revoked.body;
    EXPECT_EQ("admin page: alice revoked token 2800000000000042", revoked.log);
    EXPECT_EQ(401, Respond(At("GET", "/auth", CookieOf(kBobToken)), signedIn.store).status);
    EXPECT_TRUE(
        Contains(Respond(Post(kAliceToken, bob + CsrfValue(kAliceToken)), signedIn.store).body, "was already revoked"));
}
