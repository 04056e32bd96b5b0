// The agent among other programs: it adds its icon again when a restarted shell announces a new
// taskbar (also while one of its dialogs is open), and it never loads a bus library planted in
// the folder it was started from, while the one beside it is still found.
#include "tests/e2e/AgentStage.h"

#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <windows.h>

#include <psapi.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <fstream>

using namespace e2e;
using namespace uidriver;

namespace {

namespace fs = std::filesystem;

constexpr char kCaption[] = "Vantok Entravo";
constexpr char kQuestion[] = "Would you like to setup Merovan drivers?";
constexpr char kWillNotFunction[] = "Program will not function properly until Merovan drivers are installed";
constexpr char kExitAtom[] = "VNEXIT";

UINT TaskbarCreated()
{
    return RegisterWindowMessageA("TaskbarCreated");
}

// What a newly started shell does: tell every top-level window that the taskbar is back.
void AnnounceNewTaskbar()
{
    PostMessageA(HWND_BROADCAST, TaskbarCreated(), 0, 0);
}

std::size_t AddsOf(HWND owner)
{
    const auto events = EndToEndEnvironment::Tray().Events();
    return static_cast<std::size_t>(std::count_if(events.begin(), events.end(), [&](const TrayEvent& event) {
        return event.action == TrayAction::Add && event.icon.owner == owner && event.icon.id == kTrayIconId;
    }));
}

// The last icon record the agent's window added, as the notification area received it.
std::optional<TrayIcon> LastAdded(HWND owner)
{
    const auto events = EndToEndEnvironment::Tray().Events();
    for (auto event = events.rbegin(); event != events.rend(); ++event) {
        if (event->action == TrayAction::Add && event->icon.owner == owner)
            return event->icon;
    }
    return std::nullopt;
}

bool WaitForAdds(HWND owner, std::size_t count)
{
    return WaitFor([&] { return AddsOf(owner) >= count; }, kUiTimeout);
}

std::string Lower(std::string text)
{
    std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return std::tolower(c); });
    return text;
}

// The base names of the modules loaded in a process, lower case.
std::vector<std::string> LoadedModules(HANDLE process)
{
    std::vector<HMODULE> modules(512);
    DWORD needed = 0;
    if (!EnumProcessModules(process, modules.data(), static_cast<DWORD>(modules.size() * sizeof(HMODULE)), &needed))
        return {};
    modules.resize(std::min<std::size_t>(modules.size(), needed / sizeof(HMODULE)));
    std::vector<std::string> names;
    for (HMODULE module : modules) {
        char name[MAX_PATH] = {};
        if (GetModuleBaseNameA(process, module, name, MAX_PATH) > 0)
            names.push_back(Lower(name));
    }
    return names;
}

bool HasModule(HANDLE process, std::string_view name)
{
    const auto modules = LoadedModules(process);
    return std::find(modules.begin(), modules.end(), Lower(std::string(name))) != modules.end();
}

// A new user session as far as the agent can tell: the atom left by a driver question is gone.
void ForgetDriverAnswer()
{
    for (int i = 0; i < 100 && GlobalFindAtomA(kExitAtom) != 0; ++i)
        GlobalDeleteAtom(GlobalFindAtomA(kExitAtom));
}

// A folder of its own that the agent is started from, holding what a stranger put there.
class StartFolder {
public:
    StartFolder() : m_path(fs::temp_directory_path() / ("citizen-start-" + std::to_string(GetCurrentProcessId())))
    {
        std::error_code error;
        fs::create_directories(m_path, error);
    }
    ~StartFolder()
    {
        std::error_code error;
        fs::remove_all(m_path, error);
    }
    StartFolder(const StartFolder&) = delete;
    StartFolder& operator=(const StartFolder&) = delete;

    std::string Path() const { return m_path.string() + "\\"; }

    bool Plant(const std::string& from, const std::string& name) const
    {
        std::error_code error;
        return fs::copy_file(from, m_path / name, fs::copy_options::overwrite_existing, error);
    }

private:
    fs::path m_path;
};

class AgentCitizen : public ::testing::Test {
protected:
    void SetUp() override
    {
        EndToEndEnvironment::Install();
        ForgetDriverAnswer();
        m_job = ProcessJob::Create();
        ASSERT_TRUE(m_job);
    }
    void TearDown() override
    {
        m_job->KillAll(kUiTimeout);
        ForgetDriverAnswer();
    }

    // The staged agent, started with the given folder as its current directory.
    std::optional<ChildProcess> StartFrom(const AgentStage& stage, const StartFolder& folder)
    {
        ProgramStart start;
        start.program = stage.AgentPath();
        start.folder = folder.Path();
        start.environment = {{"ENTRAVO_SIM_READER", folder.Path() + "reader.txt"},
                             {"ENTRAVO_SIM_LOG", folder.Path() + "bus.log"}};
        std::ofstream(folder.Path() + "reader.txt", std::ios::binary) << OneTokenOnUsbReader();
        return ChildProcess::Start(start, m_job);
    }

