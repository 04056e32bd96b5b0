#include "site/cgi/Respond.h"

#include "site/cgi/Admin.h"
#include "site/cgi/Metrics.h"
#include "site/cgi/OidcProvider.h"
#include "site/cgi/ProcessCounts.h"
#include "site/cgi/VerifyApi.h"

#include <algorithm>
#include <vector>

namespace {

// Whether the request's query matters to the route.
enum class Query { Any, None, Some };

// Who may learn that a path is there: everyone, or only the addresses the metrics are for; to
// any other the path does not exist.
enum class Audience { Everyone, Scrapers };

constexpr std::string_view kEveryPath = "*";
constexpr std::string_view kEveryMethod = "*";

struct Route {
    Role role;
    std::string_view path; // what follows the program's own path; "" is the program itself
    std::string_view method;
    Query query;
    Handler answer;
    FailureAnswer failed;
    Audience audience;
};

// The first row that fits answers. A path with rows but none for the request's method (or
// query) is 405, listing the methods of its rows; a path without rows is 404.
constexpr Route kRoutes[] = {
    // The request is the one the web server is about to serve, whatever its path: only whether
    // it may pass is asked.
    {Role::Authorizer, kEveryPath, kEveryMethod, Query::Any, SessionCheck, PageFailed, Audience::Everyone},
    // The session check answers for the request it guards, whatever its method: a signed-in
    // user's form (POST) passes, anyone else's GET does not.
    {Role::Responder, "/auth", kEveryMethod, Query::Any, SessionCheck, PageFailed, Audience::Everyone},
    {Role::Responder, "/verify", "GET", Query::Any, VerifyForClient, VerifyFailed, Audience::Everyone},
    {Role::Responder, "/metrics", "GET", Query::Any, ServeMetrics, MetricsFailed, Audience::Scrapers},
    {Role::Responder, "/admin", "GET", Query::None, ShowAdminPage, PageFailed, Audience::Everyone},
    {Role::Responder, "/admin", "POST", Query::None, PostAdminForm, PageFailed, Audience::Everyone},
    {Role::Responder, "/.well-known/openid-configuration", "GET", Query::Any, ProviderDiscovery, ProviderFailed,
     Audience::Everyone},
    {Role::Responder, "/jwks", "GET", Query::Any, ProviderJwks, ProviderFailed, Audience::Everyone},
    {Role::Responder, "/authorize", "GET", Query::Any, ProviderAuthorize, PageFailed, Audience::Everyone},
    {Role::Responder, "/authorize", "POST", Query::Any, ProviderAuthorize, PageFailed, Audience::Everyone},
    {Role::Responder, "/continue", "GET", Query::Any, ProviderContinue, PageFailed, Audience::Everyone},
    {Role::Responder, "/token", "POST", Query::Any, ProviderToken, ProviderFailed, Audience::Everyone},
    {Role::Responder, "/userinfo", "GET", Query::Any, ProviderUserinfo, ProviderFailed, Audience::Everyone},
    {Role::Responder, "/userinfo", "POST", Query::Any, ProviderUserinfo, ProviderFailed, Audience::Everyone},
    {Role::Responder, "", "GET", Query::None, Welcome, PageFailed, Audience::Everyone},
    {Role::Responder, "", "GET", Query::Some, SignIn, PageFailed, Audience::Everyone},
    {Role::Responder, "", "POST", Query::None, SignOut, PageFailed, Audience::Everyone},
};

bool OnPath(const Route& route, const Request& request)
{
    return route.role == request.role && (route.path == kEveryPath || route.path == request.pathInfo) &&
           (route.audience == Audience::Everyone || request.mayScrape);
}

bool Fits(const Route& route, const Request& request)
{
    return OnPath(route, request) && (route.method == kEveryMethod || route.method == request.method) &&
           (route.query == Query::Any || (route.query == Query::None) == request.query.empty());
}

const Route* RouteOf(const Request& request)
{
    const auto route =
        std::find_if(std::begin(kRoutes), std::end(kRoutes), [&](const Route& row) { return Fits(row, request); });
    return route == std::end(kRoutes) ? nullptr : route;
}

// 404 or 405 for a request no row fits.
Response Unrouted(const Request& request)
{
    std::vector<std::string_view> methods;
    for (const Route& route : kRoutes) {
        if (OnPath(route, request) && std::find(methods.begin(), methods.end(), route.method) == methods.end())
            methods.push_back(route.method);
    }
    if (methods.empty())
        return NotFound();
    std::string allow;
    for (const std::string_view method : methods)
        allow += (allow.empty() ? "" : ", ") + std::string(method);
    return NotAllowed(allow);
}

// The answer stands whatever the clean-up meets: a string it accepted is used up.
void Tidy(const Request& request, SiteStore& store, Response& response)
{
    try {
        store.Tidy(request.now);
    } catch (const StoreError& error) {
        CountEvent(kStoreErrorCount, error.KindName());
        AddToLog(response.log, std::string("clean-up: ") + error.what());
    }
}

// The one place a store's failure becomes an answer: the route's, with the error in the log.
Response Answer(const Route& route, const Request& request, StoreSource& stores, const std::string& storeAddress,
                Verifier verify)
{
    Exchange exchange(request, verify);
    try {
        SiteStore& store = stores.StoreFor(storeAddress);
        Response response = route.answer(exchange, store);
        if (!exchange.fault.empty())
            AddToLog(response.log, exchange.fault);
        response.storeFailed = exchange.storeFailed;
        if (request.tidy)
            Tidy(request, store, response);
        return response;
    } catch (const StoreError& error) {
        CountEvent(kStoreErrorCount, error.KindName());
        Response response = route.failed(exchange, error);
        response.log = error.what();
        response.storeFailed = true;
        return response;
    }
}

// A store the caller holds, for as long as the request lasts.
class StoreInHand final : public StoreSource {
public:
    explicit StoreInHand(SiteStore& store) : m_store(store) {}
    SiteStore& StoreFor(const std::string&) override { return m_store; }
    void Forget() override {}

private:
    SiteStore& m_store;
};

} // namespace

Response Respond(const Request& request, StoreSource& stores, const std::string& storeAddress, Verifier verify)
{
    const Route* route = RouteOf(request);
    if (!route)
        return Unrouted(request);
    Response response = Answer(*route, request, stores, storeAddress, verify);
    if (response.storeFailed)
        stores.Forget();
    return response;
}

Response Respond(const Request& request, SiteStore& store, Verifier verify)
{
    StoreInHand held(store);
    return Respond(request, held, {}, verify);
}

bool EndsWithSubPath(std::string_view path)
{
    return std::any_of(std::begin(kRoutes), std::end(kRoutes), [&](const Route& route) {
        return route.role == Role::Responder && !route.path.empty() && path.ends_with(route.path);
    });
}
