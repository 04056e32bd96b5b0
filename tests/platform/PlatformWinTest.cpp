// The wrappers that need the system: handle ownership, where the running program lives, and
// the registry's default texts as the opener reads them.
#include "platform/Handle.h"
#include "platform/Program.h"
#include "platform/Registry.h"
#include "tests/support/uidriver/ClassesRoot.h"

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

namespace {

using namespace uidriver;

class QueryKeyDefaultTest : public testing::Test {
protected:
    void TearDown() override { DeleteClassesRootTree(kKey); }

    static constexpr char kKey[] = "EntravoTest.QueryKeyDefault";
};

TEST_F(QueryKeyDefaultTest, ReadsTheDefaultText)
{
    SetClassesRootDefault(kKey, "C:\\Browser\\browse.exe \"%1\"");
    std::string out = "previous";
    EXPECT_EQ(ERROR_SUCCESS, registry::QueryKeyDefault(HKEY_CLASSES_ROOT, kKey, out));
    EXPECT_EQ("C:\\Browser\\browse.exe \"%1\"", out);

    SetClassesRootDefault(kKey, "%SystemRoot%\\browse.exe", REG_EXPAND_SZ);
    EXPECT_EQ(ERROR_SUCCESS, registry::QueryKeyDefault(HKEY_CLASSES_ROOT, kKey, out));
    EXPECT_EQ("%SystemRoot%\\browse.exe", out);
}

TEST_F(QueryKeyDefaultTest, MissingKeyGivesTheOpenErrorAndLeavesTheOutputAlone)
{
    std::string out = "previous";
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, registry::QueryKeyDefault(HKEY_CLASSES_ROOT, "EntravoTest.NoSuchKey", out));
    EXPECT_EQ("previous", out);
}

TEST_F(QueryKeyDefaultTest, UnusableDefaultValueReadsAsEmpty)
{
    std::string out = "previous";
    CreateClassesRootKey(kKey);
    EXPECT_EQ(ERROR_SUCCESS, registry::QueryKeyDefault(HKEY_CLASSES_ROOT, kKey, out));
    EXPECT_EQ("", out) << "missing value";

    out = "previous";
    const DWORD number = 0x41;
    SetClassesRootValue(kKey, REG_DWORD, std::string(reinterpret_cast<const char*>(&number), sizeof(number)));
    EXPECT_EQ(ERROR_SUCCESS, registry::QueryKeyDefault(HKEY_CLASSES_ROOT, kKey, out));
    EXPECT_EQ("", out) << "number";

    out = "previous";
    SetClassesRootDefault(kKey, std::string(260, 'x'));
    EXPECT_EQ(ERROR_SUCCESS, registry::QueryKeyDefault(HKEY_CLASSES_ROOT, kKey, out));
    EXPECT_EQ("", out) << "260 characters";

    out = "previous";
    SetClassesRootValue(kKey, REG_SZ, std::string(260, 'x'));
    EXPECT_EQ(ERROR_SUCCESS, registry::QueryKeyDefault(HKEY_CLASSES_ROOT, kKey, out));
    EXPECT_EQ("", out) << "260 characters stored without a terminator";

    out = "previous";
    SetClassesRootValue(kKey, REG_MULTI_SZ, std::string("one\0two\0\0", 9));
    EXPECT_EQ(ERROR_SUCCESS, registry::QueryKeyDefault(HKEY_CLASSES_ROOT, kKey, out));
    EXPECT_EQ("", out) << "list of texts";
}

TEST_F(QueryKeyDefaultTest, TextOf259CharactersFitsExactly)
{
    const std::string longest(259, 'x');
    SetClassesRootDefault(kKey, longest);
    std::string out;
    EXPECT_EQ(ERROR_SUCCESS, registry::QueryKeyDefault(HKEY_CLASSES_ROOT, kKey, out));
    EXPECT_EQ(longest, out);
}

TEST_F(QueryKeyDefaultTest, PathAndOutputMayBeTheSameString)
{
    SetClassesRootDefault(kKey, "value");
    std::string text = kKey;
    EXPECT_EQ(ERROR_SUCCESS, registry::QueryKeyDefault(HKEY_CLASSES_ROOT, text, text));
    EXPECT_EQ("value", text);
}

} // namespace
