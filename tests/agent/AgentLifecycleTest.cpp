// Start-up and exit of the agent: the order of the steps, who may run, and what each refusal
// leaves behind.
#include "agent/AgentLifecycle.h"
#include "agent/InMemoryProfileBackend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

using ::testing::ElementsAre;
using ::testing::Contains;
using ::testing::Not;

class FakeAgentPlatform final : public AgentPlatform {
public:
    bool DriverMissingAtomExists() override { return atom; }
    void AddDriverMissingAtom() override { Log("add atom"); atom = true; }
    void SetRegistryKey(std::string_view company) override { Log("registry key " + std::string(company)); }
    ProfileStore& Profile() override { return profile; }
    void WaitForStartupMutex() override { Log("wait mutex"); }
    void ReleaseStartupMutex() override { Log("release mutex"); }
    std::optional<std::string> WindowText(WindowValue window) override
    {
        const auto found = windows.find(window);
        if (found == windows.end())
            return std::nullopt;
        return found->second;
    }
    void Enable3dControls() override { Log("3d"); }
    bool BindBusLibrary() override { Log("bind"); return bindSucceeds; }
    bool BusLibraryIsForOtherArchitecture() override { return false; }
    void UnbindBusLibrary() override { Log("unbind"); }
    MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageKind kind) override
    {
        Log("box " + std::to_string(static_cast<int>(kind)) + " " + std::string(caption) + ": " + std::string(text));
        return kind == MessageKind::Question ? answer : MessageAnswer::Ok;
    }
    bool DriverSetupLauncher() override { Log("launch setup"); return launchSucceeds; }
    void RegisterTrayWindowClass() override { Log("register class"); }
    void LoadTrayIcon() override { Log("load icon"); }
    WindowValue CreateTrayWindow() override
    {
        Log("create window");
        trayWindow = createdWindow;
        return trayWindow;
    }
    WindowValue TrayWindowValue() override { return trayWindow; }
    void AddTrayIcon(std::string_view tip) override
    {
        Log("add icon " + std::string(tip) + " registered " + std::to_string(profile.GetRegisteredWindow()));
    }
    void RemoveTrayIcon() override { Log("remove icon"); }
    void DestroyTrayWindow() override { Log("destroy window"); }
    void DestroyPopupMenu() override { Log("destroy menu"); }
    void UnregisterTrayWindowClass() override { Log("unregister class"); }
    int RunMessageLoop() override { Log("loop"); return 0; }

    void Log(std::string line) { calls.push_back(std::move(line)); }

    InMemoryProfileBackend backend;
    ProfileStore profile{backend};
    std::vector<std::string> calls;
    std::map<WindowValue, std::string> windows;
    bool atom = false;
    bool bindSucceeds = true;
    bool launchSucceeds = true;
    MessageAnswer answer = MessageAnswer::No;
    WindowValue createdWindow = 0x1234;
    WindowValue trayWindow = 0;
};

const std::string kQuestion = "box 0 Vantok Entravo: Would you like to setup Merovan drivers?";
const std::string kActivated =
    "box 1 Vantok Entravo: Program will be activated automatically next time system is restarted";
const std::string kNotFunctioning =
    "box 3 Vantok Entravo: Program will not function properly until Merovan drivers are installed";

} // namespace

TEST(AgentStartup, NormalRunRegistersTheWindowBeforeReleasingTheMutexAndAddingTheIcon)
{
    FakeAgentPlatform platform;
    EXPECT_TRUE(RunStartAgent(platform));
    EXPECT_THAT(platform.calls,
                ElementsAre("registry key Entravo", "wait mutex", "3d", "bind", "register class", "load icon",
                            "create window", "release mutex", "add icon Entravo registered 4660", "loop"));
    EXPECT_EQ(0x1234, platform.profile.GetRegisteredWindow());
}

TEST(AgentStartup, DriverMissingAtomEndsTheStartBeforeAnythingElse)
{
    FakeAgentPlatform platform;
    platform.atom = true;
    EXPECT_FALSE(RunStartAgent(platform));
    EXPECT_TRUE(platform.calls.empty());
}

