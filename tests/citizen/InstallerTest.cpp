// The release installer as a user meets it, in this test's own Wine prefix: a silent install
// for the current user, the installed agent started the way the logon start would and logging
// on with the stand-in bus, then a silent uninstall that keeps the settings unless asked.
#include "tests/e2e/AgentStage.h"

#include "profile/ProfileStore.h"
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <windows.h>

#include <shlobj.h>

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <regex>

using namespace e2e;
using namespace uidriver;

namespace {

namespace fs = std::filesystem;

constexpr Milliseconds kInstallTimeout = 120000ms;
constexpr char kRunKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";
constexpr char kUninstallKey[] = "Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Entravo";
constexpr char kProductFolder[] = "Vantok Entravo";
constexpr char kInstalledFiles[][16] = {"logonagent.exe", "lampup.exe", "User guide.txt", "uninstall.exe"};
constexpr char kShortcuts[][24] = {"Vantok Entravo.lnk", "User guide.lnk", "Uninstall.lnk"};

std::string ShellFolder(int folder)
{
    char path[MAX_PATH] = {};
    if (FAILED(SHGetFolderPathA(nullptr, folder, nullptr, SHGFP_TYPE_CURRENT, path)))
        return {};
    return path;
}

std::string InstallFolder()
{
    return ShellFolder(CSIDL_LOCAL_APPDATA) + "\\Programs\\Entravo\\";
}

std::string StartMenuFolder()
{
    return ShellFolder(CSIDL_PROGRAMS) + "\\" + kProductFolder + "\\";
}

std::string SetupPath()
{
    return OwnFolder() + "..\\dist\\" + CITIZEN_SETUP_NAME;
}

std::optional<std::string> ReadUserString(const char* key, const char* name)
{
    char value[2048] = {};
    DWORD size = sizeof(value) - 1;
    if (RegGetValueA(HKEY_CURRENT_USER, key, name, RRF_RT_REG_SZ, nullptr, value, &size) != ERROR_SUCCESS)
        return std::nullopt;
    return std::string(value);
}

bool UserKeyExists(const std::string& key)
{
    HKEY opened = nullptr;
    if (RegOpenKeyExA(HKEY_CURRENT_USER, key.c_str(), 0, KEY_READ, &opened) != ERROR_SUCCESS)
        return false;
    RegCloseKey(opened);
    return true;
}

bool Exists(const std::string& path)
{
    std::error_code error;
    return fs::exists(path, error);
}

std::string ReadFile(const std::string& path)
{
    std::ifstream file(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(file), {});
}

bool CopyFile(const std::string& from, const std::string& to)
{
    std::error_code error;
    return fs::copy_file(from, to, fs::copy_options::overwrite_existing, error);
}

// The program path of a logon-start command: the whole value, or what stands between its
// leading pair of quotes.
std::string ProgramOfCommand(const std::string& command)
{
    if (command.size() >= 2 && command.front() == '"') {
        const auto close = command.find('"', 1);
        if (close != std::string::npos)
            return command.substr(1, close - 1);
    }
    return command;
}

class Installer : public ::testing::Test {
protected:
    void SetUp() override
    {
        EndToEndEnvironment::Install();
        m_job = ProcessJob::Create();
        ASSERT_TRUE(m_job);
        ASSERT_TRUE(Exists(SetupPath())) << "not built: " << SetupPath();
        m_profile.Erase();
    }

    void TearDown() override
    {
        m_job->KillAll(kUiTimeout);
        m_profile.Erase();
        std::error_code error;
        fs::remove_all(InstallFolder(), error);
        fs::remove_all(StartMenuFolder(), error);
        RegDeleteKeyValueA(HKEY_CURRENT_USER, kRunKey, "Entravo");
        RegDeleteKeyA(HKEY_CURRENT_USER, kUninstallKey);
    }

