#include "site/cgi/Gateway.h"

#include "site/cgi/ClientOrigin.h"
#include "site/cgi/VerifyApi.h"
#include "site/store/OpenStore.h"

#include <sys/random.h>

namespace {

// One request in this many does a share of the store's clean-up.
constexpr uint8_t kTidyOneIn = 64;

std::string Parameter(const ParameterLookup& parameter, const char* name)
{
    const char* value = parameter(name);
    return value ? value : "";
}

bool DrawTidyChance()
{
    uint8_t byte = 0;
    return getrandom(&byte, 1, 0) == 1 && byte % kTidyOneIn == 0;
}

} // namespace

SiteStore& FreshStoreSource::StoreFor(const std::string& address)
{
    m_store = OpenStore(address);
    return *m_store;
}

Response Serve(const ParameterLookup& parameter, StoreSource& stores, int64_t now)
{
    const std::string address = Parameter(parameter, "ENTRAVO_SITE_DB");
    if (address.empty())
        return Unavailable("ENTRAVO_SITE_DB does not name the site database");
    std::string problem;
    const auto proxies = ProxyList::Parse(Parameter(parameter, "ENTRAVO_SITE_TRUSTED_PROXIES"), problem);
    if (!proxies)
        return Unavailable("ENTRAVO_SITE_TRUSTED_PROXIES: " + problem);
    const auto token = DrawSessionToken();
    if (!token)
        return Unavailable("the operating system gave no random bits");

    Request request;
    request.method = Parameter(parameter, "REQUEST_METHOD");
    request.query = Parameter(parameter, "QUERY_STRING");
    request.clientAddress =
        ClientAddress(Parameter(parameter, "REMOTE_ADDR"), Parameter(parameter, "HTTP_X_FORWARDED_FOR"), *proxies);
    request.cookies = Parameter(parameter, "HTTP_COOKIE");
    request.secure = Parameter(parameter, "HTTPS") == "on";
    request.scriptPath = Parameter(parameter, "SCRIPT_NAME");
    request.pathInfo = Parameter(parameter, "PATH_INFO");
    request.now = now;
    request.newSession = *token;
    request.tidy = DrawTidyChance();

    Response response;
    try {
        response = Respond(request, stores.StoreFor(address));
    } catch (const StoreError& error) {
        response = request.pathInfo == "/verify" ? VerifyUnavailable(request, error.what())
                                                 : Unavailable(error.what(), error.temporary());
        response.storeFailed = true;
    }
    if (response.storeFailed)
        stores.Forget();
    return response;
}
