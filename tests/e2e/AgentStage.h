#pragma once
// The stage of an end-to-end case: a throwaway folder laid out like an installed agent
// (logonagent.exe, the stand-in bus library, a recording lampup.exe, a reader description),
// the programs the case starts from it, and what the recording programs saw. Everything the
// case started is killed and the folder removed when the stage goes away, on every path.
#include "tests/support/uidriver/Process.h"
#include "tests/support/uidriver/RecordedLines.h"
#include "tests/support/uidriver/Registry.h"
#include "tests/support/uidriver/TrayDriver.h"
#include "tests/support/uidriver/Wait.h"

#include <windows.h>

#include <array>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace e2e {

using uidriver::ChildProcess;
using uidriver::Milliseconds;
using namespace std::chrono_literals;

inline constexpr Milliseconds kUiTimeout = 30000ms;

// Readers as the stand-in bus library reads them (standins/README.md).
inline constexpr char kTokenRom[] = "01A1B2C3D4E5F6C7";
inline constexpr char kSecondTokenRom[] = "01B2C3D4E5F6A7D8";
inline constexpr char kIndicatorRom[] = "12000000000042A9";
std::string OneTokenOnUsbReader();        // the token and the indicator switch on USB
std::string NoTokenReader();              // only the indicator switch on USB
std::string TwoTokensOnUsbReader();       // two tokens and the indicator switch on USB
std::string OneTokenOnCom1Reader();       // the token on COM1 through adapter type 5
std::string SameTokenTwiceOnCom1Reader(); // the token on COM1 through adapter types 5 and 1

std::array<uint8_t, 8> RomFromHex(std::string_view hex);

using uidriver::RecordedStart;

struct StageLayout {
    bool busLibrary = true;
    std::string busLibraryLacking;            // an entry point the copied library lacks; empty: none
    bool busLibraryOtherArchitecture = false; // a VTFS32.DLL built for the other architecture
    bool lampupRecorder = true;               // a recording lampup.exe beside the agent
    bool setupRecorder = false;               // a recording SerilaneSetup.exe beside the agent
    std::string reader = OneTokenOnUsbReader();
};

// The usual variations of the default layout.
StageLayout WithReader(std::string reader);
StageLayout WithoutBusLibrary(bool setupRecorder = false);
StageLayout WithBusLibraryLacking(std::string entryPoint);
StageLayout WithBusLibraryForOtherArchitecture();

class AgentStage {
public:
    explicit AgentStage(const StageLayout& layout = {});
    ~AgentStage();
    AgentStage(const AgentStage&) = delete;
    AgentStage& operator=(const AgentStage&) = delete;

    // False with a message when something the stage needs was not built.
    bool Ready(std::string* why) const;
    const std::string& Folder() const { return m_folder; }
    std::string AgentPath() const { return m_folder + "logonagent.exe"; }
    void WriteReader(std::string_view text) const;

    // Starts logonagent.exe from the stage folder, with the stage's reader, browser log and
    // bus call log in its environment.
    std::optional<ChildProcess> StartAgent() const;

    std::vector<std::string> BrowserCommandLines() const;
    std::vector<std::string> BrowserUrls() const; // the one argument of each browser start
    std::vector<RecordedStart> LampupStarts() const;
    std::vector<RecordedStart> SetupStarts() const;
    std::vector<std::string> BusCalls() const;

    const uidriver::AgentProfile& Profile() const { return m_profile; }

private:
    std::string m_folder;
    std::shared_ptr<uidriver::ProcessJob> m_job;
    uidriver::AgentProfile m_profile;
    std::vector<std::string> m_missing;
};

// Built files, found from this test program's folder.
std::string BuiltProgram(std::string_view name); // bin\<name>
std::string BuiltBusLibrary(std::string_view lacking = {});

// Set once per test program: the recording test browser answers http and https, icons go to
// a stand-in notification area, and the double-click time is long enough to tell a single
// click's menu from a double-click.
class EndToEndEnvironment {
public:
    static void Install();
    static uidriver::FakeTray& Tray();
};
inline constexpr unsigned kDoubleClickMs = 2500;

// An agent that got as far as its message loop: its hidden window exists and its icon is in
// the notification area.
struct RunningAgent {
    ChildProcess process;
    HWND window = nullptr;
};
std::optional<RunningAgent> LaunchAgent(const AgentStage& stage);
// An agent started some other way, once it reached its message loop; nothing if it never did.
std::optional<RunningAgent> AtMessageLoop(std::optional<ChildProcess> process);

// The stage's agent started (StartReadyAgent) or at its message loop (LaunchReadyAgent), for
// a case that needs it: nothing, with a test failure saying why, when the stage lacks a built
// file or the agent did not get that far.
std::optional<ChildProcess> StartReadyAgent(const AgentStage& stage);
std::optional<RunningAgent> LaunchReadyAgent(const AgentStage& stage);

// The agent's windows.
HWND WaitForAgentWindow(const ChildProcess& agent, Milliseconds timeout = kUiTimeout);
std::vector<HWND> VisibleDialogs(const ChildProcess& agent);
bool IsLogonPrompt(HWND dialog);
bool IsNoTokenDialog(HWND dialog);
bool IsManyTokensDialog(HWND dialog);
bool IsPortSettingsDialog(HWND dialog);
bool IsAccessUrlDialog(HWND dialog);
bool IsMessageBox(HWND dialog, std::string_view caption);
// The one visible dialog of the agent that matches, waiting for it; null at the time-out.
HWND WaitForDialog(const ChildProcess& agent, bool (*matches)(HWND), Milliseconds timeout = kUiTimeout);
HWND WaitForMessageBox(const ChildProcess& agent, std::string_view caption, Milliseconds timeout = kUiTimeout);
bool WaitGone(HWND window, Milliseconds timeout = kUiTimeout);

// The popup menu of the agent, after a click on the icon.
HWND WaitForMenu(Milliseconds timeout = kUiTimeout);
// Ends the agent through its menu's last item ("Exit") and waits for the process to end.
bool ExitThroughMenu(const ChildProcess& agent, HWND agentWindow);

} // namespace e2e
