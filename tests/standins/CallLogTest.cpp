#include "standins/common/CallLog.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <sstream>

TEST(CallLog, FormatCallListsArgumentsAndResult)
{
    EXPECT_EQ("BXSetup(3) = 1", FormatCall("BXSetup", {"3"}, "1"));
    EXPECT_EQ("BXExtendedStartSession(1, 6, null) = 2", FormatCall("BXExtendedStartSession", {"1", "6", "null"}, "2"));
    EXPECT_EQ("KeyOpen() = 0", FormatCall("KeyOpen", {}, "0"));
}

TEST(CallLog, EnvironmentOverridesTheDescribedPath)
{
    EXPECT_EQ("env.log", ChooseLogPath(std::string("env.log"), "described.log"));
    EXPECT_EQ("described.log", ChooseLogPath(std::nullopt, "described.log"));
    EXPECT_EQ("described.log", ChooseLogPath(std::string(), "described.log"));
    EXPECT_EQ("", ChooseLogPath(std::nullopt, ""));
}

TEST(CallLog, AppendsOneLinePerCallAcrossInstances)
{
    auto path = std::filesystem::temp_directory_path() /
                ("calllog-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".log");
    std::filesystem::remove(path);
    CallLog(path.string()).Append("first");
    CallLog log(path.string());
    EXPECT_TRUE(log.Enabled());
    log.Append("second");
    std::stringstream text;
    text << std::ifstream(path).rdbuf();
    EXPECT_EQ("first\nsecond\n", text.str());
    std::filesystem::remove(path);
}

TEST(CallLog, DisabledOrUnwritableLogIsSilent)
{
    CallLog off("");
    EXPECT_FALSE(off.Enabled());
    off.Append("nothing");
    CallLog(std::filesystem::temp_directory_path().string() + "/no-such-folder/x/calls.log").Append("lost quietly");
}