TEST(AgentStartup, LiveAgentWindowRefusesSilentlyAndKeepsTheMutex)
{
    FakeAgentPlatform platform;
    platform.profile.SetRegisteredWindow(77);
    platform.windows[77] = "VornStarter";
    EXPECT_FALSE(RunStartAgent(platform));
    EXPECT_THAT(platform.calls, ElementsAre("registry key Entravo", "wait mutex"));
    EXPECT_EQ(77, platform.profile.GetRegisteredWindow());
}

TEST(AgentStartup, StaleRegistrationDoesNotBlock)
{
    for (const char* text : {"vornstarter", "VornStarter ", "Other", ""}) {
        FakeAgentPlatform platform;
        platform.profile.SetRegisteredWindow(77);
        platform.windows[77] = text; // a recycled handle now names some other window
        EXPECT_TRUE(RunStartAgent(platform)) << text;
    }
    FakeAgentPlatform gone;
    gone.profile.SetRegisteredWindow(78); // no window at all
    EXPECT_TRUE(RunStartAgent(gone));
    EXPECT_EQ(0x1234, gone.profile.GetRegisteredWindow());
}

TEST(AgentStartup, MissingDriverAnsweredNoShowsTheErrorAndAddsTheAtom)
{
    FakeAgentPlatform platform;
    platform.bindSucceeds = false;
    EXPECT_FALSE(RunStartAgent(platform));
    EXPECT_THAT(platform.calls,
                ElementsAre("registry key Entravo", "wait mutex", "3d", "bind", kQuestion, kNotFunctioning, "add atom"));
    EXPECT_THAT(platform.calls, Not(Contains("release mutex")));
    // Every later start in this session ends at once.
    platform.calls.clear();
    EXPECT_FALSE(RunStartAgent(platform));
    EXPECT_TRUE(platform.calls.empty());
}

TEST(AgentStartup, MissingDriverAnsweredYesLaunchesSetupAndSaysWhatHappens)
{
    FakeAgentPlatform started;
    started.bindSucceeds = false;
    started.answer = MessageAnswer::Yes;
    RunStartAgent(started);
    EXPECT_THAT(started.calls, ElementsAre("registry key Entravo", "wait mutex", "3d", "bind", kQuestion, "launch setup",
                                           kActivated, "add atom"));

    FakeAgentPlatform failed;
    failed.bindSucceeds = false;
    failed.answer = MessageAnswer::Yes;
    failed.launchSucceeds = false;
    RunStartAgent(failed);
    EXPECT_THAT(failed.calls, ElementsAre("registry key Entravo", "wait mutex", "3d", "bind", kQuestion, "launch setup",
                                          kNotFunctioning, "add atom"));
}

TEST(AgentExit, RegisteredAgentUnbindsAndClearsItsRegistration)
{
    FakeAgentPlatform platform;
    RunStartAgent(platform);
    platform.calls.clear();
    EXPECT_EQ(0, RunExitAgent(platform, 0));
    EXPECT_THAT(platform.calls, ElementsAre("unbind", "destroy menu", "remove icon", "destroy window", "unregister class"));
    EXPECT_EQ(0, platform.profile.GetRegisteredWindow());
    EXPECT_TRUE(platform.backend.Get("Register", "Window").has_value());
}

TEST(AgentExit, RefusedSecondAgentLeavesTheRunningAgentsRegistrationAlone)
{
    FakeAgentPlatform platform;
    platform.profile.SetRegisteredWindow(77);
    platform.windows[77] = "VornStarter";
    RunStartAgent(platform);
    platform.calls.clear();
    RunExitAgent(platform, 0);
    EXPECT_THAT(platform.calls, ElementsAre("destroy menu", "remove icon", "destroy window", "unregister class"));
    EXPECT_EQ(77, platform.profile.GetRegisteredWindow());
}

TEST(AgentExit, AnotherAgentReplacingTheRegistrationIsNotUndone)
{
    FakeAgentPlatform platform;
    RunStartAgent(platform);
    platform.profile.SetRegisteredWindow(99);
    RunExitAgent(platform, 0);
    EXPECT_EQ(99, platform.profile.GetRegisteredWindow());
    EXPECT_THAT(platform.calls, Not(Contains("unbind")));
}

TEST(AgentExit, PassesTheFrameworksExitCodeOn)
{
    FakeAgentPlatform platform;
    EXPECT_EQ(3, RunExitAgent(platform, 3));
}
