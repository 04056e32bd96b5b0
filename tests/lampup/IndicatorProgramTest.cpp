#include <gtest/gtest.h>
#include <gmock/gmock.h>

#include "FakeTokenLibraries.h"
#include "lampup/IndicatorProgram.h"

using namespace lampup;
using ::testing::Each;
using ::testing::ElementsAre;

namespace {

const DeviceId kToken = {0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0xC7};
const DeviceId kSwitch = {0x12, 0x00, 0x00, 0x00, 0x00, 0x00, 0x42, 0xA9};
const DeviceId kSwitch92 = {0x92, 0x10, 0x20, 0x30, 0x40, 0x50, 0x60, 0x77};
const DeviceId kOtherSwitch = {0x12, 0x99, 0x88, 0x77, 0x66, 0x55, 0x44, 0x33};
const DeviceId kNearMiss = {0x13, 0x00, 0x00, 0x00, 0x00, 0x00, 0x42, 0x01};
const DeviceId kTokenRomBefore = {0xA0, 0xA1, 0xA2, 0xA3, 0xA4, 0xA5, 0xA6, 0xA7};

const char* const kBlock73 = "VtDataBlock 55 07 00 73 FF FF";
const char* const kBlock53 = "VtDataBlock 55 07 00 53 FF FF";

struct Reader {
    FakeTokenLibraries fake;
    IndicatorProgram program{TableOf(fake), fake};

    int Run() { return program.Run(); }
};

} // namespace

TEST(LampupRun, NoXobFoundMakesNoFurtherCall)
{
    Reader reader;
    reader.fake.xobCount = 0;
    reader.fake.devices = {kSwitch};

    EXPECT_EQ(0, reader.Run());
    EXPECT_THAT(reader.fake.calls, ElementsAre("SetXobSearchParamsEx 0 0 132", "FindXobs zeroed"));
}

TEST(LampupRun, WorkingSwitchGetsEachCommandOnceInTheGivenOrder)
{
    Reader reader;
    reader.fake.devices = {kToken, kSwitch};
    reader.fake.findResult = 0xDEADBEEF;

    EXPECT_EQ(0, reader.Run());
    EXPECT_THAT(reader.fake.calls,
                ElementsAre("SetXobSearchParamsEx 0 0 132", "FindXobs zeroed", "SelectXob DEADBEEF",
                            "GetFirmwareVersionString",
                            // first step: search, then one confirmed command
                            "VtKeyOpen", "VtROMData", "VtOverdriveOff", "VtFirst", "VtNext", "VtROMData",
                            "VtStrongAccess", kBlock73, "VtKeyClose",
                            // second step: no search, the remembered switch
                            "VtKeyOpen", "VtOverdriveOff", "VtROMData", "VtStrongAccess", kBlock53, "VtKeyClose"));
    EXPECT_THAT(reader.fake.addressed, ElementsAre(kSwitch, kSwitch));
}

TEST(LampupRun, AnyFoundCountCountsAsFound)
{
    Reader reader;
    reader.fake.xobCount = 255;
    reader.fake.devices = {kSwitch};

    EXPECT_EQ(0, reader.Run());
    EXPECT_EQ(2, reader.fake.Count("VtKeyOpen"));
}

TEST(LampupRun, BusWithoutSwitchOpensOneSessionAndSendsNothing)
{
    const std::vector<std::vector<DeviceId>> buses = {{}, {kToken, kNearMiss, {0x81, 1, 2, 3, 4, 5, 6, 7}}};
    for (const auto& devices : buses) {
        Reader reader;
        reader.fake.devices = devices;

        EXPECT_EQ(0, reader.Run());
        EXPECT_EQ(1, reader.fake.Count("VtKeyOpen"));
        EXPECT_EQ(1, reader.fake.Count("VtKeyClose"));
        EXPECT_EQ(1, reader.fake.Count("VtFirst"));
        EXPECT_EQ(static_cast<int>(devices.size()), reader.fake.Count("VtNext"));
        EXPECT_EQ(0, reader.fake.Count("VtStrongAccess"));
        EXPECT_TRUE(reader.fake.blocksSent.empty());
        EXPECT_THAT(reader.fake.romAtClose, ElementsAre(kTokenRomBefore));
    }
}

