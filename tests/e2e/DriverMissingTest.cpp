// The agent without a usable bus library: the driver question, the setup program, and the
// session-long refusal that follows.
#include "tests/e2e/AgentStage.h"

#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <gtest/gtest.h>

using namespace e2e;
using namespace uidriver;

namespace {

constexpr char kCaption[] = "Vantok Entravo";
constexpr char kQuestion[] = "Would you like to setup Merovan drivers?";
constexpr char kActivatedLater[] = "Program will be activated automatically next time system is restarted";
constexpr char kWillNotFunction[] = "Program will not function properly until Merovan drivers are installed";
constexpr char kSetupFailed[] =
    "Unable to execute Merovan driver setup program\nRepeat installation to fix the problem";
constexpr char kExitAtom[] = "VNEXIT";

// A new user session, as far as the agent can tell: the atom that blocks it is gone.
void ForgetDriverAnswer()
{
    for (int i = 0; i < 100 && GlobalFindAtomA(kExitAtom) != 0; ++i)
        GlobalDeleteAtom(GlobalFindAtomA(kExitAtom));
}

class DriverMissing : public ::testing::Test {
protected:
    void SetUp() override
    {
        EndToEndEnvironment::Install();
        ForgetDriverAnswer();
    }
    void TearDown() override { ForgetDriverAnswer(); }

    // Answers the message box that must be showing now, after checking its text and buttons.
    void Answer(const ChildProcess& agent, const char* text, std::vector<int> buttons, int answer)
    {
        HWND box = WaitForMessageBox(agent, kCaption);
        ASSERT_NE(nullptr, box) << "no message box: " << text;
        const auto view = ReadMessageBox(box);
        EXPECT_EQ(text, view.text);
        EXPECT_EQ(buttons, view.buttons);
        EXPECT_EQ(1u, VisibleDialogs(agent).size());
        PostButtonClick(box, answer);
        ASSERT_TRUE(WaitGone(box));
    }

    // A later start in the same session: it ends at once and shows nothing.
    void ExpectSilentRefusal(const AgentStage& stage)
    {
        auto later = stage.StartAgent();
        ASSERT_TRUE(later);
        bool showedSomething = false;
        EXPECT_TRUE(WaitFor(
            [&] {
                showedSomething = showedSomething || !VisibleWindows(later->Id(), kDialogClass).empty();
                return later->HasEnded();
            },
            kUiTimeout, 5ms));
        EXPECT_FALSE(showedSomething);
        EXPECT_EQ(nullptr, FindAgentWindow());
    }
};

} // namespace

TEST_F(DriverMissing, NoLibraryAsksTheQuestionAndNoGivesTheErrorThenEveryStartIsRefused)
{
    AgentStage stage(WithoutBusLibrary());
    auto agent = StartReadyAgent(stage);
    ASSERT_TRUE(agent);
    Answer(*agent, kQuestion, {IDYES, IDNO}, IDNO);
    Answer(*agent, kWillNotFunction, {IDOK}, IDOK);
    ASSERT_TRUE(agent->WaitEnded(kUiTimeout));
    EXPECT_NE(0, GlobalFindAtomA(kExitAtom));
    EXPECT_EQ(nullptr, FindAgentWindow());
    EXPECT_EQ(0u, stage.Profile().ReadInt("Register", "Window").value_or(0));

    ExpectSilentRefusal(stage);
    AgentStage whole; // even with the library in place, until the session ends
    std::string why;
    ASSERT_TRUE(whole.Ready(&why)) << why;
    ExpectSilentRefusal(whole);
}

TEST_F(DriverMissing, LibraryLackingAnyOneEntryPointAsksTheSameQuestion)
{
    for (const char* lacking :
         {"BXExtendedStartSession", "BXEndSession", "BXSetup", "BXNext", "BXRom", "BXGetTypeVersion", "BXClose"}) {
        SCOPED_TRACE(lacking);
        ForgetDriverAnswer();
        AgentStage stage(WithBusLibraryLacking(lacking));
        auto agent = StartReadyAgent(stage);
        ASSERT_TRUE(agent);
        Answer(*agent, kQuestion, {IDYES, IDNO}, IDNO);
        Answer(*agent, kWillNotFunction, {IDOK}, IDOK);
        EXPECT_TRUE(agent->WaitEnded(kUiTimeout));
        EXPECT_EQ(nullptr, FindAgentWindow());
    }
}

