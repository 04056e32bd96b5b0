#pragma once
// The verification API for applications that keep their own sessions: a signed request names
// the client, a nonce and an authenticator; the signed JSON answer says whether the string is
// accepted (used up exactly as a sign-in through the login page) and for whom.
#include "site/cgi/Respond.h"

// GET PATH/verify?id=ID&nonce=N&authenticator=HEX&h=SIGNATURE
Response VerifyForClient(const Request& request, SiteStore& store, Verifier verify);

// The answer when no store can be had at all: BACKEND_ERROR, unsigned (no key to sign with).
Response VerifyUnavailable(const Request& request, std::string log);
