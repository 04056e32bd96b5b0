// The agent in this test's own process under Wine: start-up and its refusals, the driver
// question, the hidden window and its registration, icon clicks, the popup menu, the commands
// and a clean exit. The script steps run inside the agent's loops (see UiScript.h).
#include "agent/AgentApp.h"
#include "agent/TrayIcon.h"
#include "agent/TrayLogic.h"
#include "agent/TrayWindow.h"
#include "profile/RegistryProfileBackend.h"
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/Process.h"
#include "tests/support/uidriver/Registry.h"
#include "tests/support/uidriver/TrayDriver.h"
#include "tests/support/uidriver/UiScript.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>

namespace {

using namespace uidriver;

const AgentProfile kStored("agent_tray_test");
constexpr char kCaption[] = "Vantok Entravo";

uint32_t StoredValueOf(HWND window)
{
    return static_cast<uint32_t>(reinterpret_cast<INT_PTR>(window));
}

void RemoveDriverMissingAtom()
{
    while (const ATOM atom = GlobalFindAtomA("VNEXIT"))
        GlobalDeleteAtom(atom);
}

// A window that looks like another agent's: a plain static control with the given title.
HWND MakeWindowTitled(const char* title)
{
    return CreateWindowExA(0, "STATIC", title, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, GetModuleHandleA(nullptr),
                           nullptr);
}

class AgentRun : public ::testing::Test {
protected:
    void SetUp() override
    {
        RemoveDriverMissingAtom();
        kStored.Erase();
        UseBusLibraryFolder("vtfs32");
        m_readerFolder = MakeTempFolder();
        const std::string reader = m_readerFolder + "\\reader.txt";
        WriteTextFile(reader, "bus 1 6\n  device 01A1B2C3D4E5F6C7\n  device 12000000000042A9\n");
        SetEnvironmentVariableA("ENTRAVO_SIM_READER", reader.c_str());
    }

    void TearDown() override
    {
        RemoveDriverMissingAtom();
        SetDllDirectoryA(nullptr);
    }

    // Which stand-in bus library (a folder under standins/) the library search finds; an
    // empty folder name means none at all.
    void UseBusLibraryFolder(const std::string& folder)
    {
        const std::string path = folder.empty() ? MakeTempFolder() : OwnFolder() + "..\\standins\\" + folder;
        SetDllDirectoryA(path.c_str());
    }

    // Runs StartAgent with the script; returns its result.
    bool StartWith(UiScript& script)
    {
        bool started = false;
        EXPECT_EQ("", script.Run([&] { started = agent.StartAgent(); }));
        return started;
    }

    // Steps that end a running agent through its menu command.
    static void AddExit(UiScript& script)
    {
        script.Do("exit command", [] { PostMessageA(AgentApp::Current()->TrayWindow(), WM_COMMAND, 1026, 0); });
    }

    RegistryProfileBackend profile{"agent_tray_test"};
    AgentApp agent{profile};
    std::string m_readerFolder;
};

} // namespace

TEST(TrayMenu, BuiltWithTheItemsTextsAndDefaultInOrder)
{
    scoped::Menu menu = BuildTrayMenu();
    ASSERT_TRUE(menu);
    ASSERT_EQ(7, GetMenuItemCount(menu.Get()));
    const struct {
        UINT id;
        const char* text;
    } expected[] = {{1025, "Vantok Entravo"},
                    {1027, "Port Options"},
                    {1029, "Conditional Access URL"},
                    {0, nullptr},
                    {1028, "About"},
                    {0, nullptr},
                    {1026, "Exit"}};
    for (int i = 0; i < 7; ++i) {
        char text[64] = {};
        MENUITEMINFOA item{};
        item.cbSize = sizeof(item);
        item.fMask = MIIM_FTYPE | MIIM_ID | MIIM_STRING;
        item.dwTypeData = text;
        item.cch = sizeof(text);
        ASSERT_TRUE(GetMenuItemInfoA(menu.Get(), static_cast<UINT>(i), TRUE, &item)) << i;
        if (!expected[i].text) {
            EXPECT_TRUE(item.fType & MFT_SEPARATOR) << i;
            continue;
        }
        EXPECT_EQ(expected[i].id, item.wID) << i;
        EXPECT_STREQ(expected[i].text, text) << i;
    }
    EXPECT_EQ(1025u, GetMenuDefaultItem(menu.Get(), FALSE, 0));
}

