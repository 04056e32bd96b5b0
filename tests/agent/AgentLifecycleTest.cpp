// Start-up and exit of the agent: the order of the steps, who may run, and what each refusal
// leaves behind.
#include "agent/AgentLifecycle.h"
#include "tests/support/profile/InMemoryProfileBackend.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>
#include <optional>
#include <string>
#include <vector>

namespace {

using ::testing::Contains;
using ::testing::ElementsAre;
using ::testing::Not;

class FakeAgentSystem final : public AgentSystem {
public:
    bool DriverMissingAtomExists() override { return atom; }
    void AddDriverMissingAtom() override
    {
        Log("add atom");
        atom = true;
    }
    void SetRegistryKey(std::string_view company) override { Log("registry key " + std::string(company)); }
    void WaitForStartupMutex() override { Log("wait mutex"); }
    // The next agent to start may run as soon as the mutex is released: what it will find
    // registered then is what decides whether it stays.
    void ReleaseStartupMutex() override
    {
        Log("release mutex");
        registeredAtRelease = profile.GetRegisteredWindow();
    }
    std::optional<std::string> WindowText(WindowValue window) override
    {
        const auto found = windows.find(window);
        if (found == windows.end())
            return std::nullopt;
        return found->second;
    }
    void Enable3dControls() override { Log("3d"); }
    bool BusLibraryIsForOtherArchitecture() override { return false; }
    bool BindBusLibrary() override
    {
        Log("bind");
        return bindSucceeds;
    }
    void UnbindBusLibrary() override { Log("unbind"); }
    MessageAnswer ShowMessage(std::string_view text, MessageKind kind) override
    {
        Log("box " + std::to_string(static_cast<int>(kind)) + ": " + std::string(text));
        return kind == MessageKind::Question ? answer : MessageAnswer::Ok;
    }
    bool LaunchDriverSetup() override
    {
        Log("launch setup");
        return launchSucceeds;
    }
    WindowValue CreateTrayWindow() override
    {
        Log("create window");
        return createdWindow;
    }
    void AddTrayIcon() override { Log("add icon, registered " + std::to_string(profile.GetRegisteredWindow())); }
    int RunMessageLoop() override
    {
        Log("loop");
        return 0;
    }
    void DestroyTrayWindow() override { Log("destroy window"); }

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
    std::optional<WindowValue> registeredAtRelease;
};

bool Start(FakeAgentSystem& system)
{
    return StartAgent(system, system.profile);
}

const std::string kQuestion = "box 0: Would you like to setup Merovan drivers?";
const std::string kActivated = "box 1: Program will be activated automatically next time system is restarted";
const std::string kNotFunctioning = "box 2: Program will not function properly until Merovan drivers are installed";

} // namespace

TEST(AgentStartup, NormalRunRegistersTheWindowBeforeReleasingTheMutexAndAddingTheIcon)
{
    FakeAgentSystem system;
    EXPECT_TRUE(Start(system));
    EXPECT_THAT(system.calls, ElementsAre("registry key Entravo", "wait mutex", "3d", "bind", "create window",
                                          "release mutex", "add icon, registered 4660", "loop"));
    EXPECT_EQ(0x1234, system.registeredAtRelease);
    EXPECT_EQ(0x1234, system.profile.GetRegisteredWindow());
}

TEST(AgentStartup, DriverMissingAtomEndsTheStartBeforeAnythingElse)
{
    FakeAgentSystem system;
    system.atom = true;
    EXPECT_FALSE(Start(system));
    EXPECT_TRUE(system.calls.empty());
}

TEST(AgentStartup, LiveAgentWindowRefusesSilentlyAndKeepsTheMutex)
{
    FakeAgentSystem system;
    system.profile.SetRegisteredWindow(77);
    system.windows[77] = "VornStarter";
    EXPECT_FALSE(Start(system));
    EXPECT_THAT(system.calls, ElementsAre("registry key Entravo", "wait mutex"));
    EXPECT_EQ(77, system.profile.GetRegisteredWindow());
}

TEST(AgentStartup, StaleRegistrationDoesNotBlock)
{
    for (const char* text : {"vornstarter", "VornStarter ", "Other", ""}) {
        FakeAgentSystem system;
        system.profile.SetRegisteredWindow(77);
        system.windows[77] = text; // a recycled handle now names some other window
        EXPECT_TRUE(Start(system)) << text;
    }
    FakeAgentSystem gone;
    gone.profile.SetRegisteredWindow(78); // no window at all
    EXPECT_TRUE(Start(gone));
    EXPECT_EQ(0x1234, gone.profile.GetRegisteredWindow());
}

TEST(AgentStartup, MissingDriverAnsweredNoShowsTheErrorAndAddsTheAtom)
{
    FakeAgentSystem system;
    system.bindSucceeds = false;
    EXPECT_FALSE(Start(system));
    EXPECT_THAT(system.calls, ElementsAre("registry key Entravo", "wait mutex", "3d", "bind", kQuestion,
                                          kNotFunctioning, "add atom"));
    EXPECT_THAT(system.calls, Not(Contains("release mutex")));
    // Every later start in this session ends at once.
    system.calls.clear();
    EXPECT_FALSE(Start(system));
    EXPECT_TRUE(system.calls.empty());
}

TEST(AgentStartup, MissingDriverAnsweredYesLaunchesSetupAndSaysWhatHappens)
{
    FakeAgentSystem started;
    started.bindSucceeds = false;
    started.answer = MessageAnswer::Yes;
    Start(started);
    EXPECT_THAT(started.calls, ElementsAre("registry key Entravo", "wait mutex", "3d", "bind", kQuestion,
                                           "launch setup", kActivated, "add atom"));

    FakeAgentSystem failed;
    failed.bindSucceeds = false;
    failed.answer = MessageAnswer::Yes;
    failed.launchSucceeds = false;
    Start(failed);
    EXPECT_THAT(failed.calls, ElementsAre("registry key Entravo", "wait mutex", "3d", "bind", kQuestion, "launch setup",
                                          kNotFunctioning, "add atom"));
}

TEST(AgentExit, RegisteredAgentUnbindsAndClearsItsRegistration)
{
    FakeAgentSystem system;
    Start(system);
    system.calls.clear();
    EXPECT_EQ(0, ExitAgent(system, system.profile, 0x1234, 0));
    EXPECT_THAT(system.calls, ElementsAre("unbind", "destroy window"));
    EXPECT_EQ(0, system.profile.GetRegisteredWindow());
    EXPECT_TRUE(system.backend.Get("Register", "Window").has_value());
}

TEST(AgentExit, OnlyItsOwnRegistrationIsCleared)
{
    // A refused second agent has no window of its own.
    FakeAgentSystem refused;
    refused.profile.SetRegisteredWindow(77);
    EXPECT_EQ(3, ExitAgent(refused, refused.profile, 0, 3));
    EXPECT_THAT(refused.calls, ElementsAre("destroy window"));
    EXPECT_EQ(77, refused.profile.GetRegisteredWindow());

    // Another agent has replaced the registration meanwhile.
    FakeAgentSystem replaced;
    Start(replaced);
    replaced.profile.SetRegisteredWindow(99);
    ExitAgent(replaced, replaced.profile, 0x1234, 0);
    EXPECT_EQ(99, replaced.profile.GetRegisteredWindow());
    EXPECT_THAT(replaced.calls, Not(Contains("unbind")));
}
