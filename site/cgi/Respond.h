#pragma once
// The login page as a function from one request to one response: a logon link is verified,
// accepted at most once and turned into a session cookie and a redirect to the welcome page
// (the same program without a query), which greets the session's account.
#include "site/cgi/Session.h"
#include "site/store/SiteStore.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

// More failed attempts than this from one address within the window are refused before any
// verification runs: junk then costs one indexed count, not a seed search.
inline constexpr int kFailureLimit = 20;
inline constexpr int64_t kFailureWindowSeconds = 60;
inline constexpr int64_t kSessionLifetimeSeconds = 12 * 60 * 60;

struct Request {
    std::string method;
    std::string query; // as received, still percent-encoded
    std::string remoteAddress;
    std::string cookies;       // the Cookie header
    bool secure = false;       // came over HTTPS, so the cookie may travel only that way
    std::string scriptPath;    // this program's own path, where the welcome page is
    int64_t now = 0;           // seconds since 1970
    SessionToken newSession{}; // fresh random bits, used only when a logon is accepted
};

struct Response {
    int status = 200;
    std::vector<std::pair<std::string, std::string>> headers;
    std::string body;
    // For the web server's error log only; never shown to the visitor.
    std::string log;
};

Response Respond(const Request& request, SiteStore& store);

// The answer when the site cannot work at all (no store, no random bits).
Response Unavailable(std::string log);

// As a CGI program prints it: "Status:", the headers, a blank line, the body.
std::string CgiText(const Response& response);

// Text made safe for HTML content and attribute values.
std::string EscapeHtml(std::string_view text);
