#pragma once
// The login page's answers, each a handler of the routing table (site/cgi/Respond.cpp): a logon
// link is verified, accepted at most once and turned into a session cookie and a redirect to
// the welcome page (the same program without a query), which greets the session's account and
// lets it sign out. The welcome page, like the session check, answers 2xx only for a live
// session: a proxy's session check sent to it by mistake never passes a visitor who is not
// signed in. Every page is short, escaped, and never cached or passed on as a referrer.
#include "site/cgi/Exchange.h"

#include <optional>
#include <string>
#include <string_view>

// The session check a reverse proxy or an authorizer makes before it passes a request on.
Response SessionCheck(Exchange& exchange, SiteStore& store);
// Who is signed in, with a button to sign out.
Response Welcome(Exchange& exchange, SiteStore& store);
// A logon link followed: its verdict, and the session when it is accepted.
Response SignIn(Exchange& exchange, SiteStore& store);
// Every session the request's cookies hold ended, the cookie cleared.
Response SignOut(Exchange& exchange, SiteStore& store);
// A store failure on any page: Undecided when the store cannot tell what became of an
// acceptance, else Unavailable.
Response PageFailed(const Exchange& exchange, const StoreError& error);

// A short page with one heading and one paragraph, escaped, never cached or framed; head:
// markup to add to the page's head.
Response HtmlPage(int status, std::string_view title, std::string_view message, std::string_view head = {});
// Markup added at the end of a page's body.
void AppendToBody(Response& page, std::string_view markup);
// Without a session: how to sign in (401).
Response NotSignedIn();

// The program's own path, where the welcome page is: a plain path of this site.
std::string OwnPath(const Request& request);

// The request's live session: who holds it, and the token of the cookie that proved it.
struct SignedIn {
    SessionHolder holder;
    SessionToken token;
};
std::optional<SignedIn> SessionOf(const Request& request, SiteStore& store);

Response NotFound();
// A POST whose body is larger than the site reads.
Response TooLarge();
// allow: the methods the path answers, as the Allow header lists them.
Response NotAllowed(std::string allow);

// The answer when the site cannot work: 503 with Retry-After while the trouble is temporary
// (busy, a full disk, the database away), 500 when the operator must act.
Response Unavailable(std::string log, bool temporary = false);

// The answer when the store was lost while it accepted the string and could not be asked what
// became of it: the link may be used up, so the visitor is sent for a new one, never back with it.
Response Undecided(std::string log);
