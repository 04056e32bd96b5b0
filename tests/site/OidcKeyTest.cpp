#include "site/oidc/Base64Url.h"
#include "site/oidc/Discovery.h"
#include "site/oidc/JsonWriter.h"
#include "site/oidc/Jwt.h"
#include "site/oidc/Pkce.h"
#include "site/oidc/RsaKey.h"
#include "site/oidc/Secrets.h"

#include <gtest/gtest.h>

#include <regex>

namespace {

// Making a key takes a while under the sanitizers: each test program makes two, once.
const RsaKeyPair& Key(int which)
{
    static const std::array<RsaKeyPair, 2> keys{*RsaKeyPair::Generate(), *RsaKeyPair::Generate()};
    return keys.at(which);
}

std::vector<RsaPublicKey> Published(std::initializer_list<int> which)
{
    std::vector<RsaPublicKey> keys;
    for (int key : which)
        keys.push_back(*RsaPublicKey::FromJwk(Key(key).Public().Jwk()));
    return keys;
}

// The stored key with one member's value replaced.
std::string WithMember(const std::string& stored, const std::string& name, const std::string& value)
{
    const std::regex member("\"" + name + "\":\"[^\"]*\"");
    return std::regex_replace(stored, member, "\"" + name + "\":\"" + value + "\"");
}

std::string MemberOf(const std::string& stored, const std::string& name)
{
    return *ParseJsonObject(stored)->String(name);
}

std::string Token(std::string_view header, std::string_view claims, std::string_view signature)
{
    return Base64Url(header) + "." + Base64Url(claims) + "." + std::string(signature);
}

} // namespace

TEST(OidcRsaKey, TheKidIsTheThumbprintOfRfc7638)
{
    // The example key of RFC 7638, section 3.1, and its thumbprint.
    const std::string n =
        "0vx7agoebGcQSuuPiLJXZptN9nndrQmbXEps2aiAFbWhM78LhWx4cbbfAAtVT86zwu1RK7aPFFxuhDR1L6tSoc_BJECPebWKRX"
        "jBZCiFV4n3oknjhMstn64tZ_2W-5JsGY4Hc5n9yBXArwl93lqt7_RN5w6Cf0h4QyQ5v-65YGjQR0_FDW2QvzqY368QQMicA"
        "taSqzs8KJZgnYb9c7d0zgdAZHzu6qMQvRL5hajrn1n91CbOpbISD08qNLyrdkt-bFTWhAI4vMQFh6WeZu0fM4lFd2NcRwr"
        "3XPksINHaQ-G_xBniIqbw0Ls1jF44-csFCur-kEgU8awapJzKnqDKgw";
    const auto key = RsaPublicKey::FromJwk(JsonObject().String("kty", "RSA").String("n", n).String("e", "AQAB").Text());
    ASSERT_TRUE(key);
    EXPECT_EQ("NzbLsXh8uDCcd-6MNwXF4W_7noWXFZAfHkxZsRGC9Xs", key->Kid());
    const std::string published = key->Jwk();
    EXPECT_EQ(R"({"kty":"RSA","use":"sig","alg":"RS256","kid":"NzbLsXh8uDCcd-6MNwXF4W_7noWXFZAfHkxZsRGC9Xs","n":")" +
                  n + R"(","e":"AQAB"})",
              published);
    for (const char* member : {"kid", "use", "alg"})
        EXPECT_FALSE(RsaPublicKey::FromJwk(WithMember(published, member, "another"))) << member;
    for (const char* change : {R"("use":"sig")", R"("kty":"RSA")"}) {
        std::string text = published;
        text.replace(text.find(change), std::string_view(change).size(), R"("kty":"EC")");
        EXPECT_FALSE(RsaPublicKey::FromJwk(text)) << text;
    }
    // Too small, and a number with a leading zero byte.
    const std::string small = Base64Url(std::vector<uint8_t>(128, 0xFF));
    EXPECT_FALSE(
        RsaPublicKey::FromJwk(JsonObject().String("kty", "RSA").String("n", small).String("e", "AQAB").Text()));
    EXPECT_FALSE(RsaPublicKey::FromJwk(JsonObject().String("kty", "RSA").String("n", n).String("e", "AAEAAQ").Text()));
}

TEST(OidcRsaKey, ANewKeySignsWhatItsPublishedKeyVerifies)
{
    const RsaKeyPair& key = Key(0);
    EXPECT_NE(Key(0).Public().Kid(), Key(1).Public().Kid());
    const auto signature = key.Sign("signed text");
    ASSERT_TRUE(signature);
    EXPECT_EQ(kRsaBits / 8, signature->size());
    const auto published = Published({0});
    EXPECT_EQ(key.Public().Kid(), published[0].Kid());
    EXPECT_TRUE(published[0].Verifies("signed text", *signature));
    EXPECT_FALSE(published[0].Verifies("signed text!", *signature));
    EXPECT_FALSE(Key(1).Public().Verifies("signed text", *signature));
    auto changed = *signature;
    changed[100] ^= 1;
    EXPECT_FALSE(key.Public().Verifies("signed text", changed));
    changed = *signature;
    changed.insert(changed.begin(), 0);
    EXPECT_FALSE(key.Public().Verifies("signed text", changed));
}

