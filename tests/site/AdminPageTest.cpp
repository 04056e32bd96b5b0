#include "site/report/AdminPage.h"

#include <gtest/gtest.h>
#include <nettle/base64.h>
#include <nettle/sha2.h>

#include <string>

namespace {

constexpr int64_t kNow = 1'800'000'000; // 2027-01-15 08:00:00 UTC
const std::string kHostile = "<script>alert(\"x\" & 'y')</script>";
const std::string kHostileEscaped = "&lt;script&gt;alert(&quot;x&quot; &amp; &#39;y&#39;)&lt;/script&gt;";

AdminView View()
{
    AdminView view;
    view.account = "root";
    view.path = "/cgi-bin/login.cgi/admin";
    view.csrf = "c5rf";
    view.now = kNow;
    return view;
}

int Occurrences(const std::string& text, const std::string& part)
{
    int count = 0;
    for (std::size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1))
        ++count;
    return count;
}

std::string Sha256Base64(std::string_view text)
{
    uint8_t digest[SHA256_DIGEST_SIZE];
    sha256_ctx context;
    sha256_init(&context);
    sha256_update(&context, text.size(), reinterpret_cast<const uint8_t*>(text.data()));
    sha256_digest(&context, sizeof digest, digest);
    std::string encoded(BASE64_ENCODE_RAW_LENGTH(sizeof digest), '\0');
    base64_encode_raw(encoded.data(), sizeof digest, digest);
    return encoded;
}

} // namespace

TEST(AdminPage, EscapesEveryValueItPrints)
{
    AdminView view = View();
    view.account = view.notice = view.path = view.csrf = kHostile;
    view.tokens = {{kHostile, kHostile, false, kNow}};
    view.budgets = {{kHostile, kHostile, 3, kNow}};
    view.signIns = {{kNow, kHostile, kHostile, kHostile, SignInPath::Api}};
    const std::string page = RenderAdminPage(view);
    EXPECT_EQ(std::string::npos, page.find("<script")) << page;
    EXPECT_EQ(std::string::npos, page.find(kHostile));
    // Account, notice, form action, csrf, identity (cell, field, button label), token's account,
    // origin, kind, and the sign-in's account, identity and address.
    EXPECT_EQ(13, Occurrences(page, kHostileEscaped));
}

TEST(AdminPage, OffersRevokeForActiveTokensOnlyPostingToItselfWithTheSessionsValue)
{
    AdminView view = View();
    view.tokens = {{"0123456789ABCDEF", "alice", false, kNow - 90}, {"FEDCBA9876543210", "bob", true, std::nullopt}};
    const std::string page = RenderAdminPage(view);
    EXPECT_EQ(1, Occurrences(page, "<form "));
    EXPECT_NE(std::string::npos,
              page.find("<form method=\"post\" action=\"/cgi-bin/login.cgi/admin\"><input type=\"hidden\" "
                        "name=\"revoke\" value=\"0123456789ABCDEF\"><input type=\"hidden\" name=\"csrf\" "
                        "value=\"c5rf\"><button type=\"submit\" aria-label=\"Revoke token 0123456789ABCDEF\">"
                        "Revoke</button></form>"));
    EXPECT_NE(std::string::npos, page.find(">alice</td><td data-label=\"State\">active</td>"
                                           "<td data-label=\"Last sign-in\">2027-01-15 07:58</td>"));
    EXPECT_NE(std::string::npos,
              page.find(">bob</td><td data-label=\"State\">revoked</td>"
                        "<td data-label=\"Last sign-in\">never</td><td data-label=\"Action\"></td>"));
}

TEST(AdminPage, ListsSignInsAndBudgetsOrSaysThereAreNone)
{
    AdminView view = View();
    const std::string empty = RenderAdminPage(view);
    for (const char* none : {"No token is enrolled.", "No address or network spent its budget lately.",
                             "Nobody signed in yet.", "No attempts in this time"})
        EXPECT_NE(std::string::npos, empty.find(none)) << none;
    EXPECT_EQ(2, Occurrences(empty, "<svg "));

    view.budgets = {{"198.51.100.0/24", "network", 1234, kNow - 8 * 3600}};
    view.signIns = {{kNow - 60, "alice", "0123456789ABCDEF", "2001:db8::7", SignInPath::Oidc},
                    {kNow - 3600, "bob", "FEDCBA9876543210", "192.0.2.7", SignInPath::Page}};
    const std::string page = RenderAdminPage(view);
    EXPECT_NE(std::string::npos, page.find("<tr><td data-label=\"Address or network\" class=\"id\">198.51.100.0/24</td>"
                                           "<td data-label=\"Kind\">network</td>"
                                           "<td data-label=\"Refused\" class=\"count\">1234</td>"
                                           "<td data-label=\"Last day\">2027-01-15</td></tr>"));
    EXPECT_NE(std::string::npos, page.find("<tr><td data-label=\"Time\">2027-01-15 07:59</td>"
                                           "<td data-label=\"Account\">alice</td>"
                                           "<td data-label=\"Identity\" class=\"id\">0123456789ABCDEF</td>"
                                           "<td data-label=\"Address\" class=\"id\">2001:db8::7</td>"
                                           "<td data-label=\"Through\">OIDC</td></tr>"));
    EXPECT_LT(page.find("alice"), page.find("bob"));
}

TEST(AdminPage, ItsPolicyAllowsItsOwnStylesheetAndNothingElse)
{
    const std::string page = RenderAdminPage(View());
    const std::size_t open = page.find("<style>") + 7;
    const std::string style = page.substr(open, page.find("</style>") - open);
    EXPECT_EQ("default-src 'none'; style-src 'sha256-" + Sha256Base64(style) +
                  "'; form-action 'self'; frame-ancestors 'none'; base-uri 'none'",
              AdminPagePolicy());
    EXPECT_EQ(1, Occurrences(page, "<style>"));
    // A hash allows a style element, never a style attribute.
    EXPECT_EQ(0, Occurrences(page, " style="));
}
