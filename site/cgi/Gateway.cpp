#include "site/cgi/Gateway.h"

#include "site/cgi/ClientOrigin.h"
#include "site/cgi/VerifyApi.h"
#include "site/store/OpenStore.h"

#include <sys/random.h>

#include <algorithm>

namespace {

// One request in this many does a share of the store's clean-up.
constexpr uint8_t kTidyOneIn = 64;
constexpr std::size_t kMostLoggedPath = 100;

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

bool NamesSubPath(std::string_view path)
{
    path = path.substr(0, path.find('?'));
    return path.find(".cgi/") != std::string_view::npos || path.find(".fcgi/") != std::string_view::npos ||
           std::any_of(std::begin(kSubPaths), std::end(kSubPaths),
                       [&](std::string_view sub) { return path.ends_with(sub); });
}

// A web server that did not split the program's path from what follows it would hand a session
// check for .../login.fcgi/auth to the welcome page, which a proxy could take for a pass: the
// path it was asked for, when the request looks like that. In an nginx subrequest REQUEST_URI
// is the main request's; a request that has its PATH_INFO is never taken for one.
std::optional<std::string> UnsplitPath(const ParameterLookup& parameter)
{
    if (!Parameter(parameter, "PATH_INFO").empty())
        return std::nullopt;
    for (const char* name : {"SCRIPT_NAME", "DOCUMENT_URI", "REQUEST_URI"}) {
        const std::string path = Parameter(parameter, name);
        if (NamesSubPath(path))
            return path.substr(0, kMostLoggedPath);
    }
    return std::nullopt;
}

} // namespace

SiteStore& FreshStoreSource::StoreFor(const std::string& address)
{
    m_store = OpenStore(address);
    return *m_store;
}

Response Serve(const ParameterLookup& parameter, const Settings& settings, StoreSource& stores, int64_t now)
{
    if (const auto path = UnsplitPath(parameter))
        return Unavailable("the web server passed " + *path +
                           " without splitting off its PATH_INFO; answered 500, which no session check takes for"
                           " a pass (with nginx: fastcgi_split_path_info and fastcgi_param PATH_INFO, as the"
                           " package's snippet does)");
    std::string problem;
    const auto proxies = ProxyList::Parse(settings.Text(kTrustedProxiesSetting), problem);
    if (!proxies)
        return Unavailable(std::string(kTrustedProxiesSetting) + ": " + problem);
    const auto token = DrawSessionToken();
    if (!token)
        return Unavailable("the operating system gave no random bits");

    Request request;
    const std::string peer = Parameter(parameter, "REMOTE_ADDR");
    request.method = Parameter(parameter, "REQUEST_METHOD");
    request.query = Parameter(parameter, "QUERY_STRING");
    request.clientAddress = ClientAddress(peer, Parameter(parameter, "HTTP_X_FORWARDED_FOR"), *proxies);
    request.cookies = Parameter(parameter, "HTTP_COOKIE");
    request.secure = Parameter(parameter, "HTTPS") == "on" ||
                     ForwardedOverHttps(peer, Parameter(parameter, "HTTP_X_FORWARDED_PROTO"), *proxies);
    request.scriptPath = Parameter(parameter, "SCRIPT_NAME");
    request.pathInfo = Parameter(parameter, "PATH_INFO");
    request.now = now;
    request.newSession = *token;
    request.tidy = DrawTidyChance();

    Response response;
    try {
        response = Respond(request, stores.StoreFor(settings.Text(kDatabaseSetting)));
    } catch (const StoreError& error) {
        response = request.pathInfo == "/verify" ? VerifyUnavailable(request, error.what())
                                                 : Unavailable(error.what(), error.temporary());
        response.storeFailed = true;
    }
    if (response.storeFailed)
        stores.Forget();
    return response;
}