TEST_F(DriverMissing, LibraryForTheOtherArchitectureSaysSoInsteadOfOfferingTheDriver)
{
    const std::string libraryBits = sizeof(void*) == 8 ? "32" : "64";
    const auto expectTheBox = [&](const StageLayout& layout) {
        AgentStage stage(layout);
        auto agent = StartReadyAgent(stage);
        ASSERT_TRUE(agent);
        HWND box = WaitForMessageBox(*agent, kCaption);
        ASSERT_NE(nullptr, box);
        const auto view = ReadMessageBox(box);
        EXPECT_NE(std::string::npos, view.text.find("VTFS32.DLL is installed, but it is a " + libraryBits + "-bit"))
            << view.text;
        EXPECT_NE(std::string::npos, view.text.find("Install the " + libraryBits + "-bit Vantok Entravo agent"))
            << view.text;
        EXPECT_EQ(std::vector<int>{IDOK}, view.buttons);
        PostButtonClick(box, IDOK);
        ASSERT_TRUE(agent->WaitEnded(kUiTimeout));
        EXPECT_EQ(nullptr, FindAgentWindow());
        EXPECT_EQ(0, GlobalFindAtomA(kExitAtom)) << "installing the right agent is enough: no session-long refusal";
    };
    {
        SCOPED_TRACE("beside the agent");
        expectTheBox(WithBusLibraryForOtherArchitecture());
    }
#ifdef _WIN64
    // Where a 32-bit driver setup puts it on 64-bit Windows, out of a 64-bit process's sight.
    char folder[MAX_PATH] = {};
    const UINT length = GetSystemWow64DirectoryA(folder, MAX_PATH);
    ASSERT_TRUE(length > 0 && length < MAX_PATH);
    const std::string installed = std::string(folder, length) + "\\VTFS32.DLL";
    CreateDirectoryA(folder, nullptr); // a prefix that cannot run 32-bit programs may lack it
    ASSERT_TRUE(CopyFileA((OwnFolder() + "..\\standins\\vtfs32-other-architecture\\VTFS32.DLL").c_str(),
                          installed.c_str(), TRUE))
        << installed << " error " << GetLastError();
    {
        SCOPED_TRACE("in the 32-bit system folder");
        expectTheBox(WithoutBusLibrary());
    }
    DeleteFileA(installed.c_str());
#endif
}

TEST_F(DriverMissing, YesWithoutASetupProgramWarnsAndThenGivesTheError)
{
    AgentStage stage(WithoutBusLibrary());
    auto agent = StartReadyAgent(stage);
    ASSERT_TRUE(agent);
    Answer(*agent, kQuestion, {IDYES, IDNO}, IDYES);
    Answer(*agent, kSetupFailed, {IDOK}, IDOK);
    Answer(*agent, kWillNotFunction, {IDOK}, IDOK);
    EXPECT_TRUE(agent->WaitEnded(kUiTimeout));
    EXPECT_NE(0, GlobalFindAtomA(kExitAtom));
    ExpectSilentRefusal(stage);
}

TEST_F(DriverMissing, YesStartsTheSetupProgramFromTheAgentsFolder)
{
    AgentStage stage(WithoutBusLibrary(true));
    auto agent = StartReadyAgent(stage);
    ASSERT_TRUE(agent);
    Answer(*agent, kQuestion, {IDYES, IDNO}, IDYES);
    Answer(*agent, kActivatedLater, {IDOK}, IDOK);
    EXPECT_TRUE(agent->WaitEnded(kUiTimeout));
    ASSERT_TRUE(WaitFor([&] { return stage.SetupStarts().size() == 1; }, kUiTimeout));
    auto folder = stage.Folder();
    folder.pop_back(); // the stage folder ends with a backslash; a current directory does not
    EXPECT_EQ(folder, stage.SetupStarts().front().folder);
    EXPECT_NE(0, GlobalFindAtomA(kExitAtom));
    ExpectSilentRefusal(stage);
}

TEST_F(DriverMissing, AgentStartedWhileTheQuestionIsOpenWaitsUntilTheFirstHasEnded)
{
    AgentStage stage(WithoutBusLibrary());
    auto first = StartReadyAgent(stage);
    ASSERT_TRUE(first);
    HWND question = WaitForMessageBox(*first, kCaption);
    ASSERT_NE(nullptr, question);

    // It passed the atom check before the first agent answered, so it waits at the start-up
    // lock and, once the first has ended, goes on to find the library missing itself.
    auto second = stage.StartAgent();
    ASSERT_TRUE(second);
    EXPECT_TRUE(
        HoldsFor([&] { return !second->HasEnded() && VisibleWindows(second->Id(), kDialogClass).empty(); }, 1500ms))
        << "the second agent waits for the first";
    Answer(*first, kQuestion, {IDYES, IDNO}, IDNO);
    Answer(*first, kWillNotFunction, {IDOK}, IDOK);
    ASSERT_TRUE(first->WaitEnded(kUiTimeout));

    Answer(*second, kQuestion, {IDYES, IDNO}, IDNO);
    Answer(*second, kWillNotFunction, {IDOK}, IDOK);
    EXPECT_TRUE(second->WaitEnded(kUiTimeout));
    ExpectSilentRefusal(stage);
}