TEST(LampupRun, FamilyByteWithHighBitSetIsTheSwitch)
{
    Reader reader;
    reader.fake.devices = {kToken, kSwitch92};

    reader.Run();
    EXPECT_THAT(reader.fake.addressed, ElementsAre(kSwitch92, kSwitch92));
    EXPECT_EQ(2u, reader.fake.blocksSent.size());
}

TEST(LampupRun, OnlyTheFirstOfTwoSwitchesGetsBothCommands)
{
    Reader reader;
    reader.fake.devices = {kSwitch, kOtherSwitch, kToken};

    reader.Run();
    EXPECT_EQ(0, reader.fake.Count("VtNext")); // later devices are never looked at
    EXPECT_THAT(reader.fake.addressed, ElementsAre(kSwitch, kSwitch));
}

TEST(LampupRun, SwitchNeverRightGetsElevenAttemptsEachFollowedByAPause)
{
    Reader reader;
    reader.fake.devices = {kSwitch};
    reader.fake.laterAnswers = SwitchAnswer::Wrong;

    EXPECT_EQ(0, reader.Run());
    std::vector<std::string> expected = {"SetXobSearchParamsEx 0 0 132",
                                         "FindXobs zeroed",
                                         "SelectXob 00C0FFEE",
                                         "GetFirmwareVersionString",
                                         "VtKeyOpen",
                                         "VtROMData",
                                         "VtOverdriveOff",
                                         "VtFirst",
                                         "VtROMData"};
    for (int attempt = 0; attempt < 11; ++attempt) {
        expected.push_back("VtStrongAccess");
        expected.push_back(kBlock73);
        expected.push_back("Sleep 10");
    }
    expected.push_back("VtKeyClose");
    EXPECT_EQ(expected, reader.fake.calls);
    EXPECT_THAT(reader.fake.romAtClose, ElementsAre(kTokenRomBefore));
}

TEST(LampupRun, StrongAccessAlwaysFailingSendsNoBlock)
{
    Reader reader;
    reader.fake.devices = {kSwitch};
    reader.fake.strongAccessFails = true;

    EXPECT_EQ(0, reader.Run());
    EXPECT_EQ(11, reader.fake.Count("VtStrongAccess"));
    EXPECT_EQ(11, reader.fake.Count("Sleep 10"));
    EXPECT_TRUE(reader.fake.blocksSent.empty());
    EXPECT_EQ(1, reader.fake.Count("VtKeyOpen"));
}

TEST(LampupRun, FailedBlockExchangeIsRetriedAfterAPause)
{
    Reader reader;
    reader.fake.devices = {kSwitch};
    reader.fake.answers = {SwitchAnswer::BlockFails, SwitchAnswer::BlockFails};

    reader.Run();
    EXPECT_EQ(3, reader.fake.Count(kBlock73));
    EXPECT_EQ(1, reader.fake.Count(kBlock53));
    EXPECT_EQ(2, reader.fake.Count("Sleep 10"));
}

TEST(LampupRun, ConfirmationOnFourthAttemptEndsTheFirstStepThenSecondStartsAfresh)
{
    Reader reader;
    reader.fake.devices = {kSwitch};
    reader.fake.answers = {SwitchAnswer::Wrong, SwitchAnswer::Wrong, SwitchAnswer::Wrong, SwitchAnswer::Right,
                           SwitchAnswer::Wrong};

    EXPECT_EQ(0, reader.Run());
    EXPECT_EQ(4, reader.fake.Count(kBlock73));
    EXPECT_EQ(2, reader.fake.Count(kBlock53)); // one wrong answer, then right
    EXPECT_EQ(4, reader.fake.Count("Sleep 10"));
    EXPECT_EQ(2, reader.fake.Count("VtKeyOpen"));
    EXPECT_EQ(2, reader.fake.Count("VtKeyClose"));
}

TEST(LampupRun, SecondCommandNeverConfirmedStillEndsCleanly)
{
    Reader reader;
    reader.fake.devices = {kSwitch};
    reader.fake.answers = {SwitchAnswer::Right};
    reader.fake.laterAnswers = SwitchAnswer::Wrong;

    EXPECT_EQ(0, reader.Run());
    EXPECT_EQ(1, reader.fake.Count(kBlock73));
    EXPECT_EQ(11, reader.fake.Count(kBlock53));
    EXPECT_EQ(11, reader.fake.Count("Sleep 10"));
    EXPECT_EQ("VtKeyClose", reader.fake.calls.back());
    EXPECT_EQ(0, reader.fake.sessionsOpen);
}

