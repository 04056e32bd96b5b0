// A logon from the tray icon to the browser, with the real agent, the stand-in bus library
// and the recording browser and lampup.exe, in this test program's own Wine prefix.
#include "tests/e2e/AgentStage.h"

#include "profile/ProfileStore.h"
#include "logon/Authenticator.h"
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/LogonUrl.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <gtest/gtest.h>

using namespace e2e;
using namespace uidriver;

namespace {

constexpr int kPortOptionsButton = 1051;
constexpr int kSkipPromptBox = 1052;
constexpr char kAccessUrl[] = "http://logon.test.example/cgi-bin/login.cgi?Authenticate=";

class LogonFlow : public ::testing::Test {
protected:
    void SetUp() override { EndToEndEnvironment::Install(); }

    // The agent of this stage, running, with its prompt open after a double-click on the icon.
    HWND OpenPrompt(AgentStage& stage)
    {
        agent = LaunchReadyAgent(stage);
        if (!agent)
            return nullptr;
        HWND prompt = DoubleClickFor(IsLogonPrompt);
        EXPECT_NE(nullptr, prompt) << "no logon prompt after a double-click";
        return prompt;
    }

    // The agent's dialog that a double-click on its icon brings up; null at the time-out.
    HWND DoubleClickFor(bool (*matches)(HWND))
    {
        PostTrayDoubleClick(agent->window);
        return WaitForDialog(agent->process, matches);
    }

    // The stage's agent at its message loop, with "SkipAccessDialog" ticked beforehand.
    bool LaunchWithPromptSkipped(AgentStage& stage)
    {
        stage.Profile().WriteInt("Options", "SkipAccessDialog", 1);
        agent = LaunchReadyAgent(stage);
        return agent.has_value();
    }

    static bool UntickSkipPrompt(HWND prompt)
    {
        PostButtonPress(prompt, kSkipPromptBox);
        return WaitFor([&] { return !IsChecked(prompt, kSkipPromptBox); }, kUiTimeout);
    }

    bool BrowserStarted(const AgentStage& stage, std::size_t times)
    {
        return WaitFor([&] { return stage.BrowserCommandLines().size() >= times; }, kUiTimeout);
    }

    std::optional<RunningAgent> agent;
};

// The ROM a logon URL carries, or a failure that says why not.
::testing::AssertionResult CarriesRom(const std::string& url, std::string_view accessUrl, std::string_view romHex)
{
    const auto code = AuthenticatorIn(url, accessUrl);
    if (!code)
        return ::testing::AssertionFailure() << url << " is not " << accessUrl << " and 64 hexadecimal characters";
    const auto rom = DecodeAuthenticator(*code);
    if (!rom)
        return ::testing::AssertionFailure() << *code << " does not decode";
    if (*rom != RomFromHex(romHex))
        return ::testing::AssertionFailure() << *code << " decodes to another ROM than " << romHex;
    return ::testing::AssertionSuccess();
}

} // namespace

TEST_F(LogonFlow, OneTokenOnUsbOpensTheAccessUrlWithItsAuthenticatorAndStartsLampupOnce)
{
    AgentStage stage;
    stage.Profile().WriteString("Options", "AccessUrl", kAccessUrl);
    HWND prompt = OpenPrompt(stage);
    ASSERT_NE(nullptr, prompt);
    EXPECT_FALSE(IsChecked(prompt, kSkipPromptBox));

    PostButtonClick(prompt, IDOK);
    ASSERT_TRUE(BrowserStarted(stage, 1));
    EXPECT_TRUE(WaitGone(prompt)) << "the prompt closes after a logon";
    const auto urls = stage.BrowserUrls();
    ASSERT_EQ(1u, urls.size());
    EXPECT_TRUE(CarriesRom(urls[0], kAccessUrl, kTokenRom));

    ASSERT_TRUE(WaitFor([&] { return stage.LampupStarts().size() == 1; }, kUiTimeout));
    const auto lampup = stage.LampupStarts().front();
    EXPECT_EQ("lampup.exe", lampup.commandLine) << "started by bare name, without arguments";
    EXPECT_EQ(0u, stage.Profile().ReadInt("Options", "SkipAccessDialog").value_or(99)) << "stored on every OK";
    EXPECT_TRUE(VisibleDialogs(agent->process).empty());
}