TEST(OidcRsaKey, AStoredKeyIsReadBackAsTheSameKey)
{
    const std::string stored = Key(0).Stored();
    const auto read = RsaKeyPair::FromStored(stored);
    ASSERT_TRUE(read);
    EXPECT_EQ(Key(0).Public().Kid(), read->Public().Kid());
    EXPECT_EQ(stored, read->Stored());
    EXPECT_TRUE(Key(0).Public().Verifies("x", *read->Sign("x")));
}

TEST(OidcRsaKey, AStoredKeyWhoseNumbersDoNotBelongTogetherIsRefused)
{
    const std::string stored = Key(0).Stored();
    const std::string other = Key(1).Stored();
    EXPECT_FALSE(RsaKeyPair::FromStored(WithMember(stored, "p", MemberOf(other, "p"))));
    EXPECT_FALSE(RsaKeyPair::FromStored(WithMember(stored, "n", MemberOf(other, "n"))));
    EXPECT_FALSE(RsaKeyPair::FromStored(WithMember(stored, "qi", "")));
    EXPECT_FALSE(RsaKeyPair::FromStored(Key(0).Public().Jwk()));
    EXPECT_FALSE(RsaKeyPair::FromStored(stored.substr(0, stored.size() - 1) + R"(,"kid":"x"})"));
    EXPECT_FALSE(RsaKeyPair::FromStored(""));
}

TEST(OidcJwt, ATokenVerifiesWithTheKeyItsHeaderNames)
{
    const std::string claims = R"({"sub":"x","exp":7})";
    const auto token = SignJwt(Key(0), claims);
    ASSERT_TRUE(token);
    const std::string header = *TextFromBase64Url(token->substr(0, token->find('.')));
    EXPECT_EQ(R"({"alg":"RS256","typ":"JWT","kid":")" + Key(0).Public().Kid() + "\"}", header);
    // After a rotation both keys are published: either one's tokens verify.
    const auto both = Published({1, 0});
    const auto verified = VerifyJwt(*token, both);
    ASSERT_TRUE(verified);
    EXPECT_EQ("x", *verified->String("sub"));
    EXPECT_EQ(7, verified->Integer("exp"));
    // Once the old key is no longer published, its tokens are refused.
    EXPECT_FALSE(VerifyJwt(*token, Published({1})));
}

TEST(OidcJwt, AnythingButAnIntactRs256TokenIsRefused)
{
    const auto keys = Published({0});
    const std::string kid = Key(0).Public().Kid();
    const std::string token = *SignJwt(Key(0), R"({"sub":"x"})");
    const std::string signature = token.substr(token.rfind('.') + 1);
    const std::string claimsPart = token.substr(token.find('.') + 1, token.rfind('.') - token.find('.') - 1);
    const std::string headerPart = token.substr(0, token.find('.'));
    for (const std::string& forged : {
             Token(R"({"alg":"none"})", R"({"sub":"x"})", ""),
             Token(R"({"alg":"none","kid":")" + kid + "\"}", R"({"sub":"x"})", ""),
             Token(R"({"alg":"HS256","kid":")" + kid + "\"}", R"({"sub":"x"})", signature),
             // The same signature under another header or other claims.
             Token(R"({"alg":"RS256","kid":")" + kid + "\"}", R"({"sub":"x"})", signature),
             Token(R"({"alg":"RS256","typ":"JWT","kid":")" + kid + "\"}", R"({"sub":"y"})", signature),
             headerPart + "." + claimsPart + "." + signature + "=",
             headerPart + "." + claimsPart + "." + signature + ".",
             headerPart + "." + claimsPart,
             headerPart + "." + Base64Url(std::string_view(R"({"sub":"y"})")) + "." + signature,
         })
        EXPECT_FALSE(VerifyJwt(forged, keys)) << forged;
    // A header member it does not know could change what the token means, even when signed.
    const std::string input = Base64Url(R"({"alg":"RS256","kid":")" + kid + R"(","x5u":"https://x.example"})") + "." +
                              Base64Url(std::string_view(R"({"sub":"x"})"));
    EXPECT_FALSE(VerifyJwt(input + "." + Base64Url(*Key(0).Sign(input)), keys));
    EXPECT_TRUE(VerifyJwt(token, keys));
}

