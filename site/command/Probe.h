#pragma once
// entravo-site probe URL: proves a deployment from the site's machine, as the web server's user
// would see it work. It enrols a throwaway token under the probe's reserved account, signs in
// through the URL with a genuine string it makes itself, and checks the welcome page, the
// session check with and without the session, the replay, signing out, and that no answer is a
// program's bytes; then it removes the token and every record of it. One line per check.
#include "site/command/PlainHttp.h"
#include "site/store/SiteStore.h"

#include <ostream>

// kExitSuccess when every check passed, kExitFailure otherwise.
int RunProbe(OperatorStore& store, const HttpUrl& url, std::ostream& out, int64_t now);
