#include "site/oidc/Base64Url.h"
#include "site/oidc/Form.h"
#include "site/oidc/JsonReader.h"
#include "site/oidc/JsonWriter.h"
#include "site/oidc/Uri.h"

#include <gtest/gtest.h>

TEST(OidcBase64Url, EncodesWithTheUrlAlphabetAndNoPadding)
{
    EXPECT_EQ("", Base64Url(std::string_view("")));
    EXPECT_EQ("Zg", Base64Url(std::string_view("f")));
    EXPECT_EQ("Zm8", Base64Url(std::string_view("fo")));
    EXPECT_EQ("Zm9v", Base64Url(std::string_view("foo")));
    const std::vector<uint8_t> high{0xFB, 0xFF};
    EXPECT_EQ("-_8", Base64Url(high));
    EXPECT_EQ(high, FromBase64Url("-_8"));
    EXPECT_EQ("fo", TextFromBase64Url("Zm8"));
}

TEST(OidcBase64Url, OnlyTheOneSpellingOfTheBytesIsRead)
{
    // Padding, stray bits in the last character, an impossible length, blanks, the standard alphabet.
    for (const char* text : {"Zg==", "Zh", "Z", "Zm9v\n", "Zm 9v", "Zm+v", "Zm/v", "Zm9v="})
        EXPECT_FALSE(FromBase64Url(text)) << text;
}

TEST(OidcJsonWriter, EscapesEveryControlCharacterAndKeepsOtherTextAsUtf8)
{
    EXPECT_EQ(R"("q\"b\\n\nt\tc\u0001d\u007fnel\u0085")", JsonString("q\"b\\n\nt\tc\x01"
                                                                     "d\x7Fnel\xC2\x85"));
    EXPECT_EQ("\"Zoë → 名前\"", JsonString("Zoë → 名前"));
    // A byte outside UTF-8 cannot go into JSON: it becomes U+FFFD.
    EXPECT_EQ("\"a\xEF\xBF\xBD"
              "b\"",
              JsonString("a\xFF"
                         "b"));
    EXPECT_EQ("\"\xEF\xBF\xBD\xEF\xBF\xBD\"", JsonString("\xC3"
                                                         "\xC3"));
}

TEST(OidcJsonWriter, MembersKeepTheirOrderAndKind)
{
    const std::vector<std::string> values{"1", "\"x\""};
    EXPECT_EQ(R"({"s":"x","n":-5,"b":false,"a":[1,"x"],"e":{}})", JsonObject()
                                                                      .String("s", "x")
                                                                      .Integer("n", -5)
                                                                      .Boolean("b", false)
                                                                      .Json("a", JsonArray(values))
                                                                      .Json("e", JsonObject().Text())
                                                                      .Text());
}

TEST(OidcJsonReader, ReadsBackWhatTheWriterWrites)
{
    std::string every;
    for (char c = 1; c < 0x20; ++c)
        every += c;
    every += "\"\\/\x7F é 😀";
    const auto json = ParseJsonObject(JsonObject()
                                          .String("text", every)
                                          .Integer("big", INT64_MAX)
                                          .Integer("small", INT64_MIN)
                                          .Boolean("t", true)
                                          .Text());
    ASSERT_TRUE(json);
    EXPECT_EQ(every, *json->String("text"));
    EXPECT_EQ(INT64_MAX, json->Integer("big"));
    EXPECT_EQ(INT64_MIN, json->Integer("small"));
    EXPECT_EQ(true, json->Boolean("t"));
    EXPECT_EQ(nullptr, json->String("big")); // a member of another kind is not that kind
    EXPECT_FALSE(json->Integer("absent"));
}

TEST(OidcJsonReader, ReadsJsonsOtherSpellings)
{
    const auto json = ParseJsonObject(" {\n\t\"a\" : \"\\u00e9\\ud83d\\ude00\\/\" ,\r\"z\":-0 } ");
    ASSERT_TRUE(json);
    EXPECT_EQ("é😀/", *json->String("a"));
    EXPECT_EQ(0, json->Integer("z"));
    EXPECT_TRUE(ParseJsonObject("{}"));
}

TEST(OidcJsonReader, RefusesAnythingButOneStrictFlatObject)
{
    for (const char* text : {"",
                             "[]",
                             "{",
                             "{\"a\":1,}",
                             "{\"a\":1}x",
                             "{\"a\":1}{}",
                             "{\"a\":1,\"a\":2}",
                             "{a:1}",
                             "{'a':1}",
                             "{\"a\":\"\x01\"}",
                             "{\"a\":\"\\ud800\"}",
                             "{\"a\":\"\\udc00\"}",
                             "{\"a\":\"\\ud800\\u0041\"}",
                             "{\"a\":\"\\x41\"}",
                             "{\"a\":\"\\u00G1\"}",
                             "{\"a\":01}",
                             "{\"a\":1.5}",
                             "{\"a\":1e3}",
                             "{\"a\":+1}",
                             "{\"a\":9223372036854775808}",
                             "{\"a\":null}",
                             "{\"a\":{}}",
                             "{\"a\":[]}",
                             "{\"a\":\"\xC3\"}",
                             "{\"a\":\"\xED\xA0\x80\"}",
                             "{\"a\":tru}"})
        EXPECT_FALSE(ParseJsonObject(text)) << text;
    std::string many = "{";
    for (std::size_t i = 0; i <= kMaxJsonMembers; ++i)
        many += (i ? ",\"" : "\"") + std::to_string(i) + "\":1";
    EXPECT_FALSE(ParseJsonObject(many + "}"));
    EXPECT_FALSE(ParseJsonObject("{\"a\":\"" + std::string(kMaxJsonLength, 'x') + "\"}"));
}

