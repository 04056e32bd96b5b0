#include "site/report/AdminForm.h"

#include <gtest/gtest.h>

#include <array>

namespace {

const std::array<uint8_t, 16> kToken = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12};
const std::array<uint8_t, 16> kOtherToken = {0xDE, 0xAD, 0xBE, 0xEF, 1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 13};
// HMAC-SHA256 of "entravo admin form" under kToken, as Python's hmac module computes it.
const std::string kTokenCsrf = "3de6fea8fd54b5cea3b9bd68b4ceff1c020170ea94ae238699f35157a7b3a1dd";
const std::string kForm = "application/x-www-form-urlencoded";

std::optional<AdminPost> Parse(std::string_view body, std::string_view type = kForm)
{
    std::string problem;
    auto post = ParseAdminPost(type, body, problem);
    EXPECT_EQ(post.has_value(), problem.empty()) << body << ": " << problem;
    return post;
}

} // namespace

TEST(AdminForm, CsrfValueIsTheSessionTokensHmacAndMatchesOnlyExactly)
{
    EXPECT_EQ(kTokenCsrf, CsrfValue(kToken));
    EXPECT_NE(CsrfValue(kToken), CsrfValue(kOtherToken));
    EXPECT_TRUE(CsrfMatches(kToken, kTokenCsrf));
    EXPECT_FALSE(CsrfMatches(kOtherToken, kTokenCsrf));
    for (std::size_t i = 0; i < kTokenCsrf.size(); ++i) {
        std::string changed = kTokenCsrf;
        changed[i] = changed[i] == '0' ? '1' : '0';
        EXPECT_FALSE(CsrfMatches(kToken, changed)) << i;
    }
    std::string upper = kTokenCsrf;
    for (char& c : upper)
        c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    for (const std::string& wrong : {std::string(), kTokenCsrf.substr(1), kTokenCsrf + "0", upper})
        EXPECT_FALSE(CsrfMatches(kToken, wrong)) << wrong;
}

TEST(AdminForm, ReadsExactlyTheTwoFieldsOfARevokeButton)
{
    const auto post = Parse("revoke=0123456789abcdef&csrf=" + kTokenCsrf);
    ASSERT_TRUE(post);
    EXPECT_EQ((RomBytes{0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF}), post->revoke);
    EXPECT_EQ(kTokenCsrf, post->csrf);

    const auto swapped =
        Parse("csrf=" + kTokenCsrf + "&revoke=%30123456789ABCDEF", "Application/X-WWW-Form-Urlencoded; charset=UTF-8");
    ASSERT_TRUE(swapped);
    EXPECT_EQ(post->revoke, swapped->revoke);
}

TEST(AdminForm, RefusesAnyOtherPost)
{
    const std::string csrf = "&csrf=" + kTokenCsrf;
    const std::vector<std::string> bodies{std::string(),
                                          "revoke=0123456789ABCDEF",
                                          "csrf=" + kTokenCsrf,
                                          "revoke=0123456789ABCDEF&csrf=",
                                          "revoke=0123456789ABCDE" + csrf,
                                          "revoke=0123456789ABCDEG" + csrf,
                                          "revoke=+123456789ABCDEF" + csrf,
                                          "revoke=0123456789ABCDEF" + csrf + "&extra=1",
                                          "revoke=0123456789ABCDEF&revoke=0123456789ABCDEF" + csrf,
                                          "revoke=0123456789ABCDEF" + csrf + "&",
                                          "revoke=0123456789ABCDEF%" + csrf,
                                          "enrol=0123456789ABCDEF" + csrf,
                                          "revoke=0123456789ABCDEF" + csrf + std::string(kMaxAdminPostBytes, 'x')};
    for (const std::string& body : bodies)
        EXPECT_FALSE(Parse(body)) << body;
    for (const char* type : {"", "multipart/form-data; boundary=x", "text/plain", "application/x-www-form-urlencodedx"})
        EXPECT_FALSE(Parse("revoke=0123456789ABCDEF" + csrf, type)) << type;
}
