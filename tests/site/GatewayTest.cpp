#include "site/cgi/Gateway.h"

#include "site/report/AdminForm.h"

#include "InMemorySiteStore.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

const RomBytes kAlice = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF};
const std::string kGenuine = "FB32A14FEE34FDAD64471BDC71115D5D7FC2D766830A69C3B114B065A97E0201"; // kAlice

class KeptStore final : public StoreSource {
public:
    SiteStore& StoreFor(const std::string&) override { return m_store; }
    void Forget() override {}
    InMemorySiteStore& Store() { return m_store; }

private:
    InMemorySiteStore m_store;
};

// A database that is away: every request finds it so, and drops it.
class AbsentStore final : public StoreSource {
public:
    SiteStore& StoreFor(const std::string& address) override
    {
        throw StoreError(address + ": could not connect", StoreError::Kind::Unreachable);
    }
    void Forget() override { ++forgotten; }
    int forgotten = 0;
};

using Parameters = std::map<std::string, std::string>;

// The request as the web server hands it over, under settings that trust 10.0.0.1 as a proxy
// and let 192.0.2.0/28 read the metrics.
Response ServeRequest(StoreSource& stores, const Parameters& parameters, Role role = Role::Responder,
                      const BodyReader& body = {})
{
    const char* const environment[] = {"ENTRAVO_SITE_TRUSTED_PROXIES=10.0.0.1",
                                       "ENTRAVO_SITE_METRICS_FROM=192.0.2.0/28", nullptr};
    const Settings settings = Settings::Parse("", "site.conf", environment);
    const ParameterLookup lookup = [&](const char* name) -> const char* {
        const auto found = parameters.find(name);
        return found == parameters.end() ? nullptr : found->second.c_str();
    };
    return Serve(lookup, body, settings, stores, 1'800'000'000, role);
}

Parameters Get(const std::string& scriptName, const std::string& pathInfo, const std::string& query = "")
{
    return {{"REQUEST_METHOD", "GET"}, {"SCRIPT_NAME", scriptName},
            {"PATH_INFO", pathInfo},   {"REQUEST_URI", scriptName + pathInfo},
            {"QUERY_STRING", query},   {"REMOTE_ADDR", "192.0.2.7"}};
}

std::string SetCookie(const Response& response)
{
    for (const auto& [name, value] : response.headers) {
        if (name == "Set-Cookie")
            return value;
    }
    return "";
}

} // namespace

// A web server that does not split the path would hand a proxy's session check to the welcome
// page; such a request gets an error, never a page a proxy could take for a pass.
TEST(Gateway, APathTheWebServerDidNotSplitIsRefusedAndTheLogSaysHowToSplitIt)
{
    KeptStore stores;
    for (const Parameters& unsplit : {
             Parameters{{"REQUEST_METHOD", "GET"}, {"SCRIPT_NAME", "/entravo/login.fcgi/auth"}},
             Parameters{{"REQUEST_METHOD", "GET"}, {"SCRIPT_NAME", "/entravo/login.fcgi/verify"}},
             Parameters{{"REQUEST_METHOD", "GET"}, {"SCRIPT_NAME", "/entravo/login.fcgi/auth/x"}},
             Parameters{{"REQUEST_METHOD", "GET"},
                        {"SCRIPT_NAME", "/entravo/login.fcgi"},
                        {"DOCUMENT_URI", "/entravo/login.fcgi/auth"}},
             Parameters{{"REQUEST_METHOD", "GET"},
                        {"SCRIPT_NAME", "/entravo/login.fcgi"},
                        {"REQUEST_URI", "/entravo/login.fcgi/auth?x=1"}},
         }) {
        const Response response = ServeRequest(stores, unsplit);
        EXPECT_EQ(500, response.status) << unsplit.at("SCRIPT_NAME");
        EXPECT_NE(std::string::npos, response.log.find("without splitting off its PATH_INFO")) << response.log;
        EXPECT_NE(std::string::npos, response.log.find("fastcgi_split_path_info")) << response.log;
    }
    // An nginx subrequest carries the main request's REQUEST_URI; with its PATH_INFO it is the check.
    Parameters subrequest = Get("/entravo/login.fcgi", "/auth");
    subrequest["REQUEST_URI"] = "/app/verify";
    EXPECT_EQ(401, ServeRequest(stores, subrequest).status);
    EXPECT_EQ(401, ServeRequest(stores, Get("/entravo/login.fcgi", "")).status);
}

