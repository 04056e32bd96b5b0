#include "site/report/AdminForm.h"

#include "site/verifier/Identity.h"

#include <algorithm>
#include <cctype>
#include <nettle/hmac.h>
#include <nettle/memops.h>

namespace {

// Keeps this value apart from anything else the token might ever be used for.
constexpr std::string_view kCsrfLabel = "entravo admin form";

bool FormType(std::string_view contentType)
{
    const std::string_view type = contentType.substr(0, contentType.find(';'));
    constexpr std::string_view kForm = "application/x-www-form-urlencoded";
    const auto trimmed = type.substr(0, type.find_last_not_of(' ') + 1);
    return std::equal(trimmed.begin(), trimmed.end(), kForm.begin(), kForm.end(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) == b; });
}

} // namespace

std::string CsrfValue(std::span<const uint8_t, 16> sessionToken)
{
    hmac_sha256_ctx context;
    hmac_sha256_set_key(&context, sessionToken.size(), sessionToken.data());
    hmac_sha256_update(&context, kCsrfLabel.size(), reinterpret_cast<const uint8_t*>(kCsrfLabel.data()));
    uint8_t digest[SHA256_DIGEST_SIZE];
    hmac_sha256_digest(&context, sizeof digest, digest);
    static constexpr char kDigits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : digest) {
        text += kDigits[byte >> 4];
        text += kDigits[byte & 0x0F];
    }
    return text;
}

bool CsrfMatches(std::span<const uint8_t, 16> sessionToken, std::string_view offered)
{
    const std::string expected = CsrfValue(sessionToken);
    // The length is no secret: every value has the same.
    return offered.size() == expected.size() && memeql_sec(offered.data(), expected.data(), expected.size()) != 0;
}

std::optional<AdminPost> ParseAdminPost(std::string_view contentType, std::string_view body, std::string& problem)
{
    if (!FormType(contentType)) {
        problem = "the post is not a form (application/x-www-form-urlencoded)";
        return std::nullopt;
    }
    if (body.size() > kMaxAdminPostBytes) {
        problem = "the form is longer than " + std::to_string(kMaxAdminPostBytes) + " bytes";
        return std::nullopt;
    }
    const auto fields = ParseQuery(body);
    if (!fields || fields->size() != 2) {
        problem = "the form is not exactly the fields revoke and csrf";
        return std::nullopt;
    }
    AdminPost post;
    std::optional<RomBytes> identity;
    for (const QueryParameter& field : *fields) {
        if (field.name == "revoke")
            identity = ParseIdentity(field.value);
        else if (field.name == "csrf")
            post.csrf = field.value;
    }
    if (!identity || post.csrf.empty()) {
        problem = "the form is not exactly the fields revoke (an identity) and csrf";
        return std::nullopt;
    }
    post.revoke = *identity;
    return post;
}
