#include "site/report/AdminPage.h"

#include "site/report/Markup.h"
#include "site/store/SiteStore.h"

#include <array>
#include <nettle/base64.h>
#include <nettle/sha2.h>

namespace {

// Wide screens show the plots side by side and each table whole; narrow ones stack the plots
// and show each table row as a short list, every value after its column's name.
constexpr std::string_view kStyle =
    "body{font:16px/1.45 system-ui,sans-serif;color:#111;background:#fff;max-width:64rem;margin:0 auto;"
    "padding:0 1rem 3rem}"
    "h1{font-size:1.5rem;margin:1.2rem 0 .3rem}h2{font-size:1.2rem;margin:2rem 0 .6rem}"
    ".plots{display:grid;grid-template-columns:repeat(auto-fit,minmax(20rem,1fr));gap:1rem 2rem}"
    "figure{margin:0}figcaption{font-weight:600}svg{display:block;width:100%;height:auto}"
    ".scroll{overflow-x:auto}"
    "table{border-collapse:collapse;width:100%;font-size:.9rem}"
    "th,td{text-align:left;padding:.35rem .6rem;border-bottom:1px solid #ddd;white-space:nowrap}"
    "th{background:#f4f4f5}td.count{text-align:right}.id{font-family:ui-monospace,monospace}"
    ".revoked{color:#777}.notice{background:#ecfdf3;border-left:4px solid #16a34a;padding:.5rem 1rem}"
    ".quiet{color:#555}form{margin:0}button{font:inherit;font-size:.85rem;padding:.2rem .8rem}"
    "@media (max-width:40rem){thead{position:absolute;width:1px;height:1px;overflow:hidden;clip-path:inset(50%)}"
    "table,tbody,tr{display:block}tr{border-bottom:1px solid #ccc;padding:.4rem 0}"
    "td,td.count{display:grid;grid-template-columns:7.5rem 1fr;gap:.5rem;align-items:baseline;border:0;"
    "padding:.1rem 0;text-align:left;white-space:normal;overflow-wrap:anywhere}td:empty{display:none}"
    "td::before{content:attr(data-label);font:600 .8rem system-ui,sans-serif;color:#555}}";

constexpr std::array<std::string_view, 5> kTokenColumns{"Identity", "Account", "State", "Last sign-in", "Action"};
constexpr std::array<std::string_view, 4> kBudgetColumns{"Address or network", "Kind", "Refused", "Last day"};
constexpr std::array<std::string_view, 5> kSignInColumns{"Time", "Account", "Identity", "Address", "Through"};

std::string Time(int64_t at)
{
    return UtcText(at, "%Y-%m-%d %H:%M");
}

// A cell carries its column's name for narrow screens, where the header row is not shown.
std::string Cell(std::string_view column, std::string_view html, std::string_view kind = "")
{
    const std::string kindAttribute = kind.empty() ? "" : " class=\"" + std::string(kind) + "\"";
    return "<td data-label=\"" + EscapeMarkup(column) + "\"" + kindAttribute + ">" + std::string(html) + "</td>";
}

std::string TextCell(std::string_view column, std::string_view text, std::string_view kind = "")
{
    return Cell(column, EscapeMarkup(text), kind);
}

template <std::size_t N>
std::string HeaderRow(const std::array<std::string_view, N>& columns)
{
    std::string row = "<thead><tr>";
    for (const std::string_view name : columns)
        row += "<th scope=\"col\">" + EscapeMarkup(name) + "</th>";
    return row + "</tr></thead>";
}

// A table, or one quiet line when there is nothing to list.
std::string Table(std::string_view head, const std::string& rows, std::string_view none)
{
    if (rows.empty())
        return "<p class=\"quiet\">" + EscapeMarkup(none) + "</p>";
    return "<div class=\"scroll\"><table>" + std::string(head) + "<tbody>" + rows + "</tbody></table></div>";
}

std::string RevokeForm(const AdminView& view, const TokenEntry& token)
{
    return "<form method=\"post\" action=\"" + EscapeMarkup(view.path) +
           "\"><input type=\"hidden\" name=\"revoke\" value=\"" + EscapeMarkup(token.identity) +
           "\"><input type=\"hidden\" name=\"csrf\" value=\"" + EscapeMarkup(view.csrf) +
           "\"><button type=\"submit\" aria-label=\"Revoke token " + EscapeMarkup(token.identity) +
           "\">Revoke</button></form>";
}

std::string Tokens(const AdminView& view)
{
    const auto& column = kTokenColumns;
    std::string rows;
    for (const TokenEntry& token : view.tokens) {
        rows += token.revoked ? "<tr class=\"revoked\">" : "<tr>";
        rows += TextCell(column[0], token.identity, "id") + TextCell(column[1], token.account) +
                TextCell(column[2], token.revoked ? "revoked" : "active") +
                TextCell(column[3], token.lastSignIn ? Time(*token.lastSignIn) : "never") +
                Cell(column[4], token.revoked ? "" : RevokeForm(view, token)) + "</tr>";
    }
    return "<section><h2>Tokens</h2>" + Table(HeaderRow(column), rows, "No token is enrolled.") + "</section>";
}

std::string SpentBudgets(const AdminView& view)
{
    const auto& column = kBudgetColumns;
    std::string rows;
    for (const BudgetEntry& budget : view.budgets)
        rows += "<tr>" + TextCell(column[0], budget.origin, "id") + TextCell(column[1], budget.kind) +
                TextCell(column[2], std::to_string(budget.refusals), "count") +
                TextCell(column[3], UtcText(budget.lastDay, "%Y-%m-%d")) + "</tr>";
    return "<section><h2>Spent budgets</h2>" +
           Table(HeaderRow(column), rows, "No address or network spent its budget lately.") + "</section>";
}

std::string SignIns(const AdminView& view)
{
    const auto& column = kSignInColumns;
    std::string rows;
    for (const SignInEntry& signIn : view.signIns)
        rows += "<tr>" + TextCell(column[0], Time(signIn.at)) + TextCell(column[1], signIn.account) +
                TextCell(column[2], signIn.identity, "id") + TextCell(column[3], signIn.address, "id") +
                TextCell(column[4], SignInPathName(signIn.path)) + "</tr>";
    return "<section><h2>Latest sign-ins</h2>" + Table(HeaderRow(column), rows, "Nobody signed in yet.") + "</section>";
}

std::string Figure(const PlotSpan& span, const std::vector<Activity>& data, std::string_view id, std::string_view title)
{
    return "<figure><figcaption>" + EscapeMarkup(title) + "</figcaption>" + ActivityPlot(span, data, id, title) +
           "</figure>";
}

std::string Activities(const AdminView& view)
{
    return "<section><h2>Sign-ins and failures</h2><div class=\"plots\">" +
           Figure(HourlySpan(view.now), view.hourly, "hourly", "Per hour, last 48 hours") +
           Figure(DailySpan(view.now), view.daily, "daily", "Per day, last 60 days") + "</div></section>";
}

std::string Base64(std::span<const uint8_t> bytes)
{
    std::string text(BASE64_ENCODE_RAW_LENGTH(bytes.size()), '\0');
    base64_encode_raw(text.data(), bytes.size(), bytes.data());
    return text;
}

} // namespace

std::string_view SignInPathName(SignInPath path)
{
    switch (path) {
    case SignInPath::Page:
        return "page";
    case SignInPath::Api:
        return "API";
    default:
        return "OIDC";
    }
}

std::string RenderAdminPage(const AdminView& view)
{
    std::string page = "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">"
                       "<meta name=\"viewport\" content=\"width=device-width, initial-scale=1\">"
                       "<title>Site administration</title><style>" +
                       std::string(kStyle) + "</style></head>\n<body><h1>Site administration</h1>";
    page += "<p class=\"quiet\">Signed in as " + EscapeMarkup(view.account) + ". Times are UTC; now " +
            EscapeMarkup(Time(view.now)) + ".</p>";
    if (!view.notice.empty())
        page += "<p class=\"notice\" role=\"status\">" + EscapeMarkup(view.notice) + "</p>";
    page += Activities(view) + Tokens(view) + SpentBudgets(view) + SignIns(view);
    return page + "</body></html>\n";
}

std::string AdminPagePolicy()
{
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, kStyle.size(), reinterpret_cast<const uint8_t*>(kStyle.data()));
    sha256_digest(&context, sizeof digest, digest);
    return "default-src 'none'; style-src 'sha256-" + Base64(digest) +
           "'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'";
}
