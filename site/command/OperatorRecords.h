#pragma once
// entravo-site sign-ins and entravo-site admin: who signed in, and who may see the admin page.
#include "site/command/SiteCommand.h"

#include <string>
#include <vector>

// sign-ins [--account A] [--days D]: the sign-ins of the last D days (1 to 400, default 1),
// of account A only when given, newest first.
int ListSignIns(CommandContext& context, const std::string& path, const std::vector<std::string>& args);

// admin grant ACCOUNT | admin revoke ACCOUNT | admin list.
int ManageAdmins(CommandContext& context, const std::string& path, const std::vector<std::string>& args);
