#include "agent/ProfileName.h"

#include <gtest/gtest.h>

TEST(ProfileName, IsTheExecutableBaseNameWithoutExtension)
{
    EXPECT_EQ("logonagent", ProfileNameFromPath("C:\\Program Files\\Entravo\\logonagent.exe"));
    EXPECT_EQ("logonagent", ProfileNameFromPath("logonagent.exe"));
    EXPECT_EQ("logonagent", ProfileNameFromPath("/opt/bin/logonagent"));
    EXPECT_EQ("agent", ProfileNameFromPath("C:/mixed\\dir/agent.EXE"));
}

TEST(ProfileName, OnlyTheLastExtensionGoesAndDotsInFoldersStay)
{
    EXPECT_EQ("logon.agent", ProfileNameFromPath("C:\\x\\logon.agent.exe"));
    EXPECT_EQ("agent", ProfileNameFromPath("C:\\v1.2\\agent"));
}

TEST(ProfileName, DegeneratePathsGiveEmptyOrPlainNames)
{
    EXPECT_EQ("", ProfileNameFromPath(""));
    EXPECT_EQ("", ProfileNameFromPath("C:\\dir\\"));
    EXPECT_EQ("", ProfileNameFromPath(".exe"));
}