    std::optional<DWORD> RunToEnd(const std::string& program, std::vector<std::string> arguments)
    {
        auto process = ChildProcess::Start({program, std::move(arguments), {}, {}}, m_job);
        if (!process || !process->WaitEnded(kInstallTimeout))
            return std::nullopt;
        return process->ExitCode();
    }

    void InstallSilently()
    {
        const auto status = RunToEnd(SetupPath(), {"/S"});
        ASSERT_TRUE(status) << "the installer did not end";
        ASSERT_EQ(0u, *status);
    }

    // The uninstaller hands over to a copy of itself in the temporary folder and ends at once:
    // its work is done when the program files are gone.
    void UninstallSilently(std::vector<std::string> arguments)
    {
        arguments.insert(arguments.begin(), "/S");
        ASSERT_TRUE(RunToEnd(InstallFolder() + "uninstall.exe", std::move(arguments)));
        ASSERT_TRUE(WaitFor([] { return !Exists(InstallFolder() + "uninstall.exe"); }, kInstallTimeout));
        // The registry goes after the files; the uninstaller's copy ends when it has gone too.
        ASSERT_TRUE(WaitFor([] { return !UserKeyExists(kUninstallKey); }, kInstallTimeout));
        ASSERT_TRUE(WaitFor([this] { return m_job->ProcessIds().empty(); }, kInstallTimeout));
    }

    // The stand-in reader libraries where the maker's drivers would put them, for this agent.
    void ProvideStandInDrivers(const std::string& folder)
    {
        ASSERT_TRUE(CopyFile(BuiltBusLibrary(), folder + "VTFS32.DLL"));
        ASSERT_TRUE(CopyFile(OwnFolder() + "..\\standins\\xobcomm\\XobComm.dll", folder + "XobComm.dll"));
        ASSERT_TRUE(CopyFile(OwnFolder() + "..\\standins\\xobapi\\XOBAPI.dll", folder + "XOBAPI.dll"));
        std::ofstream(folder + "reader.txt", std::ios::binary) << OneTokenOnUsbReader();
    }

    std::optional<RunningAgent> StartInstalledAgent(const std::string& program)
    {
        const std::string folder = InstallFolder();
        ProgramStart start{program,
                           {},
                           folder,
                           {{"ENTRAVO_SIM_READER", folder + "reader.txt"},
                            {"ENTRAVO_SIM_LOG", folder + "bus.log"},
                            {"ENTRAVO_TEST_BROWSER_LOG", folder + "browser.log"}}};
        return AtMessageLoop(ChildProcess::Start(start, m_job));
    }

    AgentProfile m_profile;
    std::shared_ptr<ProcessJob> m_job;
};

} // namespace

TEST_F(Installer, SilentInstallPutsFilesShortcutsAndTheLogonStartInPlace)
{
    InstallSilently();
    for (const char* file : kInstalledFiles)
        EXPECT_TRUE(Exists(InstallFolder() + file)) << file;
    for (const char* shortcut : kShortcuts)
        EXPECT_TRUE(Exists(StartMenuFolder() + shortcut)) << shortcut;

    const auto run = ReadUserString(kRunKey, "Entravo");
    ASSERT_TRUE(run);
    EXPECT_EQ("\"" + InstallFolder() + "logonagent.exe\"", *run) << "quoted, so a path with blanks is one program";
    EXPECT_EQ("Vantok Entravo", ReadUserString(kUninstallKey, "DisplayName"));
    EXPECT_EQ("1.0.0", ReadUserString(kUninstallKey, "DisplayVersion"));
    EXPECT_EQ("\"" + InstallFolder() + "uninstall.exe\"", ReadUserString(kUninstallKey, "UninstallString"));

    // Written for Notepad: CRLF line ends only, and the release's own file names.
    const std::string guide = ReadFile(InstallFolder() + "User guide.txt");
    EXPECT_NE(std::string::npos, guide.find("entravo-1.0.0-setup.exe"));
    EXPECT_EQ(std::string::npos, std::regex_replace(guide, std::regex("\r\n"), "").find('\n'));
    EXPECT_EQ(std::string::npos, guide.find('@')) << "a placeholder was left unfilled";
}

