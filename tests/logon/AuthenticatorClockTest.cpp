#include "logon/AuthenticatorClock.h"

#include <gtest/gtest.h>
#include <windows.h>

TEST(AuthenticatorClock, SeedsWithTheTickCountOfTheCall)
{
    RomRecord rom{};
    for (uint16_t i = 0; i < 8; ++i)
        rom.cells[i] = static_cast<uint16_t>(0x1100 * i + 0x10 + i);
    const DWORD before = GetTickCount();
    const std::string text = EncodeAuthenticator(rom);
    const DWORD after = GetTickCount();

    bool matched = false;
    for (DWORD tick = before; !matched; ++tick) {
        matched = text == EncodeAuthenticator(rom, tick);
        if (tick == after)
            break;
    }
    EXPECT_TRUE(matched) << text;
    const RomBytes expected = {0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x16, 0x17};
    EXPECT_EQ(expected, DecodeAuthenticator(text));
}
