#pragma once
// The admin page as a pure function from what the store knows to HTML: the activity plots,
// the tokens with a Revoke button each, the origins that spent their budgets and the latest
// sign-ins. Every value printed is escaped; the page runs no script, and its one inline
// stylesheet is allowed by its hash (AdminPagePolicy), nothing else.
#include "site/report/ActivityPlot.h"

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

struct AdminView {
    std::string account; // the administrator signed in
    std::string path;    // the page's own path, where its forms post: a plain path of this site
    std::string csrf;    // CsrfValue of the session showing the page
    int64_t now = 0;
    std::string notice; // one line after a change ("Token ... revoked."); nothing otherwise
    std::vector<Activity> hourly;
    std::vector<Activity> daily;
    std::vector<TokenEntry> tokens;
    std::vector<BudgetEntry> budgets; // as they should be listed
    std::vector<SignInEntry> signIns; // newest first
};

// As the page names it: page, API, OIDC.
std::string_view SignInPathName(SignInPath path);

// The whole document.
std::string RenderAdminPage(const AdminView& view);

// The Content-Security-Policy to send with it: nothing may load, no script runs, the page's own
// stylesheet applies, forms post only to this site and no other site may frame the page.
std::string AdminPagePolicy();
