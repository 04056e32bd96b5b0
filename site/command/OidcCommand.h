#pragma once
// entravo-site oidc: the OpenID Connect provider's keys and the applications registered with it.
// A key is made on the site's machine and kept in the store only; an application's secret is
// printed once and kept only as its hash.
#include "site/command/SiteCommand.h"

#include <string>
#include <vector>

// args: what follows "oidc" (init, rotate, add [--public] NAME REDIRECT_URI..., list, remove
// CLIENT_ID); the status as RunSiteCommand gives it.
int RunOidcCommand(CommandContext& context, const std::string& path, const std::vector<std::string>& args);
