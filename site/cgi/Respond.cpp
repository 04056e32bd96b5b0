#include "site/cgi/Respond.h"

#include "site/verifier/AuthenticatorVerifier.h"
#include "site/verifier/LogonInput.h"

#include <algorithm>

namespace {

constexpr std::string_view kFallbackWelcomePath = "/";

std::string_view ReasonPhrase(int status)
{
    switch (status) {
    case 200:
        return "OK";
    case 303:
        return "See Other";
    case 400:
        return "Bad Request";
    case 403:
        return "Forbidden";
    case 405:
        return "Method Not Allowed";
    case 409:
        return "Conflict";
    case 429:
        return "Too Many Requests";
    default:
        return "Internal Server Error";
    }
}

// A short page with one heading and one paragraph; both are escaped here.
Response Page(int status, std::string_view title, std::string_view message)
{
    Response response;
    response.status = status;
    response.headers = {
        {"Content-Type", "text/html; charset=utf-8"},
        {"Cache-Control", "no-store"},
        {"Content-Security-Policy", "default-src 'none'"},
        {"X-Content-Type-Options", "nosniff"},
        // The address of a sign-in request holds the authenticator; never pass it on.
        {"Referrer-Policy", "no-referrer"},
    };
    response.body = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + EscapeHtml(title) +
                    "</title></head>\n<body><h1>" + EscapeHtml(title) + "</h1>\n<p>" + EscapeHtml(message) +
                    "</p></body></html>\n";
    return response;
}

// The path only ever comes from the web server, but it lands in a header.
std::string WelcomePath(const Request& request)
{
    const std::string& path = request.scriptPath;
    const bool plain = !path.empty() && path.front() == '/' &&
                       std::all_of(path.begin(), path.end(), [](char c) { return c > 0x20 && c < 0x7F; });
    return plain ? path : std::string(kFallbackWelcomePath);
}

Response Welcome(const Request& request, SiteStore& store)
{
    const auto token = SessionTokenFromCookies(request.cookies);
    const auto account =
        token ? store.SessionAccount(HashOf(*token), request.now - kSessionLifetimeSeconds) : std::nullopt;
    if (!account)
        return Page(200, "Not signed in",
                    "You are not signed in. Touch your token to the reader and double-click the Entravo icon.");
    return Page(200, "Welcome", "Signed in as " + *account);
}

Response Accepted(const Request& request)
{
    Response response = Page(303, "Signed in", "You are signed in; the welcome page follows.");
    const std::string location = WelcomePath(request);
    response.headers.emplace_back("Location", location);
    response.headers.emplace_back("Set-Cookie", std::string(kSessionCookieName) + "=" +
                                                    FormatSessionToken(request.newSession) +
                                                    "; Path=/; Max-Age=" + std::to_string(kSessionLifetimeSeconds) +
                                                    "; HttpOnly; SameSite=Lax" + (request.secure ? "; Secure" : ""));
    return response;
}

Response Refused(Outcome outcome)
{
    switch (outcome) {
    case Outcome::TooManyFailures: {
        Response response = Page(429, "Too many attempts",
                                 "Too many failed sign-ins came from your address. Wait a minute, then try again.");
        response.headers.emplace_back("Retry-After", std::to_string(kFailureWindowSeconds));
        return response;
    }
    case Outcome::Malformed:
        return Page(400, "Sign-in link damaged",
                    "This sign-in link is incomplete or damaged. Touch your token to the reader and sign in again.");
    case Outcome::NotGenuine:
        return Page(403, "Sign-in refused", "This sign-in link was not made by an Entravo agent.");
    case Outcome::AlreadyUsed:
        return Page(409, "Link already used",
                    "This sign-in link was already used; each link works once. Touch your token to the reader and "
                    "sign in again.");
    default:
        return Page(403, "Sign-in refused",
                    "This token may not sign in to this site. If it should, ask the site's operator.");
    }
}

Response SignIn(const Request& request, SiteStore& store)
{
    Attempt attempt{request.now, request.remoteAddress, std::nullopt, Outcome::TooManyFailures};
    if (store.CountFailures(request.remoteAddress, request.now - kFailureWindowSeconds, kFailureLimit) >=
        kFailureLimit) {
        store.Record(attempt);
        return Refused(attempt.outcome);
    }

    const AuthenticatorInput input = AuthenticatorFromQuery(request.query);
    const Verification verification = input.authenticator ? VerifyAuthenticator(*input.authenticator) : Verification{};
    attempt.identity = verification.identity;
    if (verification.verdict != Verdict::Genuine) {
        attempt.outcome = verification.verdict == Verdict::Malformed ? Outcome::Malformed : Outcome::NotGenuine;
        store.Record(attempt);
        return Refused(attempt.outcome);
    }

    const Admission admission = store.Admit(
        {request.now, request.remoteAddress, *verification.identity, verification.seed, HashOf(request.newSession)});
    return admission.outcome == Outcome::Accepted ? Accepted(request) : Refused(admission.outcome);
}

} // namespace

Response Respond(const Request& request, SiteStore& store)
{
    if (request.method != "GET") {
        Response response = Page(405, "Not allowed", "This page answers only links that are followed.");
        response.headers.emplace_back("Allow", "GET");
        return response;
    }
    try {
        return request.query.empty() ? Welcome(request, store) : SignIn(request, store);
    } catch (const StoreError& error) {
        return Unavailable(error.what());
    }
}

Response Unavailable(std::string log)
{
    Response response = Page(500, "Sign-in unavailable", "The site cannot sign you in right now. Try again shortly.");
    response.log = std::move(log);
    return response;
}

std::string CgiText(const Response& response)
{
    std::string text =
        "Status: " + std::to_string(response.status) + " " + std::string(ReasonPhrase(response.status)) + "\r\n";
    for (const auto& [name, value] : response.headers)
        text += name + ": " + value + "\r\n";
    return text + "\r\n" + response.body;
}

std::string EscapeHtml(std::string_view text)
{
    std::string escaped;
    escaped.reserve(text.size());
    for (const char c : text) {
        switch (c) {
        case '&':
            escaped += "&amp;";
            break;
        case '<':
            escaped += "&lt;";
            break;
        case '>':
            escaped += "&gt;";
            break;
        case '"':
            escaped += "&quot;";
            break;
        case '\'':
            escaped += "&#39;";
            break;
        default:
            escaped += c;
        }
    }
    return escaped;
}
