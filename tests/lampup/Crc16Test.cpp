#include <gtest/gtest.h>

#include <string_view>

#include "FakeTokenLibraries.h"
#include "lampup/IndicatorProgram.h"

using namespace lampup;

namespace {

struct Crc {
    FakeTokenLibraries fake;
    IndicatorProgram program{TableOf(fake), fake};

    uint16_t Over(std::initializer_list<int> bytes)
    {
        for (int b : bytes)
            program.Crc16Update(b);
        return program.Crc16();
    }
};

} // namespace

TEST(Crc16, MatchesTheStandardCheckValue)
{
    Crc crc;
    for (char ch : std::string_view("123456789"))
        crc.program.Crc16Update(static_cast<unsigned char>(ch));
    EXPECT_EQ(0xBB3D, crc.program.Crc16());
}

TEST(Crc16, SwitchAnswersAreTheComplementLowByteFirst)
{
    Crc first;
    const auto crc73 = static_cast<uint16_t>(~first.Over({0x55, 0x07, 0x00, 0x73}));
    EXPECT_EQ(0x1E, crc73 & 0xFF);
    EXPECT_EQ(0x17, crc73 >> 8);
    EXPECT_EQ(0xB001, first.Over({0x1E, 0x17}));

    Crc final;
    const auto crc53 = static_cast<uint16_t>(~final.Over({0x55, 0x07, 0x00, 0x53}));
    EXPECT_EQ(0x1F, crc53 & 0xFF);
    EXPECT_EQ(0xCF, crc53 >> 8);
    EXPECT_EQ(0xB001, final.Over({0x1F, 0xCF}));
}

TEST(Crc16, AgreesWithBitwiseFormForEveryByteFromEveryStart)
{
    // Every parity-table entry and every shift path is exercised from a varied accumulator.
    for (int lead = 0; lead < 256; lead += 17) {
        for (int b = 0; b < 256; ++b) {
            Crc crc;
            crc.Over({lead, 0xA5, b});
            ASSERT_EQ(ReferenceCrc16({static_cast<uint8_t>(lead), 0xA5, static_cast<uint8_t>(b)}), crc.program.Crc16())
                << "lead " << lead << " byte " << b;
        }
    }
}

TEST(Crc16, UsesOnlyTheLowByteOfItsArgument)
{
    Crc wide;
    Crc narrow;
    EXPECT_EQ(narrow.Over({0x55, 0x07}), wide.Over({0x7F55, -249}));
}