TEST(TrayIcon, RecordHasTheFirstVersionSizeTheCallbackAndACutTip)
{
    const HWND window = MakeWindowTitled("tray owner");
    const NOTIFYICONDATAA record = MakeTrayIconRecord(window, 128, nullptr, std::string(100, 'x'));
    EXPECT_EQ(static_cast<DWORD>(NOTIFYICONDATAA_V1_SIZE), record.cbSize);
    if constexpr (sizeof(void*) == 4) {
        EXPECT_EQ(88u, record.cbSize);
    }
    EXPECT_EQ(window, record.hWnd);
    EXPECT_EQ(128u, record.uID);
    EXPECT_EQ(static_cast<UINT>(NIF_MESSAGE | NIF_ICON | NIF_TIP), record.uFlags);
    EXPECT_EQ(7030u, record.uCallbackMessage);
    EXPECT_EQ(std::string(63, 'x'), std::string(record.szTip));
    DestroyWindow(window);
}

TEST(TrayIcon, AddDestroysThePictureItWasGiven)
{
    const HWND window = MakeWindowTitled("tray owner");
    const HICON icon = CopyIcon(LoadIconA(nullptr, IDI_APPLICATION));
    ASSERT_NE(nullptr, icon);
    ICONINFO info{};
    ASSERT_TRUE(GetIconInfo(icon, &info));
    DeleteObject(info.hbmColor);
    DeleteObject(info.hbmMask);

    AddTrayIcon(window, 128, scoped::Icon(icon), "Entravo");
    EXPECT_FALSE(GetIconInfo(icon, &info)) << "the icon handle is still alive";
    RemoveTrayIcon(window, 128);
    DestroyWindow(window);
}

