#pragma once
// The login page as an OpenID Connect provider of the code flow: the handlers of the routing
// table's provider rows, below the issuer (ENTRAVO_SITE_ISSUER, the login page's own public
// address; never the request's Host):
//   /.well-known/openid-configuration, /jwks            what the provider publishes
//   /authorize (GET, POST)                               a code for a live session at once, or
//                                                        the page that waits for the token
//   /continue                                            where the waiting page looks again
//   /token (POST), /userinfo (GET, POST)                 for the application's server
// The decisions are site/oidc's; these handlers join them to the store and the session. A
// browser without a session keeps the request waiting under a cookie of its own; the agent opens
// the sign-in in another tab of the same browser, so the waiting page's next look and the
// welcome page after the sign-in may both try to continue it: the store lets the first one.
#include "site/cgi/Exchange.h"
#include "site/settings/Settings.h"

#include <string>

Response ProviderDiscovery(Exchange& exchange, SiteStore& store);
Response ProviderJwks(Exchange& exchange, SiteStore& store);
Response ProviderAuthorize(Exchange& exchange, SiteStore& store);
Response ProviderContinue(Exchange& exchange, SiteStore& store);
Response ProviderToken(Exchange& exchange, SiteStore& store);
Response ProviderUserinfo(Exchange& exchange, SiteStore& store);
// A store failure at an endpoint that answers JSON: server_error, 503 while it is temporary.
Response ProviderFailed(const Exchange& exchange, const StoreError& error);

// The welcome page after a sign-in, unless the browser has an authorization waiting for it: then
// on to the application with the code, or the welcome page saying that another tab went on.
Response ContinueWaitingSignIn(Exchange& exchange, SiteStore& store, const SessionHolder& holder, Response welcome);

// Why the issuer setting cannot be one; empty when it can or is not set (no provider).
std::string IssuerSettingProblem(const Settings& settings);
