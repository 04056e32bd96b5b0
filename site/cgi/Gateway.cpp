#include "site/cgi/Gateway.h"

#include "site/cgi/ClientOrigin.h"
#include "site/cgi/ProcessCounts.h"
#include "site/store/OpenStore.h"

#include <sys/random.h>

#include <atomic>
#include <charconv>
#include <exception>

namespace {

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
           EndsWithSubPath(path);
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

Request ReadRequest(const ParameterLookup& parameter, const Settings& settings, int64_t now, Role role,
                    const SessionToken& newSession)
{
    const ProxyList& proxies = settings.Addresses(kTrustedProxiesSetting);
    Request request;
    const std::string peer = Parameter(parameter, "REMOTE_ADDR");
    request.role = role;
    request.method = Parameter(parameter, "REQUEST_METHOD");
    request.query = Parameter(parameter, "QUERY_STRING");
    request.contentType = Parameter(parameter, "CONTENT_TYPE");
    request.clientAddress = ClientAddress(peer, Parameter(parameter, "HTTP_X_FORWARDED_FOR"), proxies);
    const auto client = ParseIpAddress(request.clientAddress);
    request.mayScrape = client && settings.Addresses(kMetricsFromSetting).Contains(*client);
    request.cookies = Parameter(parameter, "HTTP_COOKIE");
    request.secure = Parameter(parameter, "HTTPS") == "on" ||
                     ForwardedOverHttps(peer, Parameter(parameter, "HTTP_X_FORWARDED_PROTO"), proxies);
    request.scriptPath = Parameter(parameter, "SCRIPT_NAME");
    request.pathInfo = Parameter(parameter, "PATH_INFO");
    request.authorization = Parameter(parameter, "HTTP_AUTHORIZATION");
    request.issuer = settings.Text(kIssuerSetting);
    request.now = now;
    request.newSession = newSession;
    request.tidy = DrawTidyChance();
    return request;
}

// A POST's body by its CONTENT_LENGTH; nothing when it is longer than the site reads, or the
// length is not a number.
std::optional<std::string> BodyOf(const ParameterLookup& parameter, const BodyReader& body, const std::string& method)
{
    const std::string length = Parameter(parameter, "CONTENT_LENGTH");
    if (method != "POST" || length.empty())
        return std::string();
    std::size_t bytes = 0;
    const auto [end, error] = std::from_chars(length.data(), length.data() + length.size(), bytes);
    if (error != std::errc() || end != length.data() + length.size() || bytes > kMostBodyBytes)
        return std::nullopt;
    return body ? body(bytes) : std::string();
}

} // namespace

SiteStore& FreshStoreSource::StoreFor(const std::string& address)
{
    if (!m_store)
        m_store = OpenStore(address);
    return *m_store;
}

Response Serve(const ParameterLookup& parameter, const BodyReader& body, const Settings& settings, StoreSource& stores,
               int64_t now, Role role)
{
    // An authorizer's parameters are those of the request it guards, whose path is not ours.
    if (const auto path = role == Role::Responder ? UnsplitPath(parameter) : std::nullopt)
        return Unavailable("the web server passed " + *path +
                           " without splitting off its PATH_INFO; answered 500, which no session check takes for"
                           " a pass (with nginx: fastcgi_split_path_info and fastcgi_param PATH_INFO, as the"
                           " package's snippet does)");
    const auto token = DrawSessionToken();
    if (!token)
        return Unavailable("the operating system gave no random bits");
    try {
        Request request = ReadRequest(parameter, settings, now, role, *token);
        // An authorizer is handed the headers of the request it guards, never its body.
        auto text = role == Role::Responder ? BodyOf(parameter, body, request.method) : std::string();
        if (!text)
            return TooLarge();
        request.body = std::move(*text);
        return Respond(request, stores, settings.Text(kDatabaseSetting));
    } catch (const std::exception& error) {
        stores.Forget();
        return Unavailable(std::string("unexpected failure: ") + error.what());
    }
}

void OpenAhead(const Settings& settings, StoreSource& stores)
{
    try {
        stores.StoreFor(settings.Text(kDatabaseSetting));
    } catch (const std::exception&) {
        stores.Forget();
    }
}

void WriteCountsWhenDue(const Settings& settings, StoreSource& stores, int64_t now, int everySeconds)
{
    static std::atomic<int64_t> lastWritten{0};
    int64_t last = lastWritten.load();
    // One thread of the process writes; the others go on.
    if (!CountsPending() || now - last < everySeconds || !lastWritten.compare_exchange_strong(last, now))
        return;
    try {
        WriteCounts(stores.StoreFor(settings.Text(kDatabaseSetting)));
    } catch (const std::exception&) {
        stores.Forget();
    }
}
