#include "site/cgi/LoginPage.h"

#include "site/cgi/ClientOrigin.h"
#include "site/cgi/OidcProvider.h"
#include "site/cgi/ProcessCounts.h"
#include "site/report/Markup.h"
#include "site/verifier/Identity.h"
#include "site/verifier/LogonInput.h"

#include <algorithm>

namespace {

constexpr std::string_view kFallbackWelcomePath = "/";

std::string SessionCookie(std::string_view value, int64_t maxAge, bool secure)
{
    return std::string(kSessionCookieName) + "=" + std::string(value) + "; Path=/; Max-Age=" + std::to_string(maxAge) +
           "; HttpOnly; SameSite=Lax" + (secure ? "; Secure" : "");
}

Response Redirect(const Request& request, std::string_view title, std::string_view message, std::string cookie)
{
    Response response = HtmlPage(303, title, message);
    response.headers.emplace_back("Location", OwnPath(request));
    response.headers.emplace_back("Set-Cookie", std::move(cookie));
    return response;
}

std::string TooManyAttempts(const Gate& gate)
{
    const std::string from = gate.network ? "your network (" + gate.exhausted + ")" : "your address";
    return "Too many failed sign-ins came from " + from + ". Wait a minute, then try again.";
}

Response Refused(const StringCheck& check)
{
    switch (check.outcome) {
    case Outcome::TooManyFailures: {
        Response response = HtmlPage(429, "Too many attempts", TooManyAttempts(check.gate));
        response.headers.emplace_back("Retry-After", std::to_string(kFailureBudgets.windowSeconds));
        return response;
    }
    case Outcome::Malformed:
        return HtmlPage(400, "Sign-in link damaged",
                        "This sign-in link is incomplete or damaged. Touch your token to the reader and sign in "
                        "again.");
    case Outcome::NotGenuine:
        return HtmlPage(403, "Sign-in refused", "This sign-in link was not made by an Entravo agent.");
    case Outcome::AlreadyUsed:
        return HtmlPage(409, "Link already used",
                        "This sign-in link was already used; each link works once. Touch your token to the reader "
                        "and sign in again.");
    default:
        return HtmlPage(403, "Sign-in refused",
                        "This token may not sign in to this site. If it should, ask the site's operator.");
    }
}

Response AnswerTo(const Request& request, const StringCheck& check)
{
    if (check.outcome != Outcome::Accepted) {
        Response refused = Refused(check);
        refused.log = SpentBudgetLine(check.gate);
        return refused;
    }
    Response response =
        Redirect(request, "Signed in", "You are signed in; the welcome page follows.",
                 SessionCookie(FormatSessionToken(request.newSession), kSessionLifetimeSeconds, request.secure));
    response.log = SignInLine(check, request.clientAddress, SignInPath::Page);
    return response;
}

} // namespace

// A short page with one heading and one paragraph; both are escaped here.
Response HtmlPage(int status, std::string_view title, std::string_view message, std::string_view head)
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
    response.body = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\"><title>" + EscapeMarkup(title) +
                    "</title>" + std::string(head) + "</head>\n<body><h1>" + EscapeMarkup(title) + "</h1>\n<p>" +
                    EscapeMarkup(message) + "</p></body></html>\n";
    return response;
}

void AppendToBody(Response& page, std::string_view markup)
{
    page.body.insert(page.body.rfind("</body>"), markup);
}

// The path only ever comes from the web server, but it lands in a header: only a plain path
// of this site, never "//host" (another site to a browser) or a backslash (the same to some).
std::string OwnPath(const Request& request)
{
    const std::string& path = request.scriptPath;
    const bool plain = path.size() >= 1 && path[0] == '/' && (path.size() == 1 || path[1] != '/') &&
                       std::all_of(path.begin(), path.end(), [](char c) { return c > 0x20 && c < 0x7F && c != '\\'; });
    return plain ? path : std::string(kFallbackWelcomePath);
}

std::optional<SignedIn> SessionOf(const Request& request, SiteStore& store)
{
    for (const SessionToken& token : SessionTokensFromCookies(request.cookies)) {
        if (auto holder = store.FindSession(HashOf(token), request.now - kSessionLifetimeSeconds))
            return SignedIn{std::move(*holder), token};
    }
    return std::nullopt;
}

