#pragma once
// The agent's one application object: start-up (one agent per session, the driver check,
// the hidden tray window), the message loop, and the exit step.
#include "agent/RegistryProfileBackend.h"
#include "framework/Application.h"
#include "framework/ScopedHandle.h"

#include <windows.h>

#include <memory>

class AgentApp final : public Application {
public:
    // The profile name and the title come from the executable's base name.
    explicit AgentApp(RegistryProfileBackend& profile, HINSTANCE instance = GetModuleHandleA(nullptr));
    ~AgentApp() override;

    // The running agent, or null when the current application is not one.
    static AgentApp* Current() noexcept;

    // False when this process must not run; true once the message loop has ended.
    bool StartAgent();
    // The exit step, run after StartAgent in every case; the process exit code.
    int ExitAgent();
    // Builds the popup menu afresh and tracks it at the cursor.
    void ShowTrayMenu();
    // Adds the tray icon once more, as at start-up: a restarted shell has forgotten it.
    void RestoreTrayIcon();

    HWND TrayWindow() const noexcept { return trayWindow; }
    HMENU PopupMenu() const noexcept { return popupMenu.Get(); }
    bool MenuShowing() const noexcept { return menuShowing != 0; }

protected:
    bool InitInstance() override;
    int ExitInstance() override;

private:
    class Platform;
    friend class Platform;

    ScopedMenu popupMenu;
    int menuShowing = 0;
    HWND trayWindow = nullptr;

    RegistryProfileBackend& m_profile;
    std::unique_ptr<Platform> m_platform;
    // Held from start-up to the end of the process: released on the normal path only.
    ScopedKernelHandle m_startupMutex;
    ScopedIcon m_trayIcon;
};

// Starts the driver setup program beside the agent; false, after a warning, when it cannot.
bool DriverSetupLauncher();
