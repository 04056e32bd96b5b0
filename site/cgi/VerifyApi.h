#pragma once
// The verification API for applications that keep their own sessions: a signed request names
// the client, a nonce and an authenticator; the signed JSON answer says whether the string is
// accepted (used up exactly as a sign-in through the login page) and for whom. Version 2 (v=2)
// signs percent-encoded fields and answers a request only within its time; version 1 stays for
// the applications that speak it (docs/verify-api.md says what it cannot promise).
#include "site/cgi/Exchange.h"

#include <string_view>

// Every status an answer can have.
inline constexpr std::string_view kApiStatuses[] = {"OK",
                                                    "REPLAYED",
                                                    "REVOKED",
                                                    "UNKNOWN_TOKEN",
                                                    "NOT_GENUINE",
                                                    "MALFORMED",
                                                    "RATE_LIMITED",
                                                    "NO_SUCH_CLIENT",
                                                    "BAD_SIGNATURE",
                                                    "STALE_REQUEST",
                                                    "REPLAYED_REQUEST",
                                                    "BACKEND_ERROR",
                                                    "OUTCOME_UNKNOWN"};

// GET PATH/verify?v=2&id=ID&nonce=N&time=T&authenticator=HEX&h=SIGNATURE
// GET PATH/verify?id=ID&nonce=N&authenticator=HEX&h=SIGNATURE (version 1)
Response VerifyForClient(Exchange& exchange, SiteStore& store);

// A store failure: BACKEND_ERROR (nothing of the request was kept) or OUTCOME_UNKNOWN (the store
// cannot tell), signed once the client proved who it is; before that, unsigned BACKEND_ERROR.
Response VerifyFailed(const Exchange& exchange, const StoreError& error);