TEST(OidcJwt, AnIdTokenHasEveryClaimAndTheNonceOnlyWhenGiven)
{
    IdTokenClaims claims{
        "https://logon.example.com/login.cgi", "sub-1", "client-1", 1000, 1600, 990, "n-1", "Zoë \"Z\""};
    EXPECT_EQ(R"({"iss":"https://logon.example.com/login.cgi","sub":"sub-1","aud":"client-1","exp":1600,"iat":1000,)"
              R"("auth_time":990,"nonce":"n-1","name":"Zoë \"Z\"","preferred_username":"Zoë \"Z\""})",
              IdTokenJson(claims));
    claims.nonce.clear();
    EXPECT_FALSE(ParseJsonObject(IdTokenJson(claims))->Has("nonce"));
}

TEST(OidcPkce, TheChallengeOfRfc7636AppendixB)
{
    const std::string verifier = "dBjftJeZ4CVP-mB92K27uhbUJU1p1r_wW1gFWFOEjXk";
    const std::string challenge = "E9Melhoa2OwvFrEMTJguCHaoeK1t8URWbuGJSstw-cM";
    EXPECT_EQ(challenge, S256Challenge(verifier));
    EXPECT_TRUE(IsS256Challenge(challenge));
    EXPECT_TRUE(VerifierMatches(verifier, challenge));
    EXPECT_FALSE(VerifierMatches(verifier + "x", challenge));
    EXPECT_FALSE(VerifierMatches(verifier, challenge.substr(0, 42) + "N"));
    EXPECT_FALSE(VerifierMatches(verifier, challenge + "="));
    // A verifier too short to be one never matches, even its own challenge.
    EXPECT_FALSE(VerifierMatches("short", S256Challenge("short")));
    for (const std::string& bad :
         {challenge.substr(1), challenge + "A", challenge + "=", challenge.substr(0, 42) + "+"})
        EXPECT_FALSE(IsS256Challenge(bad)) << bad;
}

TEST(OidcPkce, AVerifierIs43To128UnreservedCharacters)
{
    EXPECT_FALSE(IsCodeVerifier(std::string(42, 'a')));
    EXPECT_TRUE(IsCodeVerifier(std::string(43, 'a')));
    EXPECT_TRUE(IsCodeVerifier(std::string(128, '~')));
    EXPECT_FALSE(IsCodeVerifier(std::string(129, 'a')));
    for (char c : {'+', '/', '=', ' ', '%'})
        EXPECT_FALSE(IsCodeVerifier(std::string(42, 'a') + c)) << c;
    EXPECT_TRUE(IsCodeVerifier("AZaz09-._~" + std::string(33, 'x')));
}

TEST(OidcSecrets, SecretsAreFreshBase64UrlOfTheirSize)
{
    const auto first = DrawSecret();
    const auto second = DrawSecret();
    ASSERT_TRUE(first && second);
    EXPECT_NE(*first, *second);
    EXPECT_EQ(kSecretBytes, FromBase64Url(*first)->size());
    EXPECT_EQ(22u, DrawSecret(kClientIdBytes)->size());
    EXPECT_EQ("ungWv48Bz-pBQUDeXa4iI7ADYaOWF3qctBD_YfIAFa0", Base64Url(HashSecret("abc")));
    EXPECT_TRUE(SameHash(HashSecret("abc"), HashSecret("abc")));
    EXPECT_FALSE(SameHash(HashSecret("abc"), HashSecret("abd")));
}

TEST(OidcSecrets, ASubjectIsAnHmacOfTheAccountUnderTheSiteKey)
{
    // RFC 4231's first case: HMAC pads a shorter key with zeros to its block, as the site's key
    // of 20 bytes of 0x0B and twelve zeros is.
    SubjectKey key{};
    std::fill_n(key.begin(), 20, 0x0B);
    EXPECT_EQ("sDRMYdjbOFNcqK_OrwvxK4gdwgDJgz2nJuk3bC4yz_c", SubjectOf(key, "Hi There"));
    const auto siteKey = DrawSubjectKey();
    ASSERT_TRUE(siteKey);
    EXPECT_EQ(SubjectOf(*siteKey, "alice"), SubjectOf(*siteKey, "alice"));
    EXPECT_NE(SubjectOf(*siteKey, "alice"), SubjectOf(*siteKey, "bob"));
    EXPECT_NE(SubjectOf(*siteKey, "alice"), SubjectOf(*DrawSubjectKey(), "alice"));
}

TEST(OidcDiscovery, TheJwksListsEveryPublishedKeyInOrder)
{
    const auto keys = Published({1, 0});
    EXPECT_EQ("{\"keys\":[" + Key(1).Public().Jwk() + "," + Key(0).Public().Jwk() + "]}", JwksDocument(keys));
    EXPECT_EQ(R"({"keys":[]})", JwksDocument({}));
}
