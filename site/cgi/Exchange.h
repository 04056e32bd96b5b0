#pragma once
// One request as the site's handlers see it, the answer they give, and what a handler leaves for
// the road to finish with. Which handler answers a request is the routing table's choice
// (site/cgi/Respond.cpp); the compiled-in values that tune the answers are here.
#include "site/cgi/Session.h"
#include "site/store/SiteStore.h"
#include "site/verifier/AuthenticatorVerifier.h"

#include <cstdint>
#include <optional>
#include <string>
#include <utility>
#include <vector>

// Failures allowed per address and network within a minute before requests are refused
// unchecked: junk then costs one indexed count, not a seed search. Many users can share a
// network, so it may fail more often than one address, but never more than five times as often.
inline constexpr Budgets kFailureBudgets{60, 20, 50, 100};
// Long enough for a busy store to drain or an operator to free space; short for a visitor.
inline constexpr int kRetryAfterSeconds = 30;
// One request in this many does a share of the store's clean-up.
inline constexpr uint8_t kTidyOneIn = 64;
// The largest body read: a form of the provider's (site/oidc/Form.h bounds them to this).
inline constexpr std::size_t kMostBodyBytes = 8192;

// How the web server asks: to answer the request (a page, the session check at /auth, the API),
// or, as a FastCGI authorizer, only whether the request it is about to serve may pass.
enum class Role { Responder, Authorizer };

struct Request {
    Role role = Role::Responder;
    std::string method;
    std::string query;         // as received, still percent-encoded
    std::string clientAddress; // the peer's, or the one a trusted proxy forwards for
    std::string cookies;       // the Cookie header
    bool secure = false;       // came over HTTPS, so the cookie may travel only that way
    std::string scriptPath;    // this program's own path, where the welcome page is
    std::string pathInfo;      // what follows it: nothing, /auth, /verify, the provider's paths
    std::string contentType;   // of a POST's body
    std::string body;          // a POST's, at most kMostBodyBytes
    std::string authorization; // the Authorization header
    std::string issuer;        // the OpenID Connect provider's (ENTRAVO_SITE_ISSUER); empty: none
    int64_t now = 0;           // seconds since 1970
    SessionToken newSession{}; // fresh random bits, used only when a logon is accepted
    bool tidy = false;         // this request does a share of the store's clean-up
    bool mayScrape = false;    // the client may read the metrics (ENTRAVO_SITE_METRICS_FROM)
};

struct Response {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // For the web server's error log only; never shown to the visitor.
    std::string log;
    // The store failed: a long-lived process connects again for the next request.
    bool storeFailed = false;
};

// The seed search; a seam for tests that count the searches.
using Verifier = Verification (*)(std::string_view text);

// One request on its way through its handler.
struct Exchange {
    Exchange(const Request& request, Verifier verify) : request(request), verify(verify) {}

    const Request& request;
    Verifier verify;
    // A fault the store met after it had decided a check: for the log, and the store dropped
    // when it must be.
    std::string fault;
    bool storeFailed = false;
    // The API's client proved who it is: from then on its answers are signed, a store
    // failure's included.
    std::optional<ClientKey> signingKey;
};

// A route's answer, with the store the request's settings name.
using Handler = Response (*)(Exchange& exchange, SiteStore& store);
// A route's answer when the store cannot be had or fails on the way; the road adds the error
// to the log and drops the store.
using FailureAnswer = Response (*)(const Exchange& exchange, const StoreError& error);

// One offered string (nothing when none could be read), start to end: charged to the origin's
// budgets before any search, verified, and admitted once, opening the session if the offer asks
// for one. A fault the store met after deciding is left in the exchange.
StringCheck CheckOffer(Exchange& exchange, SiteStore& store, const Origin& origin,
                       const std::optional<std::string>& text, const Offer& offer);

// The error log's line for an accepted sign-in, from the address through the path.
std::string SignInLine(const StringCheck& check, std::string_view address, SignInPath path);
// The error log's line when an address or network spends its budget: its first refusal in a
// window; nothing otherwise.
std::string SpentBudgetLine(const Gate& gate);

// One more line of a log that may hold some: "; " between them.
void AddToLog(std::string& log, std::string_view line);

// As a CGI program prints it: "Status:", the headers, a blank line, the body.
std::string CgiText(const Response& response);