Response NotSignedIn()
{
    return HtmlPage(401, "Not signed in",
                    "You are not signed in. Touch your token to the reader and double-click the Entravo icon.");
}

// Nothing of the request but its cookie counts: headers a client sends itself prove nothing.
Response SessionCheck(Exchange& exchange, SiteStore& store)
{
    const auto signedIn = SessionOf(exchange.request, store);
    CountEvent(kSessionCheckCount, signedIn ? "signed-in" : "not-signed-in");
    if (!signedIn)
        return HtmlPage(401, "Not signed in", "Sign in with your token first.");
    const SessionHolder& holder = signedIn->holder;
    Response response = HtmlPage(200, "Signed in", "Signed in as " + holder.account);
    response.headers.emplace_back("X-Entravo-Account", holder.account);
    response.headers.emplace_back("X-Entravo-Identity", FormatIdentity(holder.identity));
    // FastCGI authorizers pass these on to the application as ENTRAVO_ACCOUNT and ENTRAVO_IDENTITY.
    response.headers.emplace_back("Variable-ENTRAVO_ACCOUNT", holder.account);
    response.headers.emplace_back("Variable-ENTRAVO_IDENTITY", FormatIdentity(holder.identity));
    return response;
}

Response Welcome(Exchange& exchange, SiteStore& store)
{
    const Request& request = exchange.request;
    const auto signedIn = SessionOf(request, store);
    if (!signedIn)
        return NotSignedIn();
    Response response = HtmlPage(200, "Welcome", "Signed in as " + signedIn->holder.account);
    // The form posts to this page itself; the page's policy allows no other target.
    AppendToBody(response, "<form method=\"post\" action=\"" + EscapeMarkup(OwnPath(request)) +
                               "\"><button type=\"submit\">Sign out</button></form>");
    return ContinueWaitingSignIn(exchange, store, signedIn->holder, std::move(response));
}

// The verdict is what the store holds, even when the store met a fault after deciding it.
Response SignIn(Exchange& exchange, SiteStore& store)
{
    const Request& request = exchange.request;
    const StringCheck check = CheckOffer(exchange, store, OriginOf(request.clientAddress),
                                         AuthenticatorFromQuery(request.query).authenticator,
                                         {HashOf(request.newSession), true, SignInPath::Page});
    return AnswerTo(request, check);
}

Response SignOut(Exchange& exchange, SiteStore& store)
{
    const Request& request = exchange.request;
    for (const SessionToken& token : SessionTokensFromCookies(request.cookies))
        store.EndSession(HashOf(token));
    return Redirect(request, "Signed out", "You are signed out.", SessionCookie("", 0, request.secure));
}

Response PageFailed(const Exchange&, const StoreError& error)
{
    return error.kind() == StoreError::Kind::Unresolved ? Undecided({}) : Unavailable({}, error.temporary());
}

Response NotFound()
{
    return HtmlPage(404, "Not found", "This page does not exist.");
}

Response TooLarge()
{
    return HtmlPage(413, "Request too large", "This page reads no request this large.");
}

Response NotAllowed(std::string allow)
{
    Response response = HtmlPage(405, "Not allowed", "This page answers only links that are followed.");
    response.headers.emplace_back("Allow", std::move(allow));
    return response;
}

Response Unavailable(std::string log, bool temporary)
{
    Response response = HtmlPage(temporary ? 503 : 500, "Sign-in unavailable",
                                 "The site cannot sign you in right now. Try again shortly.");
    if (temporary)
        response.headers.emplace_back("Retry-After", std::to_string(kRetryAfterSeconds));
    response.log = std::move(log);
    return response;
}

Response Undecided(std::string log)
{
    Response response =
        HtmlPage(503, "Sign-in not confirmed",
                 "The site lost its database while it accepted this link, and cannot tell whether it was "
                 "used. Sign in with a new link: touch your token to the reader and double-click the "
                 "Entravo icon.");
    response.headers.emplace_back("Retry-After", std::to_string(kRetryAfterSeconds));
    response.log = std::move(log);
    return response;
}
