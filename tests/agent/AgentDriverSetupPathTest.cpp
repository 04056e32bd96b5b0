// Where the driver setup program is started from: the agent's own folder, whatever the path.
#include "agent/DriverSetupPath.h"

#include <gtest/gtest.h>

namespace {

bool ShiftJisLeadByte(unsigned char byte)
{
    return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC);
}

} // namespace

TEST(AgentDriverSetupPath, SetupProgramLiesBesideTheAgentAndStartsInItsFolder)
{
    const auto location = DriverSetupLocationFor(R"(C:\Program Files\Entravo\logonagent.exe)", nullptr);
    ASSERT_TRUE(location.has_value());
    EXPECT_EQ(R"(C:\Program Files\Entravo\SerilaneSetup.exe)", location->program);
    EXPECT_EQ(R"(C:\Program Files\Entravo)", location->workingDirectory);
}

TEST(AgentDriverSetupPath, RootFolderUncPathsAndForwardSlashes)
{
    EXPECT_EQ(R"(C:\SerilaneSetup.exe)", DriverSetupLocationFor(R"(C:\logonagent.exe)", nullptr)->program);
    EXPECT_EQ(R"(\\server\share\SerilaneSetup.exe)",
              DriverSetupLocationFor(R"(\\server\share\logonagent.exe)", nullptr)->program);
    EXPECT_EQ("C:/apps", DriverSetupLocationFor("C:/apps/logonagent.exe", nullptr)->workingDirectory);
    // A dot in a folder name is not the extension.
    EXPECT_EQ(R"(D:\v1.0\SerilaneSetup.exe)", DriverSetupLocationFor(R"(D:\v1.0\agent)", nullptr)->program);
}

TEST(AgentDriverSetupPath, PathWithoutFolderGivesNothingRatherThanAGuess)
{
    EXPECT_FALSE(DriverSetupLocationFor("logonagent.exe", nullptr).has_value());
    EXPECT_FALSE(DriverSetupLocationFor("", nullptr).has_value());
}

TEST(AgentDriverSetupPath, BackslashAsSecondByteOfADoubleByteCharacterDoesNotSplit)
{
    // "\x95\x5C" is one character in Shift-JIS whose second byte is a backslash.
    const std::string path = "C:\\\x95\x5C\\logonagent.exe";
    const auto location = DriverSetupLocationFor(path, ShiftJisLeadByte);
    ASSERT_TRUE(location.has_value());
    EXPECT_EQ("C:\\\x95\x5C", location->workingDirectory);

    const std::string folderEndsInTrailByte = "C:\\\x95\x5Clogonagent.exe";
    EXPECT_EQ("C:", DriverSetupLocationFor(folderEndsInTrailByte, ShiftJisLeadByte)->workingDirectory);
}
