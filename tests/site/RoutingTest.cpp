// The routing table's choices and the answers to a store that fails on the way, as a request
// meets them through Respond.
#include "site/cgi/Respond.h"

#include "site/verifier/Signature.h"

#include "InMemorySiteStore.h"
#include "ResponseHeader.h"

#include <gtest/gtest.h>

#include <string>

namespace {

const RomBytes kAlice = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const std::string kGenuine = "FB32A14FEE34FDAD64471BDC71115D5D7FC2D766830A69C3B114B065A97E0201"; // kAlice
const std::string kNonce = "abcdefghijklmnop1234";
constexpr int64_t kNow = 1'800'000'000;

Request At(std::string method, std::string pathInfo, std::string query = "")
{
    Request request;
    request.method = std::move(method);
    request.pathInfo = std::move(pathInfo);
    request.query = std::move(query);
    request.clientAddress = "192.0.2.7";
    request.scriptPath = "/entravo/login.fcgi";
    request.now = kNow;
    return request;
}

ClientKey Key()
{
    ClientKey key{};
    for (std::size_t i = 0; i < key.size(); ++i)
        key[i] = static_cast<uint8_t>(i);
    return key;
}

// A version 1 request of client 1, signed with its key.
Request VerifyRequest()
{
    const Fields fields = {{"id", "1"}, {"nonce", kNonce}, {"authenticator", kGenuine}};
    return At("GET", "/verify",
              "id=1&nonce=" + kNonce + "&authenticator=" + kGenuine +
                  "&h=" + PercentEncoded(Sign(Key(), fields, SignatureVersion::One)));
}

// The answer the client can check: its fields in their order, signed with its key.
std::string SignedAnswer(const std::string& status)
{
    const Fields fields = {{"status", status}, {"nonce", kNonce}, {"t", UtcText(kNow)}};
    return "{\"status\":\"" + status + "\",\"nonce\":\"" + kNonce + "\",\"t\":\"" + UtcText(kNow) + "\",\"h\":\"" +
           Sign(Key(), fields, SignatureVersion::One) + "\"}\n";
}

// The store fails once the client proved who it is: during the search, as a lost database would.
StoreError::Kind g_failure = StoreError::Kind::Busy;
Verification FailingSearch(std::string_view)
{
    throw StoreError("the database went away", g_failure);
}

} // namespace

TEST(Routing, APathWithoutARowIsNotFoundAndAMethodWithoutOneIsRefusedNamingThoseThatAre)
{
    InMemorySiteStore store;
    // Neither needs the store: a broken one changes nothing.
    store.broken = true;
    for (const char* path : {"/other", "/auth/x", "/verify/", "/Auth"}) {
        const Response response = Respond(At("GET", path), store);
        EXPECT_EQ(404, response.status) << path;
        EXPECT_FALSE(response.storeFailed) << path;
    }
    const Response post = Respond(At("POST", "/verify"), store);
    EXPECT_EQ(405, post.status);
    EXPECT_EQ("GET", Header(post, "Allow"));
    EXPECT_EQ("GET, POST", Header(Respond(At("DELETE", ""), store), "Allow"));
}

TEST(Routing, AnAuthorizerIsAskedOnlyWhetherTheRequestItGuardsMayPass)
{
    InMemorySiteStore store;
    store.Enroll(kAlice, "alice");
    const Response signIn = Respond(At("GET", "", "Authenticate=" + kGenuine), store);
    const std::string cookie = Header(signIn, "Set-Cookie").substr(0, Header(signIn, "Set-Cookie").find(';'));
    for (const auto& [method, path] : {std::pair{"POST", "/app/form"}, {"GET", "/verify"}, {"DELETE", ""}}) {
        Request guarded = At(method, path);
        guarded.role = Role::Authorizer;
        EXPECT_EQ(401, Respond(guarded, store).status) << method << " " << path;
        guarded.cookies = cookie;
        const Response passed = Respond(guarded, store);
        EXPECT_EQ(200, passed.status) << method << " " << path;
        EXPECT_EQ("alice", Header(passed, "Variable-ENTRAVO_ACCOUNT"));
    }
}

// A client that proved who it is can trust every answer it gets, a failure's too; before that
// the site has no key to sign with.
TEST(Routing, TheApisStoreFailuresAreSignedOnceTheClientProvedWhoItIs)
{
    for (const auto& [kind, status] : {std::pair{StoreError::Kind::Busy, "BACKEND_ERROR"},
                                       {StoreError::Kind::Unreachable, "BACKEND_ERROR"},
                                       {StoreError::Kind::Unresolved, "OUTCOME_UNKNOWN"}}) {
        InMemorySiteStore store;
        store.Enroll(kAlice, "alice");
        store.clients[1] = Key();
        g_failure = kind;
        const Response answer = Respond(VerifyRequest(), store, FailingSearch);
        EXPECT_EQ(SignedAnswer(status), answer.body);
        EXPECT_EQ("the database went away", answer.log);
        EXPECT_TRUE(answer.storeFailed);

        store.broken = true;
        const Response unsigned_ = Respond(VerifyRequest(), store);
        EXPECT_EQ("{\"status\":\"BACKEND_ERROR\",\"nonce\":\"" + kNonce + "\",\"t\":\"" + UtcText(kNow) + "\"}\n",
                  unsigned_.body);
        EXPECT_TRUE(unsigned_.storeFailed);
    }
}
