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

struct TokenRow {
    std::string identity; // as FormatIdentity writes it
    std::string account;
    bool revoked = false;
    std::optional<int64_t> lastSignIn;
};

// An address or network whose failure budget was spent, refusing attempts unchecked.
struct SpentBudget {
    std::string origin;
    std::string kind; // "address" or "network"
    int64_t refusals = 0;
    int64_t lastDay = 0; // 00:00 UTC of the latest day with refusals
};

// Where a sign-in came through.
enum class SignInPath { Page, Api, Oidc };

struct SignInRow {
    int64_t at = 0;
    std::string account;
    std::string identity;
    std::string address;
    SignInPath path = SignInPath::Page;
};

struct AdminView {
    std::string account; // the administrator signed in
    std::string path;    // the page's own path, where its forms post: a plain path of this site
    std::string csrf;    // CsrfValue of the session showing the page
    int64_t now = 0;
    std::string notice; // one line after a change ("Token ... revoked."); nothing otherwise
    std::vector<Activity> hourly;
    std::vector<Activity> daily;
    std::vector<TokenRow> tokens;
    std::vector<SpentBudget> budgets; // as they should be listed
    std::vector<SignInRow> signIns;   // newest first
};

std::string_view SignInPathName(SignInPath path);

// The whole document.
std::string RenderAdminPage(const AdminView& view);

// The Content-Security-Policy to send with it: nothing may load, no script runs, the page's own
// stylesheet applies, forms post only to this site and no other site may frame the page.
std::string AdminPagePolicy();
