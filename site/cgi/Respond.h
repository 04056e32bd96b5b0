#pragma once
// The road of one request, once a front end has read it (site/cgi/Gateway.h): the routing
// table picks the handler for the request's role, path and method; the handler answers with
// the store the settings name; a store that cannot be had or fails on the way is answered as
// the route answers failures, and dropped. Every path, the ones to come included, is one row of
// the table in Respond.cpp:
//   (the program)  GET with a logon link: sign-in; GET without: the welcome page; POST: sign-out
//   /auth          the session check a reverse proxy makes, for any method (LoginPage.h)
//   /verify        the signed API for applications (VerifyApi.h)
//   /metrics       the metrics for Prometheus, to the addresses allowed them (Metrics.h)
//   /admin         the admin page, and its Revoke buttons' posts (Admin.h)
//   /.well-known/openid-configuration, /jwks, /authorize, /continue, /token, /userinfo
//                  the OpenID Connect provider (OidcProvider.h)
//   any path       the session check, when a FastCGI authorizer asks
#include "site/cgi/Exchange.h"
#include "site/cgi/LoginPage.h"

#include <cstddef>
#include <string>
#include <string_view>

// Where the road gets its store for the address a request's settings name.
class StoreSource {
public:
    virtual ~StoreSource() = default;
    // StoreError when it cannot be had.
    virtual SiteStore& StoreFor(const std::string& address) = 0;
    // The store failed: the next request starts from a fresh one.
    virtual void Forget() = 0;
};

Response Respond(const Request& request, StoreSource& stores, const std::string& storeAddress,
                 Verifier verify = VerifyAuthenticator);

// The same with a store in hand, which is never dropped.
Response Respond(const Request& request, SiteStore& store, Verifier verify = VerifyAuthenticator);

// Whether a path ends in a sub-path of the table (/auth, /verify): a web server that left it
// unsplit would hand the request to the program's own page.
bool EndsWithSubPath(std::string_view path);
