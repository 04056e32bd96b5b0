#include "logon/Authenticator.h"
#include "logon/AuthenticatorRandom.h"
#include "tests/support/authenticator/KnownAnswers.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <random>
#include <thread>
#include <vector>

namespace {

using namespace known_answers;

RomRecord MakeRom(const RomBytes& bytes, uint8_t upper = 0)
{
    RomRecord rom{};
    for (std::size_t i = 0; i < bytes.size(); ++i)
        rom.cells[i] = static_cast<uint16_t>(upper << 8 | bytes[i]);
    return rom;
}

bool IsUpperHex(const std::string& text)
{
    return std::all_of(text.begin(), text.end(),
                       [](char c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'F'); });
}

} // namespace

TEST(AuthenticatorRandom, FollowsTheClassicSequenceFromSeedOne)
{
    AuthenticatorRandom::Seed(1);
    const std::vector<int> expected = {41, 18467, 6334, 26500, 19169};
    std::vector<int> drawn;
    for (std::size_t i = 0; i < expected.size(); ++i)
        drawn.push_back(AuthenticatorRandom::Next());
    EXPECT_EQ(expected, drawn);
}

TEST(AuthenticatorRandom, EachThreadKeepsItsOwnState)
{
    AuthenticatorRandom::Seed(1);
    std::thread other([] {
        AuthenticatorRandom::Seed(777);
        AuthenticatorRandom::Next();
    });
    other.join();
    EXPECT_EQ(41, AuthenticatorRandom::Next());
}

TEST(Authenticator, MatchesKnownAnswers)
{
    for (const auto& answer : kKnownAnswers) {
        EXPECT_EQ(answer.authenticator, EncodeAuthenticator(MakeRom(kSampleRom), answer.tick)) << answer.tick;
        EXPECT_EQ(kSampleRom, DecodeAuthenticator(answer.authenticator)) << answer.tick;
    }
}

TEST(Authenticator, SameTickGivesSameStringAndOtherTicksDiffer)
{
    const RomRecord rom = MakeRom(kSampleRom);
    EXPECT_EQ(EncodeAuthenticator(rom, 4711), EncodeAuthenticator(rom, 4711));
    EXPECT_NE(EncodeAuthenticator(rom, 4711), EncodeAuthenticator(rom, 4712));
    EXPECT_NE(EncodeAuthenticator(rom, 0), EncodeAuthenticator(rom, 0xFFFFFFFF));
}

TEST(Authenticator, AllZeroRomStillGivesSixtyFourHexCharacters)
{
    const std::string text = EncodeAuthenticator(RomRecord{}, 99);
    EXPECT_EQ(kAuthenticatorLength, text.size());
    EXPECT_TRUE(IsUpperHex(text));
    EXPECT_EQ(RomBytes{}, DecodeAuthenticator(text));
}

TEST(Authenticator, RoundTripsManyRandomRomsAndTicks)
{
    std::mt19937 random(20240611);
    std::uniform_int_distribution<int> byte(0, 255);
    for (int round = 0; round < 5000; ++round) {
        RomBytes bytes{};
        for (auto& b : bytes)
            b = static_cast<uint8_t>(byte(random));
        const uint32_t tick = random();
        const auto upper = static_cast<uint8_t>(byte(random));

        const std::string text = EncodeAuthenticator(MakeRom(bytes), tick);
        ASSERT_EQ(kAuthenticatorLength, text.size()) << tick;
        ASSERT_TRUE(IsUpperHex(text)) << text;
        ASSERT_EQ(bytes, DecodeAuthenticator(text)) << text;
        ASSERT_EQ(text, EncodeAuthenticator(MakeRom(bytes, upper), tick)) << "upper byte " << int(upper);
    }
}

TEST(Authenticator, DecodeAcceptsLowerCase)
{
    std::string text = kKnownAnswers[0].authenticator;
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    EXPECT_EQ(kSampleRom, DecodeAuthenticator(text));
}

TEST(Authenticator, DecodeRejectsWrongLengthsAndNonHexCharacters)
{
    const std::string good = kKnownAnswers[1].authenticator;
    EXPECT_EQ(std::nullopt, DecodeAuthenticator(""));
    EXPECT_EQ(std::nullopt, DecodeAuthenticator(good.substr(1)));
    EXPECT_EQ(std::nullopt, DecodeAuthenticator(good + "0"));
    EXPECT_EQ(std::nullopt, DecodeAuthenticator(" " + good.substr(1)));
    for (const char bad : {'G', 'g', ' ', '\0', '=', '\xFF'}) {
        std::string text = good;
        text[40] = bad;
        EXPECT_EQ(std::nullopt, DecodeAuthenticator(text)) << int(bad);
    }
}

TEST(Authenticator, DecodeRejectsKeysThatAreNotPositive)
{
    EXPECT_EQ(std::nullopt, DecodeAuthenticator(std::string(kAuthenticatorLength, '0')));
    // The second digit is the high nibble of the first byte; its top bit lands in K3's.
    std::string negative = kKnownAnswers[2].authenticator;
    negative[1] = "0123456789ABCDEF"[std::stoi(std::string(1, negative[1]), nullptr, 16) ^ 0x8];
    EXPECT_EQ(std::nullopt, DecodeAuthenticator(negative));
}
