#include "tests/e2e/AgentStage.h"

#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/LogonUrl.h"
#include "tests/support/uidriver/RecordedLines.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <stdexcept>

namespace e2e {
namespace fs = std::filesystem;
using namespace uidriver;

namespace {

constexpr char kBrowserLog[] = "browser.log";
constexpr char kBusLog[] = "bus.log";
constexpr char kReaderFile[] = "reader.txt";

std::vector<RecordedStart> ReadStarts(const std::string& path)
{
    std::vector<RecordedStart> starts;
    for (const auto& line : ReadLines(path)) {
        if (auto start = ParseRecordedStart(line))
            starts.push_back(std::move(*start));
    }
    return starts;
}

std::string NewStageFolder()
{
    std::error_code error;
    const fs::path base = fs::temp_directory_path(error);
    for (unsigned attempt = 0;; ++attempt) {
        const auto candidate = base / ("e2e-stage-" + std::to_string(GetCurrentProcessId()) + "-" +
                                       std::to_string(GetTickCount() + attempt));
        if (fs::create_directory(candidate, error))
            return candidate.string() + "\\";
    }
}

bool CopyInto(const std::string& from, const std::string& to, std::vector<std::string>& missing)
{
    std::error_code error;
    if (fs::copy_file(from, to, fs::copy_options::overwrite_existing, error))
        return true;
    missing.push_back(from);
    return false;
}

bool IsTitled(HWND dialog, std::string_view title)
{
    return TextOf(dialog) == title;
}

} // namespace

std::string OneTokenOnUsbReader()
{
    return std::string("bus 1 6\n  device ") + kTokenRom + "\n  device " + kIndicatorRom + "\n";
}

std::string NoTokenReader()
{
    return std::string("bus 1 6\n  device ") + kIndicatorRom + "\n";
}

std::string TwoTokensOnUsbReader()
{
    return std::string("bus 1 6\n  device ") + kTokenRom + "\n  device " + kSecondTokenRom + "\n  device " +
           kIndicatorRom + "\n";
}

std::string OneTokenOnCom1Reader()
{
    return std::string("bus 1 5\n  device ") + kTokenRom + "\n";
}

std::string SameTokenTwiceOnCom1Reader()
{
    return std::string("bus 1 5\n  device ") + kTokenRom + "\nbus 1 1\n  device " + kTokenRom + "\n";
}

std::array<uint8_t, 8> RomFromHex(std::string_view hex)
{
    std::array<uint8_t, 8> bytes{};
    for (std::size_t i = 0; i < bytes.size() && 2 * i + 1 < hex.size(); ++i)
        bytes[i] = static_cast<uint8_t>(std::stoul(std::string(hex.substr(2 * i, 2)), nullptr, 16));
    return bytes;
}

StageLayout WithReader(std::string reader)
{
    StageLayout layout;
    layout.reader = std::move(reader);
    return layout;
}

StageLayout WithoutBusLibrary(bool setupRecorder)
{
    StageLayout layout;
    layout.busLibrary = false;
    layout.setupRecorder = setupRecorder;
    return layout;
}

StageLayout WithBusLibraryLacking(std::string entryPoint)
{
    StageLayout layout;
    layout.busLibraryLacking = std::move(entryPoint);
    return layout;
}

StageLayout WithBusLibraryForOtherArchitecture()
{
    StageLayout layout;
    layout.busLibraryOtherArchitecture = true;
    return layout;
}

std::string BuiltProgram(std::string_view name)
{
    return OwnFolder() + std::string(name);
}

std::string BuiltBusLibrary(std::string_view lacking)
{
    const std::string folder = lacking.empty() ? "vtfs32" : "vtfs32-missing-" + std::string(lacking);
    return OwnFolder() + "..\\standins\\" + folder + "\\VTFS32.DLL";
}

AgentStage::AgentStage(const StageLayout& layout) : m_folder(NewStageFolder()), m_job(ProcessJob::Create())
{
    m_profile.Erase();
    CopyInto(BuiltProgram("logonagent.exe"), AgentPath(), m_missing);
    if (layout.busLibraryOtherArchitecture)
        CopyInto(OwnFolder() + "..\\standins\\vtfs32-other-architecture\\VTFS32.DLL", m_folder + "VTFS32.DLL",
                 m_missing);
    else if (layout.busLibrary)
        CopyInto(BuiltBusLibrary(layout.busLibraryLacking), m_folder + "VTFS32.DLL", m_missing);
    if (layout.lampupRecorder)
        CopyInto(BuiltProgram("e2erecorder.exe"), m_folder + "lampup.exe", m_missing);
    if (layout.setupRecorder)
        CopyInto(BuiltProgram("e2erecorder.exe"), m_folder + "SerilaneSetup.exe", m_missing);
    WriteReader(layout.reader);
}

AgentStage::~AgentStage()
{
    if (m_job)
        m_job->KillAll(kUiTimeout);
    m_profile.Erase();
    std::error_code error;
    fs::remove_all(m_folder, error);
}

bool AgentStage::Ready(std::string* why) const
{
    if (!m_job)
        *why = "no job object for the stage's processes";
    else if (!m_missing.empty())
        *why = "not built: " + m_missing.front();
    else
        return true;
    return false;
}

void AgentStage::WriteReader(std::string_view text) const
{
    std::ofstream(m_folder + kReaderFile, std::ios::binary | std::ios::trunc) << text;
}

std::optional<ChildProcess> AgentStage::StartAgent() const
{
    ProgramStart start;
    start.program = AgentPath();
    start.folder = m_folder;
    start.environment = {{"ENTRAVO_SIM_READER", m_folder + kReaderFile},
                         {"ENTRAVO_SIM_LOG", m_folder + kBusLog},
                         {"ENTRAVO_TEST_BROWSER_LOG", m_folder + kBrowserLog}};
    return ChildProcess::Start(start, m_job);
}

std::vector<std::string> AgentStage::BrowserCommandLines() const
{
    return ReadLines(m_folder + kBrowserLog);
}

std::vector<std::string> AgentStage::BrowserUrls() const
{
    std::vector<std::string> urls;
    for (const auto& line : BrowserCommandLines())
        urls.push_back(UrlFromBrowserCommandLine(line).value_or("<not one URL: " + line + ">"));
    return urls;
}

std::vector<RecordedStart> AgentStage::LampupStarts() const
{
    return ReadStarts(m_folder + "lampup.log");
}

std::vector<RecordedStart> AgentStage::SetupStarts() const
{
    return ReadStarts(m_folder + "SerilaneSetup.log");
}

std::vector<std::string> AgentStage::BusCalls() const
{
    return ReadLines(m_folder + kBusLog);
}

void EndToEndEnvironment::Install()
{
    const std::string browser = "\"" + BuiltProgram("testbrowser.exe") + "\" \"%1\"";
    RegisterUrlHandler("http", browser);
    RegisterUrlHandler("https", browser);
    SetDoubleClickTimeForNewPrograms(kDoubleClickMs);
    Tray();
}

FakeTray& EndToEndEnvironment::Tray()
{
    static const std::unique_ptr<FakeTray> tray = FakeTray::Install(kUiTimeout);
    if (!tray)
        throw std::runtime_error("the stand-in notification area could not be installed");
    return *tray;
}

HWND WaitForAgentWindow(const ChildProcess& agent, Milliseconds timeout)
{
    HWND window = nullptr;
    WaitFor(
        [&] {
            window = FindAgentWindow();
            return (window && ProcessOf(window) == agent.Id()) || agent.HasEnded();
        },
        timeout);
    return window && ProcessOf(window) == agent.Id() ? window : nullptr;
}

std::optional<RunningAgent> AtMessageLoop(std::optional<ChildProcess> process)
{
    if (!process)
        return std::nullopt;
    HWND window = WaitForAgentWindow(*process);
    if (!window || !WaitFor([&] { return EndToEndEnvironment::Tray().HasIcon(window, kTrayIconId); }, kUiTimeout))
        return std::nullopt;
    return RunningAgent{std::move(*process), window};
}

std::optional<RunningAgent> LaunchAgent(const AgentStage& stage)
{
    return AtMessageLoop(stage.StartAgent());
}

std::optional<ChildProcess> StartReadyAgent(const AgentStage& stage)
{
    std::string why;
    if (!stage.Ready(&why)) {
        ADD_FAILURE() << why;
        return std::nullopt;
    }
    auto agent = stage.StartAgent();
    if (!agent)
        ADD_FAILURE() << "the agent did not start";
    return agent;
}

std::optional<RunningAgent> LaunchReadyAgent(const AgentStage& stage)
{
    auto agent = AtMessageLoop(StartReadyAgent(stage));
    if (!agent)
        ADD_FAILURE() << "the agent did not reach its message loop";
    return agent;
}

std::vector<HWND> VisibleDialogs(const ChildProcess& agent)
{
    return VisibleWindows(agent.Id(), kDialogClass);
}

bool IsLogonPrompt(HWND dialog)
{
    return IsTitled(dialog, "Authentication Required") && GetDlgItem(dialog, 1051) && GetDlgItem(dialog, 1052);
}

bool IsNoTokenDialog(HWND dialog)
{
    return IsTitled(dialog, "Authentication Required") && HasStaticText(dialog, "No Vantok\xAE found. To logon:");
}

bool IsManyTokensDialog(HWND dialog)
{
    return IsTitled(dialog, "Authentication Required") &&
           HasStaticText(dialog, "More than one Vantok found.\nUse a single Vantok to logon.");
}

bool IsPortSettingsDialog(HWND dialog)
{
    return IsTitled(dialog, "Port Settings");
}

bool IsAccessUrlDialog(HWND dialog)
{
    return IsTitled(dialog, "Conditionally Accessed Home Page");
}

bool IsMessageBox(HWND dialog, std::string_view caption)
{
    return IsTitled(dialog, caption) && !ReadMessageBox(dialog).text.empty();
}

HWND WaitForDialog(const ChildProcess& agent, bool (*matches)(HWND), Milliseconds timeout)
{
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND dialog : VisibleDialogs(agent)) {
                if (matches(dialog)) {
                    found = dialog;
                    return true;
                }
            }
            return agent.HasEnded();
        },
        timeout);
    return found;
}

HWND WaitForMessageBox(const ChildProcess& agent, std::string_view caption, Milliseconds timeout)
{
    HWND found = nullptr;
    WaitFor(
        [&] {
            for (HWND dialog : VisibleDialogs(agent)) {
                if (IsMessageBox(dialog, caption)) {
                    found = dialog;
                    return true;
                }
            }
            return agent.HasEnded();
        },
        timeout);
    return found;
}

bool WaitGone(HWND window, Milliseconds timeout)
{
    return WaitFor([&] { return !IsWindow(window) || !IsWindowVisible(window); }, timeout);
}

HWND WaitForMenu(Milliseconds timeout)
{
    HWND menu = nullptr;
    WaitFor([&] { return (menu = FindVisibleMenu()) != nullptr; }, timeout);
    return menu;
}

bool ExitThroughMenu(const ChildProcess& agent, HWND agentWindow)
{
    PostTrayMouse(agentWindow, WM_RBUTTONDOWN);
    HWND menu = WaitForMenu();
    return menu && ChooseLastMenuItem(menu) && agent.WaitEnded(kUiTimeout);
}

} // namespace e2e