TEST_F(Installer, InstalledAgentStartedAsAtLogonLogsOnThenUninstallKeepsTheSettings)
{
    InstallSilently();
    ProvideStandInDrivers(InstallFolder());
    const auto run = ReadUserString(kRunKey, "Entravo");
    ASSERT_TRUE(run);
    auto agent = StartInstalledAgent(ProgramOfCommand(*run));
    ASSERT_TRUE(agent) << "the installed agent did not reach its message loop";

    PostTrayDoubleClick(agent->window);
    HWND prompt = WaitForDialog(agent->process, IsLogonPrompt);
    ASSERT_NE(nullptr, prompt);
    PostButtonClick(prompt, IDOK);
    ASSERT_TRUE(WaitFor([] { return !ReadFile(InstallFolder() + "browser.log").empty(); }, kUiTimeout));
    const std::string logonUrl = ReadFile(InstallFolder() + "browser.log");
    EXPECT_NE(std::string::npos, logonUrl.find(ProfileStore::DefaultAccessUrl())) << logonUrl;
    EXPECT_TRUE(std::regex_search(logonUrl, std::regex("Authenticate=[0-9A-F]{64}"))) << logonUrl;

    // Installing over a running agent neither stops it nor half-replaces it: a silent install
    // gives up with status 2 and leaves everything as it was.
    const auto status = RunToEnd(SetupPath(), {"/S"});
    ASSERT_TRUE(status);
    EXPECT_EQ(2u, *status);
    EXPECT_FALSE(agent->process.HasEnded());
    EXPECT_EQ(run, ReadUserString(kRunKey, "Entravo"));

    // Uninstalling under a running agent gives up the same way, removing nothing.
    ASSERT_TRUE(RunToEnd(InstallFolder() + "uninstall.exe", {"/S"}));
    EXPECT_TRUE(WaitFor([&] { return m_job->ProcessIds().size() == 1; }, kInstallTimeout)) << "only the agent is left";
    EXPECT_FALSE(agent->process.HasEnded());
    for (const char* file : kInstalledFiles)
        EXPECT_TRUE(Exists(InstallFolder() + file)) << file;
    EXPECT_EQ(run, ReadUserString(kRunKey, "Entravo"));

    ASSERT_TRUE(ExitThroughMenu(agent->process, agent->window));
    m_profile.WriteInt("Settings", "ports", 0x21);

    UninstallSilently({});
    for (const char* file : kInstalledFiles)
        EXPECT_FALSE(Exists(InstallFolder() + file)) << file;
    EXPECT_FALSE(Exists(StartMenuFolder())) << "the Start-menu folder goes with its shortcuts";
    EXPECT_FALSE(ReadUserString(kRunKey, "Entravo"));
    EXPECT_EQ(0x21u, m_profile.ReadInt("Settings", "ports")) << "the settings stay unless asked";
    // What the uninstaller did not install stays, and so does the folder holding it.
    EXPECT_TRUE(Exists(InstallFolder() + "VTFS32.DLL"));
}

TEST_F(Installer, UninstallAskedToPurgeRemovesTheSettingsToo)
{
    InstallSilently();
    m_profile.WriteInt("Settings", "ports", 0x21);
    m_profile.WriteString("Options", "AccessUrl", "http://logon.example/");

    UninstallSilently({"/PURGE"});
    // The uninstaller's copy removes the folder last, after the registry.
    EXPECT_TRUE(WaitFor([] { return !Exists(InstallFolder()); }, kInstallTimeout))
        << "nothing else was in it, so the folder goes";
    EXPECT_FALSE(ReadUserString(kRunKey, "Entravo"));
    EXPECT_TRUE(WaitFor([] { return !UserKeyExists("Software\\Entravo"); }, kUiTimeout))
        << "the profile and its now empty company key are gone";
}