TEST_F(LogonFlow, EveryLogonSendsAnotherAuthenticatorOfTheSameTokenToTheDefaultAccessUrl)
{
    AgentStage stage;
    HWND prompt = OpenPrompt(stage);
    ASSERT_NE(nullptr, prompt);
    PostButtonClick(prompt, IDOK);
    ASSERT_TRUE(BrowserStarted(stage, 1));
    ASSERT_TRUE(WaitGone(prompt));

    prompt = DoubleClickFor(IsLogonPrompt);
    ASSERT_NE(nullptr, prompt) << "the icon answers again after a logon";
    PostButtonClick(prompt, IDOK);
    ASSERT_TRUE(BrowserStarted(stage, 2));

    const auto urls = stage.BrowserUrls();
    ASSERT_EQ(2u, urls.size());
    const auto accessUrl = ProfileStore::DefaultAccessUrl();
    EXPECT_TRUE(CarriesRom(urls[0], accessUrl, kTokenRom));
    EXPECT_TRUE(CarriesRom(urls[1], accessUrl, kTokenRom));
    EXPECT_NE(urls[0], urls[1]);
}

TEST_F(LogonFlow, LampupIsStartedOnlyWhenUsbIsAmongThePorts)
{
    // 1: COM1 only. 0 reads as COM1-COM4 and LPT. 33: COM1 and USB.
    for (const uint32_t ports : {1u, 0u, 33u}) {
        SCOPED_TRACE("ports " + std::to_string(ports));
        AgentStage stage(WithReader(OneTokenOnCom1Reader()));
        stage.Profile().WriteInt("Settings", "ports", ports);
        HWND prompt = OpenPrompt(stage);
        ASSERT_NE(nullptr, prompt);
        PostButtonClick(prompt, IDOK);
        ASSERT_TRUE(BrowserStarted(stage, 1));
        EXPECT_TRUE(CarriesRom(stage.BrowserUrls().front(), ProfileStore::DefaultAccessUrl(), kTokenRom));
        if (ports & 0x20)
            EXPECT_TRUE(WaitFor([&] { return stage.LampupStarts().size() == 1; }, kUiTimeout));
        else
            EXPECT_TRUE(HoldsFor([&] { return stage.LampupStarts().empty(); }, 1500ms));
    }
}

TEST_F(LogonFlow, NoTokenShowsItsDialogAndThePromptStaysOpenUntilCancel)
{
    AgentStage stage(WithReader(NoTokenReader()));
    HWND prompt = OpenPrompt(stage);
    ASSERT_NE(nullptr, prompt);

    for (int attempt = 1; attempt <= 2; ++attempt) {
        SCOPED_TRACE("attempt " + std::to_string(attempt));
        PostButtonClick(prompt, IDOK);
        HWND outcome = WaitForDialog(agent->process, IsNoTokenDialog);
        ASSERT_NE(nullptr, outcome);
        EXPECT_EQ((std::vector<std::string>{"No Vantok\xAE found. To logon:", "Press the Ovalix with your Vantok\xAE",
                                            "or", "Plug into any USB port."}),
                  [&] {
                      auto texts = StaticTexts(outcome);
                      std::erase(texts, std::string());
                      return texts;
                  }());
        PostButtonClick(outcome, IDOK);
        ASSERT_TRUE(WaitGone(outcome));
        EXPECT_TRUE(IsWindowVisible(prompt)) << "the prompt stays open for another try";
    }
    PostButtonClick(prompt, IDCANCEL);
    EXPECT_TRUE(WaitGone(prompt));
    EXPECT_TRUE(stage.BrowserCommandLines().empty());
    EXPECT_TRUE(stage.LampupStarts().empty());
}

TEST_F(LogonFlow, MoreThanOneTokenShowsItsDialogAndThePromptStaysOpen)
{
    // Two tokens on one reader, and one token seen through both COM1 adapter types.
    for (const auto& reader : {TwoTokensOnUsbReader(), SameTokenTwiceOnCom1Reader()}) {
        SCOPED_TRACE(reader);
        AgentStage stage(WithReader(reader));
        HWND prompt = OpenPrompt(stage);
        ASSERT_NE(nullptr, prompt);
        PostButtonClick(prompt, IDOK);
        HWND outcome = WaitForDialog(agent->process, IsManyTokensDialog);
        ASSERT_NE(nullptr, outcome);
        EXPECT_FALSE(IsNoTokenDialog(outcome));
        PostButtonClick(outcome, IDOK);
        ASSERT_TRUE(WaitGone(outcome));
        EXPECT_TRUE(IsWindowVisible(prompt));
        EXPECT_TRUE(stage.BrowserCommandLines().empty());
        EXPECT_TRUE(stage.LampupStarts().empty());
        PostButtonClick(prompt, IDCANCEL);
        EXPECT_TRUE(WaitGone(prompt));
    }
}

