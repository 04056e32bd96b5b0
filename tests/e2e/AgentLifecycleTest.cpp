// One agent per session: a second agent, several at once, and registrations left behind by
// agents that did not exit cleanly.
#include "tests/e2e/AgentStage.h"

#include "tests/support/uidriver/WindowQuery.h"

#include <gtest/gtest.h>

using namespace e2e;
using namespace uidriver;

namespace {

uint32_t HandleValue(HWND window)
{
    return static_cast<uint32_t>(reinterpret_cast<uintptr_t>(window));
}

std::size_t AgentWindowCount()
{
    std::size_t count = 0;
    for (HWND window : TopLevelWindows(0)) {
        if (ClassOf(window) == kAgentWindowName && TextOf(window) == kAgentWindowName)
            ++count;
    }
    return count;
}

// A window of the test's own, standing for whatever a stale registration may name.
class OwnWindow {
public:
    explicit OwnWindow(const char* title)
        : m_window(CreateWindowExA(0, "STATIC", title, WS_POPUP, 0, 0, 10, 10, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr))
    {
    }
    ~OwnWindow() { DestroyWindow(m_window); }
    OwnWindow(const OwnWindow&) = delete;
    OwnWindow& operator=(const OwnWindow&) = delete;
    HWND Get() const { return m_window; }

private:
    HWND m_window;
};

class AgentLifecycle : public ::testing::Test {
protected:
    void SetUp() override
    {
        EndToEndEnvironment::Install();
        std::string why;
        ASSERT_TRUE(stage.Ready(&why)) << why;
    }

    AgentStage stage;
};

} // namespace

TEST_F(AgentLifecycle, SecondAgentEndsSilentlyAndLeavesTheRegistrationAlone)
{
    auto first = LaunchAgent(stage);
    ASSERT_TRUE(first);
    const auto registered = stage.Profile().ReadInt("Register", "Window");
    ASSERT_EQ(HandleValue(first->window), registered.value_or(0));

    auto second = stage.StartAgent();
    ASSERT_TRUE(second);
    bool showedSomething = false;
    EXPECT_TRUE(WaitFor(
        [&] {
            showedSomething = showedSomething || !VisibleWindows(second->Id(), kDialogClass).empty();
            return second->HasEnded();
        },
        kUiTimeout, 5ms));
    EXPECT_FALSE(showedSomething);
    EXPECT_EQ(registered, stage.Profile().ReadInt("Register", "Window"));
    EXPECT_FALSE(first->process.HasEnded());
    EXPECT_EQ(first->window, FindAgentWindow());
    EXPECT_EQ(1u, AgentWindowCount());
    const auto icons = EndToEndEnvironment::Tray().Icons();
    EXPECT_EQ(1, std::count_if(icons.begin(), icons.end(), [](const TrayIcon& icon) { return IsWindow(icon.owner); }))
        << "one icon of a living agent";
}

TEST_F(AgentLifecycle, FiveAgentsStartedAtOnceLeaveExactlyOneRunning)
{
    std::vector<ChildProcess> agents;
    for (int i = 0; i < 5; ++i) {
        auto agent = stage.StartAgent();
        ASSERT_TRUE(agent);
        agents.push_back(std::move(*agent));
    }
    const auto running = [&] {
        return std::count_if(agents.begin(), agents.end(), [](const ChildProcess& agent) { return !agent.HasEnded(); });
    };
    ASSERT_TRUE(WaitFor([&] { return running() == 1 && FindAgentWindow() != nullptr; }, kUiTimeout));
    EXPECT_TRUE(HoldsFor([&] { return running() == 1; }, 1000ms));

    HWND window = FindAgentWindow();
    const auto survivor =
        std::find_if(agents.begin(), agents.end(), [](const ChildProcess& agent) { return !agent.HasEnded(); });
    EXPECT_EQ(survivor->Id(), ProcessOf(window));
    EXPECT_EQ(HandleValue(window), stage.Profile().ReadInt("Register", "Window").value_or(0));
    EXPECT_EQ(1u, AgentWindowCount());
    EXPECT_TRUE(WaitFor([&] { return EndToEndEnvironment::Tray().HasIcon(window, kTrayIconId); }, kUiTimeout));
    EXPECT_TRUE(ExitThroughMenu(*survivor, window));
    EXPECT_EQ(0u, stage.Profile().ReadInt("Register", "Window").value_or(99));
}

TEST_F(AgentLifecycle, StaleRegistrationsDoNotBlockStartUp)
{
    OwnWindow lowerCase("vornStarter");
    OwnWindow other("Entravo");
    HWND gone = OwnWindow("VornStarter").Get(); // destroyed at once: a handle that names no window
    for (HWND stale : {gone, lowerCase.Get(), other.Get()}) {
        SCOPED_TRACE("stale value " + TextOf(stale));
        stage.Profile().WriteInt("Register", "Window", HandleValue(stale));
        auto agent = LaunchAgent(stage);
        ASSERT_TRUE(agent) << "the agent refused to start";
        EXPECT_EQ(HandleValue(agent->window), stage.Profile().ReadInt("Register", "Window").value_or(0));
        EXPECT_TRUE(ExitThroughMenu(agent->process, agent->window));
    }
}

TEST_F(AgentLifecycle, RegisteredWindowTitledExactlyLikeTheAgentsBlocksStartUp)
{
    OwnWindow lookalike("VornStarter");
    stage.Profile().WriteInt("Register", "Window", HandleValue(lookalike.Get()));
    auto agent = stage.StartAgent();
    ASSERT_TRUE(agent);
    EXPECT_TRUE(agent->WaitEnded(kUiTimeout));
    EXPECT_EQ(nullptr, FindAgentWindow());
    EXPECT_EQ(HandleValue(lookalike.Get()), stage.Profile().ReadInt("Register", "Window").value_or(0));
}
