#pragma once
// The login page as a function from one request to one response: a logon link is verified,
// accepted at most once and turned into a session cookie and a redirect to the welcome page
// (the same program without a query), which greets the session's account and lets it sign out.
// The welcome page, like the session check, answers 2xx only for a live session: a proxy's
// session check sent to it by mistake never passes a visitor who is not signed in.
// Below the same program: /auth, the session check a reverse proxy makes before it passes a
// request on, and /verify, the signed API for applications (VerifyApi.h).
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

// The pages below the program's own path: the session check and the verification API.
inline constexpr std::string_view kSubPaths[] = {"/auth", "/verify"};

struct Request {
    std::string method;
    std::string query;         // as received, still percent-encoded
    std::string clientAddress; // the peer's, or the one a trusted proxy forwards for
    std::string cookies;       // the Cookie header
    bool secure = false;       // came over HTTPS, so the cookie may travel only that way
    std::string scriptPath;    // this program's own path, where the welcome page is
    std::string pathInfo;      // what follows it: nothing, /auth or /verify
    int64_t now = 0;           // seconds since 1970
    SessionToken newSession{}; // fresh random bits, used only when a logon is accepted
    bool tidy = false;         // this request does a share of the store's clean-up
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

using Verifier = Verification (*)(std::string_view text);

// One offered string (nothing when none could be read), start to end: charged to the origin's
// budgets before any search, verified, and admitted once, opening the session if the offer
// asks for one.
StringCheck CheckString(SiteStore& store, const Origin& origin, int64_t now, const std::optional<std::string>& text,
                        Verifier verify, const Offer& offer);

// A fault the store met after deciding a check: into the log, and the store dropped if it must be.
void NoteFault(Response& response, const StringCheck& check);

// verify is a seam for tests that count the searches.
Response Respond(const Request& request, SiteStore& store, Verifier verify = VerifyAuthenticator);

// The answer when the site cannot work: 503 with Retry-After while the trouble is temporary
// (busy, a full disk, the database away), 500 when the operator must act.
Response Unavailable(std::string log, bool temporary = false);

// The answer when the store was lost while it accepted the string and could not be asked what
// became of it: the link may be used up, so the visitor is sent for a new one, never back with it.
Response Undecided(std::string log);

// As a CGI program prints it: "Status:", the headers, a blank line, the body.
std::string CgiText(const Response& response);
