#pragma once
// The probe's few requests: plain HTTP/1.0 over a socket to the web server on the site's own
// machine, one request per connection. Enough to read a status, headers and the start of a
// body; nothing a browser needs (no TLS, no redirects followed).
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

struct HttpUrl {
    std::string host; // a name or an address; an IPv6 address without its brackets
    std::string port;
    std::string path; // begins with '/'
};

// http://HOST[:PORT]/PATH, without a query or a fragment; nothing for anything else.
std::optional<HttpUrl> ParseHttpUrl(std::string_view text);

struct HttpAnswer {
    int status = 0;
    std::vector<std::pair<std::string, std::string>> headers; // names in lower case
    std::string body;                                         // its first kMostBodyBytes

    // The first header of that name (lower case), or nothing.
    std::optional<std::string> Header(std::string_view name) const;
};

// More than the probe ever reads: a program's bytes are told from their first four.
inline constexpr std::size_t kMostBodyBytes = 64 * 1024;

// The answer's text as it came: status line, headers, a blank line, the body. Nothing when it
// is not HTTP.
std::optional<HttpAnswer> ParseHttpAnswer(std::string_view text);

// One request (target: the path and query); std::runtime_error, saying why, when the server
// cannot be reached within a few seconds or its answer is not HTTP.
HttpAnswer Fetch(const HttpUrl& url, std::string_view method, std::string_view target, std::string_view cookie);
