// The ground every Windows test stands on: a fresh prefix of its own and a display.
#include <gtest/gtest.h>
#include <windows.h>

TEST(WineHarness, EachProgramStartsWithAnEmptyProfile)
{
    HKEY key = nullptr;
    EXPECT_EQ(ERROR_FILE_NOT_FOUND, RegOpenKeyExA(HKEY_CURRENT_USER, "software\\Entravo", 0, KEY_READ, &key));
    // Leave something behind: the next program must not see it.
    ASSERT_EQ(ERROR_SUCCESS, RegCreateKeyExA(HKEY_CURRENT_USER, "software\\Entravo", 0, nullptr, 0, KEY_WRITE, nullptr,
                                             &key, nullptr));
    RegCloseKey(key);
}

TEST(WineHarness, EachProgramStartsWithoutGlobalAtoms)
{
    EXPECT_EQ(0, GlobalFindAtomA("VNEXIT"));
    GlobalAddAtomA("VNEXIT");
}

TEST(WineHarness, ADisplayIsAvailable)
{
    HWND window = CreateWindowExA(0, "STATIC", "probe", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                  GetModuleHandleA(nullptr), nullptr);
    ASSERT_NE(nullptr, window);
    EXPECT_GT(GetSystemMetrics(SM_CXSCREEN), 0);
    DestroyWindow(window);
}
