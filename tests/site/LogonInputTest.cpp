#include "site/verifier/LogonInput.h"
#include "site/verifier/AuthenticatorVerifier.h"
#include "site/verifier/Identity.h"
#include "tests/support/authenticator/KnownAnswers.h"
#include "tools/authdecode/AuthDecode.h"

#include <gtest/gtest.h>

#include <cctype>
#include <string>

namespace {

const std::string kAuthenticator = "FB32A14FEE34FDAD64471BDC71115D5D7FC2D766830A69C3B114B065A97E0201";

// Every other letter in lower case.
std::string MixedCase(std::string text)
{
    for (std::size_t i = 0; i < text.size(); i += 2)
        text[i] = static_cast<char>(std::tolower(static_cast<unsigned char>(text[i])));
    return text;
}

std::string LowerCase(std::string text)
{
    for (char& c : text)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

void ExpectRejected(const std::string& query)
{
    EXPECT_EQ(std::nullopt, ParseQuery(query)) << query;
}

} // namespace

TEST(ParseQuery, DecodesPercentSequencesAndPlusAndKeepsTheOrder)
{
    const auto parameters = ParseQuery("a=x%2By+z&Authenticate=&flag&b=c=d");
    ASSERT_TRUE(parameters.has_value());
    ASSERT_EQ(4u, parameters->size());
    EXPECT_EQ("a", (*parameters)[0].name);
    EXPECT_EQ("x+y z", (*parameters)[0].value);
    EXPECT_EQ("", (*parameters)[1].value);
    EXPECT_EQ("flag", (*parameters)[2].name);
    EXPECT_EQ("c=d", (*parameters)[3].value);
}

TEST(ParseQuery, RefusesAnythingOutsideTheStrictForm)
{
    for (const char* query : {"", "&", "a=1&", "a=1&&b=2", "=1", "a=1&a=2", "Authenticate=1&Authenticat%65=2", "a=%",
                              "a=%4", "a=%G0", "a=b c", "a=\x80", "a=\t", "a=%00", "a=%0A", "%7F=1"})
        ExpectRejected(query);
}

TEST(ParseQuery, BoundsLengthCountAndSizes)
{
    EXPECT_TRUE(
        ParseQuery(std::string(kQueryBounds.nameLength, 'n') + "=" + std::string(kQueryBounds.valueLength, 'v')));
    ExpectRejected(std::string(kQueryBounds.nameLength + 1, 'n') + "=1");
    ExpectRejected("a=" + std::string(kQueryBounds.valueLength + 1, 'v'));
    // The value limit counts decoded bytes.
    std::string encoded;
    for (std::size_t i = 0; i < kQueryBounds.valueLength; ++i)
        encoded += "%41";
    EXPECT_TRUE(ParseQuery("a=" + encoded));
    ExpectRejected(std::string(kQueryBounds.length + 1, 'a'));

    std::string many;
    for (std::size_t i = 0; i <= kQueryBounds.parameters; ++i)
        many += (i ? "&p" : "p") + std::to_string(i) + "=1";
    ExpectRejected(many);
    EXPECT_TRUE(ParseQuery(many.substr(0, many.rfind('&'))));
}

TEST(AuthenticatorFromInput, FindsTheStringBareInAQueryOrInAUrl)
{
    for (const std::string& input :
         {kAuthenticator, " " + kAuthenticator + "\n", "Authenticate=" + kAuthenticator,
          "http://logon.example.com/cgi-bin/login.cgi?Authenticate=" + kAuthenticator,
          "https://a.example/x?site=7&Authenticate=" + kAuthenticator + "#top",
          // The eleventh character percent-encoded.
          "/login?Authenticate=" + kAuthenticator.substr(0, 10) + "%33" + kAuthenticator.substr(11)}) {
        const AuthenticatorInput found = AuthenticatorFromInput(input);
        EXPECT_EQ(kAuthenticator, found.authenticator.value_or("none")) << input << ": " << found.problem;
    }
}

TEST(AuthenticatorFromInput, SaysWhyThereIsNone)
{
    const struct {
        std::string input;
        const char* problem;
    } cases[] = {
        {kAuthenticator.substr(1), "this one has 63"},
        {"x?Authenticate=" + kAuthenticator + "0", "this one has 65"},
        {kAuthenticator.substr(1) + "G", "only hexadecimal"},
        {"x?auth=" + kAuthenticator, "no Authenticate parameter"},
        {"x?Authenticate=" + kAuthenticator + "&Authenticate=" + kAuthenticator, "well-formed"},
    };
    for (const auto& [input, problem] : cases) {
        const AuthenticatorInput found = AuthenticatorFromInput(input);
        EXPECT_EQ(std::nullopt, found.authenticator) << input;
        EXPECT_NE(std::string::npos, found.problem.find(problem)) << input << ": " << found.problem;
    }
}

TEST(AuthenticatorFromInput, LowerAndMixedCaseAreTheSameStringAsUpperCase)
{
    const std::string genuine = known_answers::kKnownAnswers[1].authenticator;
    for (const std::string& text : {LowerCase(genuine), MixedCase(genuine)}) {
        const AuthenticatorInput fromQuery = AuthenticatorFromQuery("Authenticate=" + text);
        ASSERT_EQ(genuine, fromQuery.authenticator.value_or("none")) << text << ": " << fromQuery.problem;
        EXPECT_EQ(Verdict::Genuine, VerifyAuthenticator(*fromQuery.authenticator).verdict) << text;
        EXPECT_EQ(genuine, AuthenticatorFromInput(" " + text + "\n").authenticator.value_or("none")) << text;
    }
}

TEST(AuthenticatorFromInput, AgreesWithAuthdecodeOnTheSamePaste)
{
    const std::string genuine = known_answers::kKnownAnswers[1].authenticator;
    for (const std::string& paste : {genuine, MixedCase(genuine) + "\r\n",
                                     "http://logon.example.com/cgi-bin/login.cgi?Authenticate=" + LowerCase(genuine)}) {
        const AuthenticatorInput found = AuthenticatorFromInput(paste);
        ASSERT_TRUE(found.authenticator) << paste << ": " << found.problem;
        const AuthDecodeOutcome decoded = DecodeAuthenticatorInput(paste);
        ASSERT_TRUE(decoded.decoded) << paste << ": " << decoded.text;
        EXPECT_EQ(decoded.text, FormatIdentity(*VerifyAuthenticator(*found.authenticator).identity)) << paste;
    }
}
