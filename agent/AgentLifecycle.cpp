#include "agent/AgentLifecycle.h"

bool IsRunningAgentWindow(const std::optional<std::string>& windowText)
{
    return windowText.has_value() && *windowText == kTrayWindowName;
}

bool RunStartAgent(AgentPlatform& platform)
{
    // 1. The driver was found missing earlier in this session.
    if (platform.DriverMissingAtomExists())
        return false;
    // 2.
    platform.SetRegistryKey(kRegistryKeyName);
    // 3. The result of the wait is not examined: a mutex abandoned by an agent that refused
    // to start (it never releases it) is obtained all the same.
    platform.WaitForStartupMutex();
    // 4. The mutex stays held on this path; it is abandoned when the process ends.
    if (IsRunningAgentWindow(platform.WindowText(platform.Profile().GetRegisteredWindow())))
        return false;
    // 5.
    platform.Enable3dControls();
    // 6.
    if (!platform.BindBusLibrary()) {
        // Offering to install a driver that is installed would send the user in a circle; the
        // session is not blocked, since installing the right agent is all it takes.
        if (platform.BusLibraryIsForOtherArchitecture())
            platform.ShowMessage(kBusLibraryOtherArchitecture, kAgentCaption, MessageKind::Error);
        else
            RunDriverMissingPath(platform);
        return false;
    }
    // 7. The command line carries no options.
    // 8.
    platform.RegisterTrayWindowClass();
    // 9.
    platform.LoadTrayIcon();
    // 10.
    const WindowValue trayWindow = platform.CreateTrayWindow();
    // 11.
    platform.Profile().SetRegisteredWindow(trayWindow);
    // 12.
    platform.ReleaseStartupMutex();
    // 13.
    platform.AddTrayIcon(kTrayTip);
    // 14.
    platform.RunMessageLoop();
    // 15.
    return true;
}

void RunDriverMissingPath(AgentPlatform& platform)
{
    // 1.
    const MessageAnswer answer = platform.ShowMessage(kDriverQuestion, kAgentCaption, MessageKind::Question);
    // 2. and 3. The launcher has shown its own warning when it failed.
    if (answer == MessageAnswer::Yes && platform.DriverSetupLauncher())
        platform.ShowMessage(kDriverSetupStarted, kAgentCaption, MessageKind::Information);
    else
        platform.ShowMessage(kDriverStillMissing, kAgentCaption, MessageKind::Error);
    // 4. 5. The start-up mutex stays held until this process ends.
    platform.AddDriverMissingAtom();
}

int RunExitAgent(AgentPlatform& platform, int frameworkExitCode)
{
    // 1. Only the registered agent gives up the registration; a refused start leaves the
    // running agent's value alone.
    if (platform.Profile().GetRegisteredWindow() == platform.TrayWindowValue()) {
        platform.UnbindBusLibrary();
        platform.Profile().SetRegisteredWindow(0);
    }
    // 2.
    platform.DestroyPopupMenu();
    // 3.
    platform.RemoveTrayIcon();
    // 4. A class cannot be unregistered while a window of it exists.
    platform.DestroyTrayWindow();
    platform.UnregisterTrayWindowClass();
    // 5.
    return frameworkExitCode;
}
