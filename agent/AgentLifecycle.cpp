#include "agent/AgentLifecycle.h"

namespace {

// Asks whether to run the driver setup and says how it went. The launcher has shown a warning
// of its own when it failed, and the user still learns that the agent will not work.
void OfferDriverSetup(AgentSystem& system)
{
    const MessageAnswer answer = system.ShowMessage(kDriverQuestion, MessageKind::Question);
    if (answer == MessageAnswer::Yes && system.LaunchDriverSetup())
        system.ShowMessage(kDriverSetupStarted, MessageKind::Information);
    else
        system.ShowMessage(kDriverStillMissing, MessageKind::Error);
}

} // namespace

bool IsRunningAgentWindow(const std::optional<std::string>& windowText)
{
    return windowText.has_value() && *windowText == kTrayWindowName;
}

bool StartAgent(AgentSystem& system, ProfileStore& profile)
{
    // The user has been asked about the driver once in this session; later starts end quietly
    // until the user logs on again.
    if (system.DriverMissingAtomExists())
        return false;
    system.SetRegistryKey(kRegistryKeyName);
    // From here to the registration, one start at a time, so two agents started together cannot
    // both find none running. The wait's result is not examined: a mutex abandoned by an agent
    // that refused to start (it never releases it) is obtained all the same.
    system.WaitForStartupMutex();
    // A registration can outlive its agent and the handle can be reused, so only a live window
    // titled as the agent's counts. This start leaves quietly, holding the mutex to its end.
    if (IsRunningAgentWindow(system.WindowText(profile.GetRegisteredWindow())))
        return false;
    system.Enable3dControls();
    if (!system.BindBusLibrary()) {
        // Offering to install a driver that is installed would send the user in a circle; the
        // session is not blocked, since installing the right agent is all it takes.
        if (system.BusLibraryIsForOtherArchitecture()) {
            system.ShowMessage(kBusLibraryOtherArchitecture, MessageKind::Error);
            return false;
        }
        OfferDriverSetup(system);
        system.AddDriverMissingAtom();
        return false;
    }
    // The command line carries no options, so the hidden window comes next.
    const WindowValue trayWindow = system.CreateTrayWindow();
    // Registered before the mutex is released: the next start must find this agent.
    profile.SetRegisteredWindow(trayWindow);
    system.ReleaseStartupMutex();
    system.AddTrayIcon();
    system.RunMessageLoop();
    return true;
}

int ExitAgent(AgentSystem& system, ProfileStore& profile, WindowValue ownWindow, int frameworkExitCode)
{
    // Only the registered agent gives up the library and the registration; a refused start
    // leaves the running agent's value alone.
    if (profile.GetRegisteredWindow() == ownWindow) {
        system.UnbindBusLibrary();
        profile.SetRegisteredWindow(0);
    }
    system.DestroyTrayWindow();
    return frameworkExitCode;
}
