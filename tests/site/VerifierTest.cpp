#include "site/verifier/AuthenticatorVerifier.h"
#include "site/verifier/Identity.h"
#include "site/verifier/Signature.h"
#include "tests/support/authenticator/KnownAnswers.h"
#include "tools/authdecode/AuthDecode.h"

#include <gtest/gtest.h>

#include <random>
#include <string>

namespace {

using namespace known_answers;

RomRecord RecordOf(const RomBytes& bytes)
{
    RomRecord rom{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        rom.cells[i] = bytes[i];
    return rom;
}

void ExpectGenuine(const std::string& text, const RomBytes& rom, uint32_t tick)
{
    const Verification verification = VerifyAuthenticator(text);
    ASSERT_EQ(Verdict::Genuine, verification.verdict) << text;
    EXPECT_EQ(rom, verification.identity) << text;
    EXPECT_EQ(tick & 0x7FFFFFFF, verification.seed) << text;
}

} // namespace

TEST(AuthenticatorVerifier, RecoversTheTickOfEveryKnownAnswer)
{
    for (const auto& answer : kKnownAnswers)
        ExpectGenuine(answer.authenticator, kSampleRom, answer.tick);
}

TEST(AuthenticatorVerifier, AgreesWithAuthdecodeAndRecoversTicksModulo2To31)
{
    std::mt19937 random(7031);
    for (int round = 0; round < 200; ++round) {
        RomBytes rom{};
        for (auto& byte : rom)
            byte = static_cast<uint8_t>(random());
        // The extremes of the tick too: the top bit never shows, so it cannot be recovered.
        const uint32_t tick = round == 0 ? 0xFFFFFFFF : round == 1 ? 0x80000000 : random();
        const std::string text = EncodeAuthenticator(RecordOf(rom), tick);
        ExpectGenuine(text, rom, tick);
        EXPECT_EQ(DecodeAuthenticatorInput(text).text, FormatIdentity(*VerifyAuthenticator(text).identity));
    }
}

// A slip at an edge of the seed search refuses a genuine string now and then (one in a few
// hundred): only a long run of consecutive ticks meets enough of them.
TEST(AuthenticatorVerifier, EveryTickOfALongRunIsRecovered)
{
    int refused = 0;
    for (uint32_t tick = 100'000; tick < 120'000; ++tick) {
        const Verification verification = VerifyAuthenticator(EncodeAuthenticator(RecordOf(kSampleRom), tick));
        refused += verification.verdict != Verdict::Genuine || verification.seed != tick;
    }
    EXPECT_EQ(0, refused);
}

TEST(AuthenticatorVerifier, NoSingleChangedDigitOfAGenuineStringIsGenuine)
{
    for (const uint32_t tick : {0u, 12345u, 0x7FFFFFFFu, 2026u}) {
        const std::string genuine = EncodeAuthenticator(RecordOf(kSampleRom), tick);
        for (std::size_t position = 0; position < genuine.size(); ++position) {
            for (const char digit : std::string_view("0123456789ABCDEF")) {
                if (digit == genuine[position])
                    continue;
                std::string changed = genuine;
                changed[position] = digit;
                ASSERT_NE(Verdict::Genuine, VerifyAuthenticator(changed).verdict) << changed;
            }
        }
    }
}

TEST(AuthenticatorVerifier, RandomStringsAreNotGenuine)
{
    std::mt19937 random(99);
    for (int round = 0; round < 300; ++round) {
        std::string text;
        for (std::size_t i = 0; i < kAuthenticatorLength; ++i)
            text += "0123456789ABCDEF"[random() % 16];
        const Verification verification = VerifyAuthenticator(text);
        EXPECT_EQ(Verdict::NotGenuine, verification.verdict) << text;
        EXPECT_EQ(DecodeAuthenticator(text), verification.identity) << text;
    }
}

TEST(AuthenticatorVerifier, OnlyTheAgentsExactTextIsGenuine)
{
    const std::string genuine = kKnownAnswers[1].authenticator;
    std::string lower = genuine;
    for (char& c : lower)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    const Verification fromLower = VerifyAuthenticator(lower);
    EXPECT_EQ(Verdict::NotGenuine, fromLower.verdict);
    EXPECT_EQ(kSampleRom, fromLower.identity);

    // A key that is not positive decodes to no identity at all.
    const Verification zeros = VerifyAuthenticator(std::string(kAuthenticatorLength, '0'));
    EXPECT_EQ(Verdict::NotGenuine, zeros.verdict);
    EXPECT_EQ(std::nullopt, zeros.identity);

    for (const std::string& bad : {std::string(), genuine.substr(1), genuine + "0", genuine.substr(0, 63) + "G",
                                   " " + genuine.substr(1), genuine.substr(0, 10) + '\0' + genuine.substr(11)}) {
        const Verification verification = VerifyAuthenticator(bad);
        EXPECT_EQ(Verdict::Malformed, verification.verdict) << bad;
        EXPECT_EQ(std::nullopt, verification.identity) << bad;
    }
}

TEST(Identity, PrintsAndReadsSixteenHexDigitsFamilyCodeFirst)
{
    EXPECT_EQ("0123456789ABCDEF", FormatIdentity(kSampleRom));
    EXPECT_EQ(kSampleRom, ParseIdentity("0123456789abcdef"));
    for (const char* bad : {"", "0123456789ABCDE", "0123456789ABCDEF0", "0123456789ABCDEG", " 123456789ABCDEF"})
        EXPECT_EQ(std::nullopt, ParseIdentity(bad)) << bad;
}

// Version 2 signs every field percent-encoded: an '&' or '=' inside a value (an account may
// hold both) never moves the boundary between two fields, as it does in version 1.
TEST(Signature, VersionTwoFixesWhereEachFieldEnds)
{
    const Fields honest = {{"account", "bob&identity=0123456789ABCDEF"}, {"identity", "FEDCBA9876543210"}};
    const Fields bent = {{"account", "bob"}, {"identity", "0123456789ABCDEF&identity=FEDCBA9876543210"}};
    EXPECT_EQ(SignedText(honest, SignatureVersion::One), SignedText(bent, SignatureVersion::One));
    EXPECT_NE(SignedText(honest, SignatureVersion::Two), SignedText(bent, SignatureVersion::Two));
    EXPECT_EQ("account=bob%26identity%3D0123456789ABCDEF&identity=FEDCBA9876543210",
              SignedText(honest, SignatureVersion::Two));
    EXPECT_EQ("%C3%A9t%C3%A9%20~-._%2F%2B%3DAz09", PercentEncoded("\xC3\xA9t\xC3\xA9 ~-._/+=Az09"));
}
