#include "site/cgi/Admin.h"

#include "site/cgi/LoginPage.h"
#include "site/report/AdminForm.h"
#include "site/report/AdminPage.h"
#include "site/verifier/Identity.h"

namespace {

// What the page lists: the budgets spent in the last week, at most this many, and the latest
// sign-ins.
constexpr int64_t kBudgetDays = 7;
constexpr int64_t kBudgetsShown = 20;
constexpr int64_t kSignInsShown = 20;

// Below the program's own path, as its other sub-paths are.
std::string AdminPath(const Request& request)
{
    const std::string own = OwnPath(request);
    return (own == "/" ? "" : own) + "/admin";
}

std::string NoticeOf(RevokeResult result, const std::string& identity)
{
    switch (result) {
    case RevokeResult::Revoked:
        return "Token " + identity + " revoked; its sessions are ended.";
    case RevokeResult::AlreadyRevoked:
        return "Token " + identity + " was already revoked.";
    case RevokeResult::NotEnrolled:
        break;
    }
    return "Token " + identity + " is not enrolled.";
}

Response Page(const Request& request, SiteStore& store, const SignedIn& admin, std::string notice)
{
    AdminView view;
    view.account = admin.holder.account;
    view.path = AdminPath(request);
    view.csrf = CsrfValue(admin.token);
    view.now = request.now;
    view.notice = std::move(notice);
    const PlotSpan hourly = HourlySpan(request.now);
    const PlotSpan daily = DailySpan(request.now);
    SiteOverview overview =
        store.Overview({hourly.end - hourly.step * hourly.slots, daily.end - daily.step * daily.slots,
                        request.now - kBudgetDays * kSecondsPerDay, kBudgetsShown, kSignInsShown});
    view.hourly = std::move(overview.hourly);
    view.daily = std::move(overview.daily);
    view.tokens = std::move(overview.tokens);
    view.budgets = std::move(overview.budgets);
    view.signIns = std::move(overview.signIns);
    Response response;
    response.headers = {
        {"Content-Type", "text/html; charset=utf-8"},
        {"Cache-Control", "no-store"},
        {"Content-Security-Policy", AdminPagePolicy()},
        {"X-Content-Type-Options", "nosniff"},
        {"Referrer-Policy", "no-referrer"},
    };
    response.body = RenderAdminPage(view);
    return response;
}

Response NotAnAdmin(const SessionHolder& holder)
{
    return HtmlPage(403, "Not allowed",
                    "The account " + holder.account +
                        " may not see the site's administration page; the site's "
                        "operator can allow it.");
}

Response PostRefused(const Request& request, const std::string& why)
{
    Response response = HtmlPage(403, "Not accepted",
                                 "This form was not accepted and nothing was changed. Open the administration page "
                                 "again and use its buttons.");
    response.log = "admin page: a post from " + request.clientAddress + " refused: " + why;
    return response;
}

} // namespace

Response ShowAdminPage(Exchange& exchange, SiteStore& store)
{
    const Request& request = exchange.request;
    const auto signedIn = SessionOf(request, store);
    if (!signedIn)
        return NotSignedIn();
    if (!store.IsAdmin(signedIn->holder.account))
        return NotAnAdmin(signedIn->holder);
    return Page(request, store, *signedIn, {});
}

Response PostAdminForm(Exchange& exchange, SiteStore& store)
{
    const Request& request = exchange.request;
    std::string problem;
    const auto post = ParseAdminPost(request.contentType, request.body, problem);
    const auto signedIn = SessionOf(request, store);
    if (!signedIn)
        return PostRefused(request, "no session");
    if (!store.IsAdmin(signedIn->holder.account))
        return PostRefused(request, "the account " + signedIn->holder.account + " is not an administrator");
    if (!post)
        return PostRefused(request, problem);
    if (!CsrfMatches(signedIn->token, post->csrf))
        return PostRefused(request, "its csrf value is not the one the page gave this session");
    const std::string identity = FormatIdentity(post->revoke);
    const RevokeResult result = store.Revoke(post->revoke, request.now);
    Response response = Page(request, store, *signedIn, NoticeOf(result, identity));
    if (result == RevokeResult::Revoked)
        response.log = "admin page: " + signedIn->holder.account + " revoked token " + identity;
    return response;
}