    void Answer(const ChildProcess& agent, const char* text, int button)
    {
        HWND box = WaitForMessageBox(agent, kCaption);
        ASSERT_NE(nullptr, box) << "no message box: " << text;
        EXPECT_EQ(text, ReadMessageBox(box).text);
        PostButtonClick(box, button);
        ASSERT_TRUE(WaitGone(box));
    }

    std::shared_ptr<ProcessJob> m_job;
};

} // namespace

TEST_F(AgentCitizen, NewTaskbarGetsTheIconAgainWithItsCallbackAndTipAndTheAgentStillServesIt)
{
    AgentStage stage;
    auto agent = LaunchReadyAgent(stage);
    ASSERT_TRUE(agent);
    ASSERT_EQ(1u, AddsOf(agent->window));

    AnnounceNewTaskbar();
    ASSERT_TRUE(WaitForAdds(agent->window, 2));
    const auto icon = LastAdded(agent->window);
    ASSERT_TRUE(icon);
    EXPECT_EQ(kTrayIconId, icon->id);
    EXPECT_EQ(kTrayCallbackMessage, icon->callbackMessage);
    EXPECT_EQ("Entravo", icon->tip);

    // Every announcement, not just the first: the shell may restart any number of times.
    AnnounceNewTaskbar();
    ASSERT_TRUE(WaitForAdds(agent->window, 3));

    // The icon added again is the working one: its click still leads to the logon.
    PostTrayDoubleClick(agent->window);
    HWND prompt = WaitForDialog(agent->process, IsLogonPrompt);
    ASSERT_NE(nullptr, prompt);
    PostButtonClick(prompt, IDCANCEL);
    ASSERT_TRUE(WaitGone(prompt));
    EXPECT_TRUE(ExitThroughMenu(agent->process, agent->window));
    EXPECT_FALSE(EndToEndEnvironment::Tray().HasIcon(agent->window, kTrayIconId));
}

TEST_F(AgentCitizen, NewTaskbarWhileADialogIsOpenStillGetsTheIcon)
{
    AgentStage stage;
    auto agent = LaunchReadyAgent(stage);
    ASSERT_TRUE(agent);
    PostTrayDoubleClick(agent->window);
    HWND prompt = WaitForDialog(agent->process, IsLogonPrompt);
    ASSERT_NE(nullptr, prompt);

    AnnounceNewTaskbar();
    EXPECT_TRUE(WaitForAdds(agent->window, 2)) << "a shell restarted during a dialog lost the icon";
    EXPECT_TRUE(IsWindowVisible(prompt)) << "the dialog stays as it was";

    PostButtonClick(prompt, IDCANCEL);
    ASSERT_TRUE(WaitGone(prompt));
    EXPECT_TRUE(ExitThroughMenu(agent->process, agent->window));
}

TEST_F(AgentCitizen, BusLibraryInTheStartFolderIsNeverLoadedAndTheDriverQuestionFollows)
{
    AgentStage stage(WithoutBusLibrary());
    std::string why;
    ASSERT_TRUE(stage.Ready(&why)) << why;
    StartFolder folder;
    ASSERT_TRUE(folder.Plant(BuiltBusLibrary(), "VTFS32.DLL"));

    auto agent = StartFrom(stage, folder);
    ASSERT_TRUE(agent);
    HWND box = WaitForMessageBox(*agent, kCaption);
    ASSERT_NE(nullptr, box) << "the agent ran on the planted library";
    // The question comes after the failed load, so the module list is final by now.
    EXPECT_FALSE(HasModule(agent->Handle(), "VTFS32.DLL"));
    EXPECT_TRUE(HasModule(agent->Handle(), "logonagent.exe")) << "the module list can be read at all";
    EXPECT_EQ(nullptr, FindAgentWindow());

    Answer(*agent, kQuestion, IDNO);
    Answer(*agent, kWillNotFunction, IDOK);
    EXPECT_TRUE(agent->WaitEnded(kUiTimeout));
    EXPECT_FALSE(fs::exists(folder.Path() + "bus.log")) << "the planted library was called";
}

TEST_F(AgentCitizen, BusLibraryBesideTheAgentIsStillFoundWhenStartedFromElsewhere)
{
    AgentStage stage;
    std::string why;
    ASSERT_TRUE(stage.Ready(&why)) << why;
    StartFolder folder;

    auto agent = StartFrom(stage, folder);
    ASSERT_TRUE(agent);
    HWND window = WaitForAgentWindow(*agent);
    ASSERT_NE(nullptr, window) << "the library beside the agent was not found";
    EXPECT_TRUE(HasModule(agent->Handle(), "VTFS32.DLL"));
    EXPECT_TRUE(VisibleDialogs(*agent).empty());
    ASSERT_TRUE(WaitFor([&] { return EndToEndEnvironment::Tray().HasIcon(window, kTrayIconId); }, kUiTimeout));
    EXPECT_TRUE(ExitThroughMenu(*agent, window));
}