TEST(LampupRun, KeyOpenFailingInFirstStepEndsTheRunWithoutClose)
{
    Reader reader;
    reader.fake.devices = {kSwitch};
    reader.fake.keyOpenResults = {false};

    EXPECT_EQ(0, reader.Run());
    EXPECT_EQ("VtKeyOpen", reader.fake.calls.back());
    EXPECT_EQ(1, reader.fake.Count("VtKeyOpen"));
    EXPECT_EQ(0, reader.fake.Count("VtKeyClose"));
    EXPECT_TRUE(reader.fake.blocksSent.empty());
}

TEST(LampupRun, KeyOpenFailingInSecondStepSendsOnlyTheFirstCommand)
{
    Reader reader;
    reader.fake.devices = {kSwitch};
    reader.fake.keyOpenResults = {true, false};

    EXPECT_EQ(0, reader.Run());
    EXPECT_EQ("VtKeyOpen", reader.fake.calls.back());
    EXPECT_EQ(1, reader.fake.Count("VtKeyClose"));
    EXPECT_THAT(reader.fake.blocksSent, ElementsAre(ElementsAre(0x55, 0x07, 0x00, 0x73, 0xFF, 0xFF)));
}

TEST(LampupRun, OnlyTheReceivedCheckBytesEnterTheTest)
{
    // Garbage read back over the command bytes changes nothing.
    Reader garbled;
    garbled.fake.devices = {kSwitch};
    garbled.fake.echoOverride = {0x00, 0xFF, 0x12, 0x34};
    garbled.Run();
    EXPECT_EQ(1, garbled.fake.Count(kBlock73));
    EXPECT_EQ(1, garbled.fake.Count(kBlock53));

    // Read-back bytes that would make a wrong answer look right must not be believed: the
    // switch answers the check bytes for 0x53 while 0x73 was sent.
    Reader fooled;
    fooled.fake.devices = {kSwitch};
    fooled.fake.echoOverride = {0x55, 0x07, 0x00, 0x53};
    fooled.fake.answerMatchesEcho = true;
    EXPECT_EQ(0, fooled.program.FindIndicatorAndWrite());
    EXPECT_EQ(11, fooled.fake.Count(kBlock73));
}

TEST(LampupRun, RomBufferIsRestoredAtEveryClose)
{
    for (auto later : {SwitchAnswer::Right, SwitchAnswer::Wrong}) {
        Reader reader;
        reader.fake.devices = {kToken, kSwitch, kOtherSwitch};
        reader.fake.answers = {SwitchAnswer::Right};
        reader.fake.laterAnswers = later;

        reader.Run();
        ASSERT_EQ(2u, reader.fake.romAtClose.size());
        EXPECT_THAT(reader.fake.romAtClose, Each(kTokenRomBefore));
        EXPECT_EQ(reader.fake.romAtOpen, reader.fake.romAtClose);
    }
}

TEST(LampupRun, MissingRomBufferClosesTheSessionAndSendsNothing)
{
    Reader reader;
    reader.fake.devices = {kSwitch};
    reader.fake.romDataIsNull = true;

    EXPECT_EQ(0, reader.Run());
    EXPECT_EQ(1, reader.fake.Count("VtKeyClose"));
    EXPECT_EQ(0, reader.fake.Count("VtStrongAccess"));
    EXPECT_EQ(0, reader.fake.sessionsOpen);
}

TEST(WriteSwitchState, AddressesEveryAttemptByTheIdAndSendsTheLowByteOfTheValue)
{
    Reader reader;
    reader.fake.devices = {kSwitch};
    reader.fake.answers = {SwitchAnswer::Wrong, SwitchAnswer::Wrong};
    reader.fake.VtKeyOpen();

    EXPECT_EQ(1, reader.program.WriteSwitchState(kSwitch, 0x1273));
    EXPECT_THAT(reader.fake.blocksSent, Each(ElementsAre(0x55, 0x07, 0x00, 0x73, 0xFF, 0xFF)));
    EXPECT_THAT(reader.fake.addressed, ElementsAre(kSwitch, kSwitch, kSwitch));
    EXPECT_EQ(kTokenRomBefore, reader.fake.rom);
}
