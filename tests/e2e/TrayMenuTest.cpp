// The tray icon as the user works it: single and double clicks, the popup menu and its items,
// clicks while a dialog is open, and Exit.
#include "tests/e2e/AgentStage.h"

#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <gtest/gtest.h>

using namespace e2e;
using namespace uidriver;

namespace {

// The double-click time is kDoubleClickMs (set for every program this test starts); the
// margins below are far wider than any scheduling delay, so the order of events decides.
constexpr Milliseconds kSurelyBeforeDoubleClickTime{kDoubleClickMs - 700};
constexpr Milliseconds kSurelyAfterDoubleClickTime{kDoubleClickMs + 1000};

class TrayMenu : public ::testing::Test {
protected:
    void SetUp() override
    {
        EndToEndEnvironment::Install();
        agent = LaunchReadyAgent(stage);
        ASSERT_TRUE(agent);
    }

    bool NoMenuFor(Milliseconds period)
    {
        return HoldsFor([] { return FindVisibleMenu() == nullptr; }, period);
    }

    std::size_t PromptCount()
    {
        const auto dialogs = VisibleDialogs(agent->process);
        return static_cast<std::size_t>(std::count_if(dialogs.begin(), dialogs.end(), IsLogonPrompt));
    }

    AgentStage stage;
    std::optional<RunningAgent> agent;
};

} // namespace

TEST_F(TrayMenu, LeftClickOpensTheMenuOnlyAfterTheDoubleClickTime)
{
    PostTrayMouse(agent->window, WM_LBUTTONDOWN);
    PostTrayMouse(agent->window, WM_LBUTTONUP);
    EXPECT_TRUE(NoMenuFor(kSurelyBeforeDoubleClickTime));
    HWND menu = WaitForMenu();
    ASSERT_NE(nullptr, menu);
    EXPECT_EQ(agent->process.Id(), ProcessOf(menu));
    DismissMenu(menu);
    EXPECT_TRUE(WaitGone(menu));
    EXPECT_TRUE(VisibleDialogs(agent->process).empty());
}

TEST_F(TrayMenu, RightClickOpensTheMenuWellBeforeTheDoubleClickTime)
{
    PostTrayMouse(agent->window, WM_RBUTTONDOWN);
    PostTrayMouse(agent->window, WM_RBUTTONUP);
    HWND menu = WaitForMenu(kSurelyBeforeDoubleClickTime);
    ASSERT_NE(nullptr, menu);
    DismissMenu(menu);
    EXPECT_TRUE(WaitGone(menu));
    EXPECT_TRUE(NoMenuFor(500ms)) << "one click, one menu";
}

TEST_F(TrayMenu, DoubleClickRunsTheLogonAndNoMenuEverFollows)
{
    PostTrayDoubleClick(agent->window);
    HWND prompt = WaitForDialog(agent->process, IsLogonPrompt);
    ASSERT_NE(nullptr, prompt);
    EXPECT_TRUE(NoMenuFor(kSurelyAfterDoubleClickTime));
    PostButtonClick(prompt, IDCANCEL);
    ASSERT_TRUE(WaitGone(prompt));
    // A menu timer left alive by the first click would show its menu now.
    EXPECT_TRUE(NoMenuFor(kSurelyAfterDoubleClickTime));
}

TEST_F(TrayMenu, ClicksAndCommandsWhileADialogIsOpenDoNothing)
{
    PostTrayDoubleClick(agent->window);
    HWND prompt = WaitForDialog(agent->process, IsLogonPrompt);
    ASSERT_NE(nullptr, prompt);

    PostTrayMouse(agent->window, WM_RBUTTONDOWN);
    PostTrayMouse(agent->window, WM_LBUTTONDOWN);
    PostTrayDoubleClick(agent->window);
    PostMessageA(agent->window, WM_COMMAND, 1027, 0);
    PostMessageA(agent->window, WM_COMMAND, 1026, 0);
    EXPECT_TRUE(HoldsFor(
        [&] {
            return FindVisibleMenu() == nullptr && PromptCount() == 1 && VisibleDialogs(agent->process).size() == 1;
        },
        kSurelyAfterDoubleClickTime));
    PostButtonClick(prompt, IDCANCEL);
    ASSERT_TRUE(WaitGone(prompt));
    EXPECT_TRUE(NoMenuFor(1000ms)) << "the ignored clicks left no timer behind";
    EXPECT_FALSE(agent->process.HasEnded()) << "the ignored Exit command stays ignored";
    EXPECT_EQ(agent->window, FindAgentWindow());
}

TEST_F(TrayMenu, MenuItemsInTheirOrderOpenTheLogonThePortsAndTheAccessUrl)
{
    struct Item {
        int downPresses;
        bool (*opens)(HWND);
    };
    for (const Item item : {Item{1, IsLogonPrompt}, Item{2, IsPortSettingsDialog}, Item{3, IsAccessUrlDialog}}) {
        SCOPED_TRACE("item " + std::to_string(item.downPresses));
        PostTrayMouse(agent->window, WM_RBUTTONDOWN);
        HWND menu = WaitForMenu();
        ASSERT_NE(nullptr, menu);
        ChooseMenuItemByDown(menu, item.downPresses);
        HWND dialog = WaitForDialog(agent->process, item.opens);
        ASSERT_NE(nullptr, dialog);
        EXPECT_EQ(1u, VisibleDialogs(agent->process).size());
        PostButtonClick(dialog, IDCANCEL);
        ASSERT_TRUE(WaitGone(dialog));
    }
    EXPECT_TRUE(stage.BrowserCommandLines().empty());
}

TEST_F(TrayMenu, ExitEndsTheAgentClearsItsRegistrationAndRemovesItsIcon)
{
    EXPECT_EQ(static_cast<uint32_t>(reinterpret_cast<uintptr_t>(agent->window)),
              stage.Profile().ReadInt("Register", "Window").value_or(0));
    const auto icons = EndToEndEnvironment::Tray().Icons();
    const auto icon =
        std::find_if(icons.begin(), icons.end(), [&](const TrayIcon& added) { return added.owner == agent->window; });
    ASSERT_NE(icons.end(), icon);
    EXPECT_EQ(kTrayIconId, icon->id);
    EXPECT_EQ(kTrayCallbackMessage, icon->callbackMessage);
    EXPECT_EQ("Entravo", icon->tip);

    ASSERT_TRUE(ExitThroughMenu(agent->process, agent->window));
    EXPECT_EQ(0u, agent->process.ExitCode().value_or(99));
    EXPECT_EQ(0u, stage.Profile().ReadInt("Register", "Window").value_or(99));
    EXPECT_FALSE(EndToEndEnvironment::Tray().HasIcon(agent->window, kTrayIconId));
    EXPECT_FALSE(IsWindow(agent->window));
    EXPECT_EQ(nullptr, FindAgentWindow());
}