TEST_F(LogonFlow, SkippedPromptWithOneTokenOpensTheBrowserWithoutAnyDialog)
{
    AgentStage stage;
    ASSERT_TRUE(LaunchWithPromptSkipped(stage));

    bool sawDialog = false;
    PostTrayDoubleClick(agent->window);
    EXPECT_TRUE(WaitFor(
        [&] {
            sawDialog = sawDialog || !VisibleDialogs(agent->process).empty();
            return stage.BrowserCommandLines().size() == 1;
        },
        kUiTimeout, 2ms));
    EXPECT_TRUE(HoldsFor([&] { return VisibleDialogs(agent->process).empty(); }, 500ms));
    EXPECT_FALSE(sawDialog);
    EXPECT_TRUE(CarriesRom(stage.BrowserUrls().front(), ProfileStore::DefaultAccessUrl(), kTokenRom));
    EXPECT_EQ(1u, stage.Profile().ReadInt("Options", "SkipAccessDialog").value_or(99));
}

TEST_F(LogonFlow, SkippedPromptWithNoTokenShowsTheOutcomeThenThePromptTickedAndUntickedOkStoresZero)
{
    AgentStage stage(WithReader(NoTokenReader()));
    ASSERT_TRUE(LaunchWithPromptSkipped(stage));

    HWND outcome = DoubleClickFor(IsNoTokenDialog);
    ASSERT_NE(nullptr, outcome);
    EXPECT_EQ(nullptr, [&]() -> HWND {
        for (HWND dialog : VisibleDialogs(agent->process))
            if (IsLogonPrompt(dialog))
                return dialog;
        return nullptr;
    }()) << "the prompt appears only after the outcome dialog";
    PostButtonClick(outcome, IDOK);

    HWND prompt = WaitForDialog(agent->process, IsLogonPrompt);
    ASSERT_NE(nullptr, prompt);
    EXPECT_TRUE(IsChecked(prompt, kSkipPromptBox));
    ASSERT_TRUE(UntickSkipPrompt(prompt));
    EXPECT_EQ(1u, stage.Profile().ReadInt("Options", "SkipAccessDialog").value_or(99)) << "nothing stored before OK";

    PostButtonClick(prompt, IDOK);
    outcome = WaitForDialog(agent->process, IsNoTokenDialog);
    ASSERT_NE(nullptr, outcome) << "OK scans again";
    EXPECT_EQ(0u, stage.Profile().ReadInt("Options", "SkipAccessDialog").value_or(99)) << "stored before the scan";
    PostButtonClick(outcome, IDOK);
    ASSERT_TRUE(WaitGone(outcome));
    PostButtonClick(prompt, IDCANCEL);
    EXPECT_TRUE(WaitGone(prompt));
}

TEST_F(LogonFlow, CancelAfterUntickingStoresNothing)
{
    AgentStage stage(WithReader(NoTokenReader()));
    ASSERT_TRUE(LaunchWithPromptSkipped(stage));

    HWND outcome = DoubleClickFor(IsNoTokenDialog);
    ASSERT_NE(nullptr, outcome);
    PostButtonClick(outcome, IDOK);
    HWND prompt = WaitForDialog(agent->process, IsLogonPrompt);
    ASSERT_NE(nullptr, prompt);
    ASSERT_TRUE(UntickSkipPrompt(prompt));
    PostButtonClick(prompt, IDCANCEL);
    ASSERT_TRUE(WaitGone(prompt));
    EXPECT_EQ(1u, stage.Profile().ReadInt("Options", "SkipAccessDialog").value_or(99));
}

TEST_F(LogonFlow, PortOptionsButtonOpensThePortSettingsAndThePromptStays)
{
    AgentStage stage;
    HWND prompt = OpenPrompt(stage);
    ASSERT_NE(nullptr, prompt);
    PostButtonClick(prompt, kPortOptionsButton);
    HWND ports = WaitForDialog(agent->process, IsPortSettingsDialog);
    ASSERT_NE(nullptr, ports);
    PostButtonClick(ports, IDCANCEL);
    ASSERT_TRUE(WaitGone(ports));
    EXPECT_TRUE(IsWindowVisible(prompt));
    EXPECT_TRUE(stage.BrowserCommandLines().empty());
    PostButtonClick(prompt, IDCANCEL);
    EXPECT_TRUE(WaitGone(prompt));
}