TEST(OidcForm, DecodesPercentAndPlusToPrintableUtf8Only)
{
    EXPECT_EQ("a b c+é", FormDecoded("a+b%20c%2B%C3%a9"));
    // A bad escape, a raw blank or non-ASCII byte, a control character, bytes that are not UTF-8.
    for (const char* text : {"%2", "%zz", "%", "a b", "\xC3\xA9", "%0A", "%7F", "%C2%85", "%C3", "%FF"})
        EXPECT_FALSE(FormDecoded(text)) << text;
    EXPECT_EQ("a%20b%26c%3Dd%2F%2B%C3%A9-._~", FormEncoded("a b&c=d/+é-._~"));
}

TEST(OidcForm, KeepsARepeatedNameForTheCallerToRefuse)
{
    const auto form = ParseForm("a=1&b=&c&a=2");
    ASSERT_TRUE(form);
    ASSERT_EQ(4u, form->size());
    EXPECT_EQ("a", RepeatedName(*form));
    EXPECT_EQ("1", ValueOf(*form, "a"));
    EXPECT_EQ("", ValueOf(*form, "b"));
    EXPECT_EQ("", ValueOf(*form, "absent"));
    EXPECT_FALSE(RepeatedName(*ParseForm("a=1&b=2")));
    EXPECT_TRUE(ParseForm("")->empty());
}

TEST(OidcForm, RefusesNamelessFieldsAndWhatIsBeyondItsBounds)
{
    for (const char* text : {"a=1&", "&a=1", "a=1&&b=2", "=1", "a=%zz"})
        EXPECT_FALSE(ParseForm(text)) << text;
    std::string fields = "f=1";
    for (std::size_t i = 1; i < kFormBounds.parameters; ++i)
        fields += "&f=1";
    EXPECT_TRUE(ParseForm(fields));
    EXPECT_FALSE(ParseForm(fields + "&f=1"));
    EXPECT_TRUE(ParseForm("v=" + std::string(kFormBounds.valueLength, 'x')));
    EXPECT_FALSE(ParseForm("v=" + std::string(kFormBounds.valueLength + 1, 'x')));
    EXPECT_FALSE(ParseForm(std::string(kFormBounds.nameLength + 1, 'n') + "=1"));
    EXPECT_FALSE(ParseForm("v=" + std::string(kFormBounds.length, 'x')));
}

TEST(OidcForm, AnErrorDescriptionKeepsOnlyTheCharactersItMayHave)
{
    EXPECT_EQ("the parameter ?x?y?? is bad!", ErrorDescription("the parameter \"x\\y\xC3\xA9 is bad!"));
}

TEST(OidcUri, RedirectUrisAreHttpsOrHttpOnLoopback)
{
    for (const char* uri : {"https://app.example.com/cb", "https://app.example.com:8443/cb?tenant=1",
                            "https://a.example", "http://127.0.0.1:8080/cb", "http://127.9.0.1/cb",
                            "http://localhost/cb", "http://LocalHost:80/cb", "http://[::1]:9000/cb"})
        EXPECT_EQ("", RedirectUriProblem(uri)) << uri;
    for (const char* uri :
         {"http://app.example.com/cb", "http://127.0.0.1.evil.example/cb", "http://localhost.evil.example/cb",
          "http://128.0.0.1/cb", "http://127.0.0/cb", "http://[::2]/cb", "https://a.example/cb#top",
          "https://user@a.example/cb", "https://a.example/c b", "https://a.example/\xC3\xA9", "HTTPS://a.example/cb",
          "ftp://a.example/cb", "/cb", "https://", "https:///cb", "https://a.example:/cb", "https://a.example:8a/cb",
          "https://[::1/cb", "https://a_b.example/cb"})
        EXPECT_NE("", RedirectUriProblem(uri)) << uri;
    EXPECT_NE("", RedirectUriProblem("https://a.example/" + std::string(kMaxUriLength, 'x')));
}

TEST(OidcUri, AnIssuerHasNoQueryAndNoSlashAtTheEnd)
{
    EXPECT_EQ("", IssuerProblem("https://logon.example.com/entravo/login.cgi"));
    EXPECT_EQ("", IssuerProblem("http://127.0.0.1:8080/login.fcgi"));
    for (const char* issuer : {"https://logon.example.com/login.cgi?x=1", "https://logon.example.com/",
                               "http://logon.example.com/login.cgi", "https://logon.example.com/login.cgi#f"})
        EXPECT_NE("", IssuerProblem(issuer)) << issuer;
}

TEST(OidcUri, ParametersJoinAQueryTheUriMayAlreadyHave)
{
    const Form fields{{"code", "a b"}, {"state", "x&y=z"}};
    EXPECT_EQ("https://a.example/cb?code=a%20b&state=x%26y%3Dz", WithParameters("https://a.example/cb", fields));
    EXPECT_EQ("https://a.example/cb?t=1&code=a%20b&state=x%26y%3Dz",
              WithParameters("https://a.example/cb?t=1", fields));
    EXPECT_EQ("https://a.example/cb?code=a%20b&state=x%26y%3Dz", WithParameters("https://a.example/cb?", fields));
}
