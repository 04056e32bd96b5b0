#pragma once
// The agent's start-up and exit decisions, in their fixed order, over the system operations
// they need. The Windows application object supplies those operations; tests supply a fake.
#include "agent/ProfileStore.h"

#include <optional>
#include <string>
#include <string_view>

inline constexpr std::string_view kStartupMutexName = "VNINIT";
inline constexpr std::string_view kDriverMissingAtom = "VNEXIT";
inline constexpr std::string_view kTrayWindowName = "VornStarter"; // class and title
inline constexpr std::string_view kRegistryKeyName = "Entravo";
inline constexpr std::string_view kTrayTip = "Entravo";

inline constexpr std::string_view kAgentCaption = "Vantok Entravo";
inline constexpr std::string_view kDriverQuestion = "Would you like to setup Merovan drivers?";
inline constexpr std::string_view kDriverSetupStarted =
    "Program will be activated automatically next time system is restarted";
inline constexpr std::string_view kDriverStillMissing =
    "Program will not function properly until Merovan drivers are installed";
inline constexpr std::string_view kDriverSetupFailed =
    "Unable to execute Merovan driver setup program\nRepeat installation to fix the problem";

// A 64-bit agent cannot load the maker's 32-bit library (nor a 32-bit agent a 64-bit one).
inline constexpr std::string_view kBusLibraryOtherArchitecture =
    sizeof(void*) == 8
        ? "The Merovan driver library VTFS32.DLL is installed, but it is a 32-bit library, which this "
          "64-bit agent cannot load.\nInstall the 32-bit Vantok Entravo agent: it runs on 64-bit Windows too."
        : "The Merovan driver library VTFS32.DLL is installed, but it is a 64-bit library, which this "
          "32-bit agent cannot load.\nInstall the 64-bit Vantok Entravo agent.";

enum class MessageKind { Question, Information, Warning, Error };
enum class MessageAnswer { Ok, Yes, No };

// The window handle of the agent's hidden window as the profile stores it (32 bits).
using WindowValue = int;

class AgentPlatform {
public:
    virtual ~AgentPlatform() = default;

    virtual bool DriverMissingAtomExists() = 0;
    virtual void AddDriverMissingAtom() = 0;
    // Names the company key of the profile; the profile is usable from then on.
    virtual void SetRegistryKey(std::string_view company) = 0;
    virtual ProfileStore& Profile() = 0;
    // Creates or opens the start-up mutex without owning it, then waits for it without limit.
    virtual void WaitForStartupMutex() = 0;
    virtual void ReleaseStartupMutex() = 0;
    // The text of the window, or nothing when the value names no window.
    virtual std::optional<std::string> WindowText(WindowValue window) = 0;
    // The framework's 3-D look for the controls of dialogs.
    virtual void Enable3dControls() = 0;
    virtual bool BindBusLibrary() = 0;
    // After a failed bind: the library is there, built for the other architecture.
    virtual bool BusLibraryIsForOtherArchitecture() = 0;
    virtual void UnbindBusLibrary() = 0;
    // A message box with no owner; Question offers Yes and No, the others OK.
    virtual MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageKind kind) = 0;
    virtual bool DriverSetupLauncher() = 0;
    virtual void RegisterTrayWindowClass() = 0;
    virtual void LoadTrayIcon() = 0;
    // Creates the hidden window and keeps it as the tray window; its value (0 when none).
    virtual WindowValue CreateTrayWindow() = 0;
    virtual WindowValue TrayWindowValue() = 0;
    // Adds the icon with the loaded picture, then destroys the loaded picture.
    virtual void AddTrayIcon(std::string_view tip) = 0;
    virtual void RemoveTrayIcon() = 0;
    // Destroys the tray window, if any, so that its class can be unregistered.
    virtual void DestroyTrayWindow() = 0;
    virtual void DestroyPopupMenu() = 0;
    virtual void UnregisterTrayWindowClass() = 0;
    // Runs until the quit message arrives; returns its exit code.
    virtual int RunMessageLoop() = 0;
};

// Start-up: false when this process must not run (another agent, or no driver). True once the
// message loop has ended.
bool RunStartAgent(AgentPlatform& platform);

// Offers the driver setup, tells the user how it went, and blocks later starts in this session.
void RunDriverMissingPath(AgentPlatform& platform);

// The exit step, run after start-up in every case; its result is the process exit code.
int RunExitAgent(AgentPlatform& platform, int frameworkExitCode);

// Whether the window text shows that another agent's hidden window is alive.
bool IsRunningAgentWindow(const std::optional<std::string>& windowText);
