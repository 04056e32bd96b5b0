#pragma once
// The agent's one application object: start-up (one agent per session, the driver check,
// the hidden tray window), the message loop, and the exit step. The order of both lives in
// AgentLifecycle; this object does each of their steps on Windows.
#include "agent/AgentLifecycle.h"
#include "framework/Application.h"
#include "platform/Handle.h"
#include "profile/RegistryProfileBackend.h"

#include <windows.h>

class AgentApp final : public Application, private AgentSystem {
public:
    // The profile name and the title come from the executable's base name.
    explicit AgentApp(RegistryProfileBackend& profile, HINSTANCE instance = GetModuleHandleA(nullptr));

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
    void InitInstance() override;
    int ExitInstance() override;

private:
    bool DriverMissingAtomExists() override;
    void AddDriverMissingAtom() override;
    void SetRegistryKey(std::string_view company) override;
    void WaitForStartupMutex() override;
    void ReleaseStartupMutex() override;
    std::optional<std::string> WindowText(WindowValue window) override;
    void Enable3dControls() override;
    bool BindBusLibrary() override;
    bool BusLibraryIsForOtherArchitecture() override;
    void UnbindBusLibrary() override;
    MessageAnswer ShowMessage(std::string_view text, MessageKind kind) override;
    bool LaunchDriverSetup() override;
    WindowValue CreateTrayWindow() override;
    void AddTrayIcon() override;
    int RunMessageLoop() override;
    void DestroyTrayWindow() override;

    void LoadTrayIcon();

    scoped::Menu popupMenu;
    int menuShowing = 0;
    HWND trayWindow = nullptr;

    RegistryProfileBackend& m_profile;
    // Held from start-up to the end of the process: released on the normal path only.
    scoped::KernelHandle m_startupMutex;
    scoped::Icon m_trayIcon;
};
