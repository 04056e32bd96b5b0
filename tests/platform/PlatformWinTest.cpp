// The wrappers that need the system: handle ownership and where the running program lives.
#include "platform/Handle.h"
#include "platform/Program.h"

#include <gtest/gtest.h>

#include <windows.h>

TEST(ScopedHandle, ClosesExactlyOnceAndMovesOwnership)
{
    const HANDLE event = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    ASSERT_NE(nullptr, event);
    DWORD flags = 0;
    {
        scoped::KernelHandle first(event);
        scoped::KernelHandle second(std::move(first));
        EXPECT_FALSE(first);
        EXPECT_EQ(event, second.Get());
        scoped::KernelHandle third;
        third = std::move(second);
        EXPECT_TRUE(GetHandleInformation(event, &flags));
    }
    EXPECT_FALSE(GetHandleInformation(event, &flags)) << "closed when the last owner went";

    const HANDLE kept = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    {
        scoped::KernelHandle owner(kept);
        EXPECT_EQ(kept, owner.Release());
    }
    EXPECT_TRUE(GetHandleInformation(kept, &flags)) << "released handles are not closed";
    CloseHandle(kept);
}

TEST(Program, IsNamedAfterItsExecutableAndKnowsItsFolder)
{
    const std::string path = program::ModulePath();
    EXPECT_TRUE(path.ends_with("\\platform_win_test.exe")) << path;
    EXPECT_EQ("platform_win_test", program::Name());
    ASSERT_TRUE(program::Folder().has_value());
    EXPECT_EQ(path.substr(0, path.rfind('\\')), *program::Folder());
    EXPECT_EQ(*program::Folder() + "\\lampup.exe", program::Beside("lampup.exe"));
}