TEST(Gateway, OnlyATrustedProxySaysTheClientCameOverHttps)
{
    KeptStore stores;
    stores.Store().Enroll(kAlice, "alice");
    Parameters untrusted = Get("/entravo/login.fcgi", "", "Authenticate=" + kGenuine);
    untrusted["HTTP_X_FORWARDED_PROTO"] = "https";
    const Response plain = ServeRequest(stores, untrusted);
    EXPECT_EQ(303, plain.status);
    EXPECT_FALSE(SetCookie(plain).ends_with("; Secure")) << SetCookie(plain);

    Parameters proxied =
        Get("/entravo/login.fcgi", "",
            "Authenticate=" + EncodeAuthenticator(RomRecord{{1, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}}, 7));
    proxied["REMOTE_ADDR"] = "10.0.0.1";
    proxied["HTTP_X_FORWARDED_PROTO"] = "HTTPS, http";
    const Response secure = ServeRequest(stores, proxied);
    EXPECT_EQ(303, secure.status);
    EXPECT_TRUE(SetCookie(secure).ends_with("; Secure")) << SetCookie(secure);
}

// An authorizer's parameters are those of the request it guards: a path that would look
// unsplit to the login page is the application's own, and every method is asked about.
TEST(Gateway, AnAuthorizerIsNeverTakenForAnUnsplitPath)
{
    KeptStore stores;
    const Parameters guarded{{"REQUEST_METHOD", "POST"},
                             {"SCRIPT_NAME", "/app/login.fcgi/verify"},
                             {"REQUEST_URI", "/app/login.fcgi/verify"},
                             {"REMOTE_ADDR", "192.0.2.7"}};
    EXPECT_EQ(500, ServeRequest(stores, guarded).status);
    EXPECT_EQ(401, ServeRequest(stores, guarded, Role::Authorizer).status);
}

// A body is read for a responder's POST only, and only when it is no longer than the site reads.
TEST(Gateway, APostsBodyIsReadByItsLengthUpToItsBound)
{
    KeptStore stores;
    std::vector<std::size_t> asked;
    const BodyReader body = [&](std::size_t length) {
        asked.push_back(length);
        return std::string(length, 'x');
    };
    Parameters post = Get("/entravo/login.fcgi", "");
    post["REQUEST_METHOD"] = "POST";
    post["CONTENT_LENGTH"] = std::to_string(kMostBodyBytes);
    EXPECT_EQ(303, ServeRequest(stores, post, Role::Responder, body).status);
    post["CONTENT_LENGTH"] = std::to_string(kMostBodyBytes + 1);
    EXPECT_EQ(413, ServeRequest(stores, post, Role::Responder, body).status);
    post["CONTENT_LENGTH"] = "-1";
    EXPECT_EQ(413, ServeRequest(stores, post, Role::Responder, body).status);
    post["CONTENT_LENGTH"] = std::to_string(kMostBodyBytes + 1);
    EXPECT_EQ(401, ServeRequest(stores, post, Role::Authorizer, body).status) << "the guarded request's body";
    EXPECT_EQ(std::vector<std::size_t>{kMostBodyBytes}, asked);
}

TEST(Gateway, AStoreThatCannotBeHadIsAnsweredAsTheRouteAnswersFailuresAndDropped)
{
    AbsentStore stores;
    const Response page = ServeRequest(stores, Get("/entravo/login.fcgi", ""));
    EXPECT_EQ(503, page.status);
    EXPECT_EQ("/var/lib/entravo-site/site.db: could not connect", page.log);
    const Response api = ServeRequest(stores, Get("/entravo/login.fcgi", "/verify", "id=1&nonce=abcdefghijklmnop1234"));
    EXPECT_EQ(200, api.status);
    EXPECT_EQ("{\"status\":\"BACKEND_ERROR\",\"nonce\":\"abcdefghijklmnop1234\",\"t\":\"2027-01-15T08:00:00Z\"}\n",
              api.body);
    EXPECT_EQ(2, stores.forgotten);
}

// The metrics are for the client the settings allow, the one a trusted proxy forwards for too.
TEST(Gateway, OnlyTheAddressesOfTheSettingReadTheMetrics)
{
    KeptStore stores;
    EXPECT_EQ(200, ServeRequest(stores, Get("/entravo/login.fcgi", "/metrics")).status);
    Parameters outside = Get("/entravo/login.fcgi", "/metrics");
    outside["REMOTE_ADDR"] = "192.0.2.16";
    EXPECT_EQ(404, ServeRequest(stores, outside).status);
    outside["REMOTE_ADDR"] = "10.0.0.1";
    outside["HTTP_X_FORWARDED_FOR"] = "192.0.2.3";
    EXPECT_EQ(200, ServeRequest(stores, outside).status);
    outside["HTTP_X_FORWARDED_FOR"] = "198.51.100.3";
    EXPECT_EQ(404, ServeRequest(stores, outside).status);
}