TEST_F(AgentRun, StartsHiddenAndRegisteredThenExitClearsEverything)
{
    HWND tray = nullptr;
    UiScript script;
    script
        .Then("tray window exists",
              [&] {
                  tray = agent.TrayWindow();
                  return tray != nullptr;
              })
        .Do("check window and registration", [&] {
            EXPECT_EQ(tray, FindWindowA("VornStarter", "VornStarter"));
            EXPECT_FALSE(IsWindowVisible(tray));
            EXPECT_TRUE(GetWindowLongPtrA(tray, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
            EXPECT_TRUE(GetWindowLongPtrA(tray, GWL_STYLE) & WS_POPUP);
            RECT rect{};
            GetWindowRect(tray, &rect);
            EXPECT_EQ(-100, rect.left);
            EXPECT_EQ(-100, rect.top);
            EXPECT_EQ(10, rect.right - rect.left);
            EXPECT_EQ(10, rect.bottom - rect.top);
            WNDCLASSA windowClass{};
            EXPECT_TRUE(GetClassInfoA(GetModuleHandleA(nullptr), "VornStarter", &windowClass));
            EXPECT_EQ(0u, windowClass.style);
            EXPECT_EQ(nullptr, windowClass.hbrBackground);
            EXPECT_EQ(std::optional<uint32_t>(StoredValueOf(tray)), kStored.ReadInt("Register", "Window"));
            EXPECT_FALSE(agent.MenuShowing());
        });
    AddExit(script);
    EXPECT_TRUE(StartWith(script));
    EXPECT_EQ(0, agent.ExitAgent());
    EXPECT_EQ(std::optional<uint32_t>(0), kStored.ReadInt("Register", "Window"));
    EXPECT_FALSE(IsWindow(tray));
    WNDCLASSA windowClass{};
    EXPECT_FALSE(GetClassInfoA(GetModuleHandleA(nullptr), "VornStarter", &windowClass));
}

TEST_F(AgentRun, RightClickShowsTheMenuSoonAndLeftClickOnlyAfterTheDoubleClickTime)
{
    const DWORD doubleClickTime = GetDoubleClickTime();
    DWORD clicked = 0;
    auto menuOpens = [&](DWORD notBefore) {
        return [&, notBefore] {
            if (!FindVisibleMenu())
                return false;
            EXPECT_GE(GetTickCount() - clicked, notBefore);
            return true;
        };
    };
    auto checkAndCloseMenu = [&] {
        EXPECT_TRUE(agent.MenuShowing());
        EXPECT_TRUE(IsWindowVisible(agent.TrayWindow()));
        EXPECT_EQ(7, GetMenuItemCount(agent.PopupMenu()));
        EXPECT_EQ(1025u, GetMenuDefaultItem(agent.PopupMenu(), FALSE, 0));
        EndMenu();
    };
    auto menuClosed = [&] {
        return !FindVisibleMenu() && !agent.MenuShowing() && !IsWindowVisible(agent.TrayWindow());
    };

    UiScript script;
    script.Then("started", [&] { return agent.TrayWindow() != nullptr; })
        .Do("right click",
            [&] {
                clicked = GetTickCount();
                PostTrayMouse(agent.TrayWindow(), WM_RBUTTONDOWN);
            })
        .Then("menu after right click", menuOpens(0))
        .Do("close menu", checkAndCloseMenu)
        .Then("menu closed", menuClosed)
        .Do("left click",
            [&] {
                clicked = GetTickCount();
                PostTrayMouse(agent.TrayWindow(), WM_LBUTTONDOWN);
            })
        // Timers never fire early; half the time leaves room for coarse clocks.
        .Then("menu after left click", menuOpens(doubleClickTime / 2))
        .Do("close menu again", checkAndCloseMenu)
        .Then("menu closed again", menuClosed);
    AddExit(script);
    EXPECT_TRUE(StartWith(script));
    agent.ExitAgent();
}

TEST_F(AgentRun, DoubleClickRunsTheLogonWithoutMenuAndTheIconIsDeadWhileItIsOpen)
{
    HWND prompt = nullptr;
    DWORD mark = 0;
    bool menuSeen = false;
    UiScript script;
    script.Then("started", [&] { return agent.TrayWindow() != nullptr; })
        .Do("double click",
            [&] {
                PostTrayMouse(agent.TrayWindow(), WM_LBUTTONDOWN);
                PostTrayMouse(agent.TrayWindow(), WM_LBUTTONDBLCLK);
            })
        .Then("prompt opens",
              [&] {
                  menuSeen |= FindVisibleMenu() != nullptr;
                  prompt = FindThreadDialog("Authentication Required");
                  return prompt != nullptr;
              })
        .Do("click the icon and send commands while the prompt is open",
            [&] {
                EXPECT_TRUE(TrayCommandInProgress());
                mark = GetTickCount();
                PostTrayMouse(agent.TrayWindow(), WM_RBUTTONDOWN);
                PostTrayMouse(agent.TrayWindow(), WM_LBUTTONDBLCLK);
                PostMessageA(agent.TrayWindow(), WM_COMMAND, 1027, 0);
            })
        .Then("nothing else opens for longer than the double-click time",
              [&] {
                  menuSeen |= FindVisibleMenu() != nullptr;
                  EXPECT_EQ(nullptr, FindThreadDialog("Port Settings"));
                  EXPECT_EQ(1u, VisibleWindows(GetCurrentProcessId(), kDialogClass).size());
                  return GetTickCount() - mark > GetDoubleClickTime() + 200;
              })
        .Do("cancel the prompt", [&] { PostButtonClick(prompt, IDCANCEL); })
        .Then("prompt closed", [&] { return !IsWindow(prompt) && !TrayCommandInProgress(); });
    AddExit(script);
    EXPECT_TRUE(StartWith(script));
    agent.ExitAgent();
    EXPECT_FALSE(menuSeen);
    EXPECT_EQ(std::nullopt, kStored.ReadInt("Options", "SkipAccessDialog")) << "Cancel stores nothing";
}

TEST_F(AgentRun, MenuCommandsOpenTheirDialogs)
{
    UiScript script;
    script.Then("started", [&] { return agent.TrayWindow() != nullptr; });
    const struct {
        WPARAM command;
        const char* caption;
    } commands[] = {{1027, "Port Settings"}, {1029, "Conditionally Accessed Home Page"}, {1028, "About"}};
    for (const auto& command : commands) {
        script
            .Do(std::string("command for ") + command.caption,
                [&] { PostMessageA(agent.TrayWindow(), WM_COMMAND, command.command, 0); })
            .Then(std::string(command.caption) + " opens", OnDialog(command.caption,
                                                                    [&](HWND dialog) {
                                                                        EXPECT_TRUE(TrayCommandInProgress());
                                                                        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
                                                                    }))
            .Then(std::string(command.caption) + " closes",
                  [&] { return !FindThreadDialog(command.caption) && !TrayCommandInProgress(); });
    }
    AddExit(script);
    EXPECT_TRUE(StartWith(script));
    agent.ExitAgent();
}

TEST_F(AgentRun, CloseRequestEndsTheAgent)
{
    UiScript script;
    script.Then("started", [&] { return agent.TrayWindow() != nullptr; }).Do("close", [&] {
        PostMessageA(agent.TrayWindow(), WM_CLOSE, 0, 0);
    });
    EXPECT_TRUE(StartWith(script));
    EXPECT_EQ(0, agent.ExitAgent());
    EXPECT_EQ(std::optional<uint32_t>(0), kStored.ReadInt("Register", "Window"));
}

TEST_F(AgentRun, DriverMissingAtomEndsTheStartSilently)
{
    GlobalAddAtomA("VNEXIT");
    EXPECT_FALSE(agent.StartAgent());
    EXPECT_EQ(nullptr, agent.TrayWindow());
    EXPECT_EQ(0, agent.ExitAgent());
    EXPECT_EQ(nullptr, FindWindowA("VornStarter", nullptr));
}

TEST_F(AgentRun, LiveAgentWindowRefusesSilentlyAndKeepsItsRegistration)
{
    const HWND other = MakeWindowTitled("VornStarter");
    kStored.WriteInt("Register", "Window", StoredValueOf(other));
    EXPECT_FALSE(agent.StartAgent());
    EXPECT_EQ(0, agent.ExitAgent());
    EXPECT_EQ(std::optional<uint32_t>(StoredValueOf(other)), kStored.ReadInt("Register", "Window"));
    EXPECT_EQ(nullptr, FindWindowA("VornStarter", nullptr));
    DestroyWindow(other);
}

TEST_F(AgentRun, StaleRegistrationDoesNotBlockTheStart)
{
    const HWND lookalike = MakeWindowTitled("vornstarter");
    const HWND gone = MakeWindowTitled("VornStarter");
    DestroyWindow(gone);
    for (const HWND stale : {lookalike, gone}) {
        kStored.WriteInt("Register", "Window", StoredValueOf(stale));
        UiScript script;
        script.Then("started", [&] { return agent.TrayWindow() != nullptr; });
        AddExit(script);
        EXPECT_TRUE(StartWith(script));
        agent.ExitAgent();
    }
    DestroyWindow(lookalike);
}

namespace {

// Answers the driver question and the boxes after it, recording each box's text and icon.
struct DriverBoxes {
    std::vector<std::string> texts;
    HWND current = nullptr;

    UiScript::Step Answer(int button)
    {
        return [this, button] {
            const HWND box = FindThreadDialog(kCaption);
            if (!box || box == current)
                return false;
            current = box;
            texts.push_back(ReadMessageBox(box).text);
            PostButtonClick(box, button);
            return true;
        };
    }
};

const char kQuestion[] = "Would you like to setup Merovan drivers?";
const char kNotFunctioning[] = "Program will not function properly until Merovan drivers are installed";
const char kSetupFailed[] = "Unable to execute Merovan driver setup program\nRepeat installation to fix the problem";

} // namespace

TEST_F(AgentRun, MissingLibraryAsksAboutDriversAndAnsweringNoBlocksLaterStarts)
{
    UseBusLibraryFolder("");
    DriverBoxes boxes;
    UiScript script;
    script.Then("question", boxes.Answer(IDNO)).Then("error", boxes.Answer(IDOK));
    EXPECT_FALSE(StartWith(script));
    agent.ExitAgent();
    EXPECT_EQ((std::vector<std::string>{kQuestion, kNotFunctioning}), boxes.texts);
    EXPECT_NE(0, GlobalFindAtomA("VNEXIT"));

    // The library is back, but the session remembers.
    UseBusLibraryFolder("vtfs32");
    EXPECT_FALSE(agent.StartAgent());
    agent.ExitAgent();
}

TEST_F(AgentRun, YesWithoutSetupProgramWarnsThenGivesTheError)
{
    UseBusLibraryFolder("vtfs32-missing-BXGetTypeVersion");
    DriverBoxes boxes;
    UiScript script;
    script.Then("question", boxes.Answer(IDYES)).Then("warning", boxes.Answer(IDOK)).Then("error", boxes.Answer(IDOK));
    EXPECT_FALSE(StartWith(script));
    agent.ExitAgent();
    EXPECT_EQ((std::vector<std::string>{kQuestion, kSetupFailed, kNotFunctioning}), boxes.texts);
    EXPECT_NE(0, GlobalFindAtomA("VNEXIT"));
}
