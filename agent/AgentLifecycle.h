#pragma once
// The agent's start-up and exit, in their fixed order and free of Windows: the application
// object does each step on Windows, the native tests record the steps and check the decisions.
#include "profile/ProfileStore.h"

#include <optional>
#include <string>
#include <string_view>

inline constexpr char kStartupMutexName[] = "VNINIT";
inline constexpr char kDriverMissingAtom[] = "VNEXIT";
inline constexpr char kTrayWindowName[] = "VornStarter"; // class and title
inline constexpr char kRegistryKeyName[] = "Entravo";
inline constexpr char kTrayTip[] = "Entravo";

inline constexpr char kAgentCaption[] = "Vantok Entravo";
inline constexpr char kDriverQuestion[] = "Would you like to setup Merovan drivers?";
inline constexpr char kDriverSetupStarted[] = "Program will be activated automatically next time system is restarted";
inline constexpr char kDriverStillMissing[] = "Program will not function properly until Merovan drivers are installed";
inline constexpr char kDriverSetupFailed[] =
    "Unable to execute Merovan driver setup program\nRepeat installation to fix the problem";

// A 64-bit agent cannot load the maker's 32-bit library (nor a 32-bit agent a 64-bit one).
inline constexpr const char* kBusLibraryOtherArchitecture =
    sizeof(void*) == 8
        ? "The Merovan driver library VTFS32.DLL is installed, but it is a 32-bit library, which this "
          "64-bit agent cannot load.\nInstall the 32-bit Vantok Entravo agent: it runs on 64-bit Windows too."
        : "The Merovan driver library VTFS32.DLL is installed, but it is a 64-bit library, which this "
          "32-bit agent cannot load.\nInstall the 64-bit Vantok Entravo agent.";

enum class MessageKind { Question, Information, Error };
enum class MessageAnswer { Ok, Yes, No };

// The window handle of the agent's hidden window as the profile stores it (32 bits).
using WindowValue = int;

// The steps of start-up and exit that reach the system.
class AgentSystem {
public:
    virtual ~AgentSystem() = default;

    virtual bool DriverMissingAtomExists() = 0;
    virtual void AddDriverMissingAtom() = 0;
    // Names the company key of the profile; the profile is usable from then on.
    virtual void SetRegistryKey(std::string_view company) = 0;
    // Creates or opens the start-up mutex without owning it, then waits for it without limit.
    virtual void WaitForStartupMutex() = 0;
    virtual void ReleaseStartupMutex() = 0;
    // The text of the window, or nothing when the value names no window.
    virtual std::optional<std::string> WindowText(WindowValue window) = 0;
    // The common control classes the dialogs use.
    virtual void Enable3dControls() = 0;
    virtual bool BindBusLibrary() = 0;
    // After a failed bind: the library is there, built for the other architecture.
    virtual bool BusLibraryIsForOtherArchitecture() = 0;
    virtual void UnbindBusLibrary() = 0;
    // A message box with no owner and the agent's caption; a question offers Yes and No.
    virtual MessageAnswer ShowMessage(std::string_view text, MessageKind kind) = 0;
    // Starts the driver setup beside the agent; false, after a warning of its own, when it cannot.
    virtual bool LaunchDriverSetup() = 0;
    // Registers the window class, loads the icon's picture and creates the hidden window, in
    // that order; the window's value, 0 when none.
    virtual WindowValue CreateTrayWindow() = 0;
    // Adds the icon with the loaded picture, then lets the picture go (the shell keeps a copy).
    virtual void AddTrayIcon() = 0;
    // Runs until the quit message arrives; returns its exit code.
    virtual int RunMessageLoop() = 0;
    // Destroys the popup menu, removes the icon, destroys the window and unregisters its class.
    virtual void DestroyTrayWindow() = 0;
};

// Start-up: false when this process must not run (another agent, or no driver); true once
// the message loop has ended.
bool StartAgent(AgentSystem& system, ProfileStore& profile);

// The exit step, run after start-up in every case; its result is the process exit code.
int ExitAgent(AgentSystem& system, ProfileStore& profile, WindowValue ownWindow, int frameworkExitCode);

// Whether the window text shows that another agent's hidden window is alive.
bool IsRunningAgentWindow(const std::optional<std::string>& windowText);
