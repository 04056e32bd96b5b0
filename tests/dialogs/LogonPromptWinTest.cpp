// The logon prompt in this test's own process under Wine, against the stand-in bus library
// and the recording test browser: the OK handler's outcomes, the stored check box, the port
// button and the colour rule of all three dialogs.
#include "dialogs/LogonPromptDialog.h"
#include "discovery/BusLibrary.h"
#include "framework/Application.h"
#include "logon/Authenticator.h"
#include "profile/RegistryProfileBackend.h"
#include "tests/support/uidriver/ColorProbe.h"
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/Process.h"
#include "tests/support/uidriver/Registry.h"
#include "tests/support/uidriver/UiScript.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace {

using namespace uidriver;

constexpr char kTitle[] = "Authentication Required";
const std::string kNoTokenText = "No Vantok\xAE found. To logon:";
const std::string kManyTokensText = "More than one Vantok found.\nUse a single Vantok to logon.";
const std::string kOneTokenOnUsb = "bus 1 6\n  device 01A1B2C3D4E5F6C7\n  device 12000000000042A9\n";
const std::string kTwoTokens = "bus 1 6\n  device 01A1B2C3D4E5F6C7\n  device 0111223344556677\n";
const std::string kNoToken = "bus 1 6\n  device 12000000000042A9\n";

std::optional<uint32_t> ReadSkipPrompt()
{
    return AgentProfile("logon_prompt_test").ReadInt("Options", "SkipAccessDialog");
}

void WriteSkipPrompt(uint32_t value)
{
    AgentProfile("logon_prompt_test").WriteInt("Options", "SkipAccessDialog", value);
}

void RegisterTestBrowser()
{
    const std::string command = "\"" + OwnFolder() + "testbrowser.exe\" \"%1\"";
    for (const char* scheme : {"http", "https"})
        RegisterUrlHandler(scheme, command);
}

// The visible outcome or prompt dialog with this static text.
HWND FindDialogShowing(const std::string& text)
{
    for (HWND dialog : VisibleWindows(GetCurrentProcessId(), kDialogClass)) {
        if (HasStaticText(dialog, text))
            return dialog;
    }
    return nullptr;
}

// The prompt is the one with the "Do not display this dialog again" box.
HWND FindPrompt()
{
    for (HWND dialog : VisibleWindows(GetCurrentProcessId(), kDialogClass)) {
        if (GetDlgItem(dialog, 1052))
            return dialog;
    }
    return nullptr;
}

// The colour rule: whatever the device context held, black text, transparent background and
// the stock white brush.
void ExpectColourRule(HWND dialog)
{
    const ColorAnswer text = AskColor(dialog, WM_CTLCOLORSTATIC, FindWindowExA(dialog, nullptr, "Static", nullptr));
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), text.brush);
    EXPECT_EQ(RGB(0, 0, 0), text.text);
    EXPECT_EQ(TRANSPARENT, text.mode);
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), AskColor(dialog, WM_CTLCOLORDLG, dialog).brush);
}

// Records every dialog window of this thread that is ever shown, however briefly.
class ShownDialogs {
public:
    ShownDialogs()
    {
        s_self = this;
        m_hook = SetWindowsHookExA(WH_CALLWNDPROC, &Hook, nullptr, GetCurrentThreadId());
    }
    ~ShownDialogs()
    {
        UnhookWindowsHookEx(m_hook);
        s_self = nullptr;
    }
    std::vector<std::string> captions;

private:
    static LRESULT CALLBACK Hook(int code, WPARAM wParam, LPARAM lParam)
    {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (code == HC_ACTION && s_self &&
            ((message->message == WM_SHOWWINDOW && message->wParam) ||
             (message->message == WM_WINDOWPOSCHANGING &&
              (reinterpret_cast<const WINDOWPOS*>(message->lParam)->flags & SWP_SHOWWINDOW)))) {
            char name[16] = {};
            GetClassNameA(message->hwnd, name, sizeof(name));
            if (std::string(name) == "#32770")
                s_self->captions.push_back(TextOf(message->hwnd));
        }
        return CallNextHookEx(nullptr, code, wParam, lParam);
    }

    static inline ShownDialogs* s_self = nullptr;
    HHOOK m_hook = nullptr;
};

class LogonPrompt : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        const std::string standIn = OwnFolder() + "..\\standins\\vtfs32";
        SetDllDirectoryA(standIn.c_str());
        ASSERT_EQ(1, BindBusLibrary()) << "stand-in VTFS32.DLL not found in " << standIn;
        RegisterTestBrowser();
    }
    static void TearDownTestSuite() { UnbindBusLibrary(); }

    void SetUp() override
    {
        profile.SetRegistryKey("Entravo");
        AgentProfile("logon_prompt_test").Erase();
        const std::string folder = MakeTempFolder();
        m_reader = folder + "\\reader.txt";
        m_browserLog = folder + "\\browser.log";
        SetReader(kOneTokenOnUsb);
        SetEnvironmentVariableA("ENTRAVO_SIM_READER", m_reader.c_str());
        SetEnvironmentVariableA("ENTRAVO_TEST_BROWSER_LOG", m_browserLog.c_str());
    }

    void SetReader(const std::string& description) { WriteTextFile(m_reader, description); }

    int RunPrompt(UiScript& script)
    {
        int result = 0;
        EXPECT_EQ("", script.Run([&] {
            LogonPromptDialog prompt;
            result = prompt.DoModal();
        }));
        return result;
    }

    std::vector<std::string> BrowserLines(std::size_t expected)
    {
        std::vector<std::string> lines;
        PumpUntil([&] {
            lines.clear();
            const std::string log = ReadTextFile(m_browserLog);
            for (std::size_t start = 0, end; (end = log.find('\n', start)) != std::string::npos; start = end + 1)
                lines.push_back(log.substr(start, end - start));
            return lines.size() >= expected;
        });
        return lines;
    }

    RegistryProfileBackend profile{"logon_prompt_test"};
    Application application{profile};
    std::string m_reader;
    std::string m_browserLog;
};

// The URL the browser was started with: the last argument of its command line, unquoted.
std::string UrlOf(const std::string& commandLine)
{
    const std::size_t open = commandLine.rfind(" \"");
    if (open == std::string::npos || commandLine.back() != '"')
        return {};
    return commandLine.substr(open + 2, commandLine.size() - open - 3);
}

} // namespace

TEST_F(LogonPrompt, OneTokenOpensTheAccessUrlWithItsAuthenticatorAndCloses)
{
    UiScript script;
    script.Then("prompt", [] { return FindPrompt() != nullptr; }).Do("check and press OK", [] {
        const HWND prompt = FindPrompt();
        EXPECT_EQ(kTitle, [&] {
            char title[64] = {};
            GetWindowTextA(prompt, title, sizeof(title));
            return std::string(title);
        }());
        EXPECT_EQ(BST_UNCHECKED, SendDlgItemMessageA(prompt, 1052, BM_GETCHECK, 0, 0));
        ExpectColourRule(prompt);
        PostButtonClick(prompt, IDOK);
    });
    EXPECT_EQ(IDOK, RunPrompt(script));
    EXPECT_EQ(std::optional<uint32_t>(0), ReadSkipPrompt());

    const std::vector<std::string> lines = BrowserLines(1);
    ASSERT_EQ(1u, lines.size());
    const std::string url = UrlOf(lines[0]);
    const std::string accessUrl = ProfileStore::DefaultAccessUrl();
    ASSERT_EQ(accessUrl.size() + 64, url.size()) << lines[0];
    EXPECT_EQ(accessUrl, url.substr(0, accessUrl.size()));
    const std::optional<RomBytes> rom = DecodeAuthenticator(url.substr(accessUrl.size()));
    ASSERT_TRUE(rom.has_value()) << url;
    EXPECT_EQ((RomBytes{0x01, 0xA1, 0xB2, 0xC3, 0xD4, 0xE5, 0xF6, 0xC7}), *rom);
}

TEST_F(LogonPrompt, NoTokenThenTwoTokensShowTheirDialogsAndThePromptStaysOpen)
{
    SetReader(kNoToken);
    UiScript script;
    script.Then("prompt", [] { return FindPrompt() != nullptr; })
        .Do("OK with no token", [] { PostButtonClick(FindPrompt(), IDOK); })
        .Then("no-token dialog",
              [] {
                  const HWND outcome = FindDialogShowing(kNoTokenText);
                  if (!outcome)
                      return false;
                  ExpectColourRule(outcome);
                  PostButtonClick(outcome, IDOK);
                  return true;
              })
        .Then("prompt again", [] { return !FindDialogShowing(kNoTokenText) && FindPrompt(); })
        .Do("OK with two tokens",
            [this] {
                SetReader(kTwoTokens);
                PostButtonClick(FindPrompt(), IDOK);
            })
        .Then("many-tokens dialog",
              [] {
                  const HWND outcome = FindDialogShowing(kManyTokensText);
                  if (!outcome)
                      return false;
                  ExpectColourRule(outcome);
                  PostButtonClick(outcome, IDOK);
                  return true;
              })
        .Then("prompt once more", [] { return !FindDialogShowing(kManyTokensText) && FindPrompt(); })
        .Do("cancel", [] { PostButtonClick(FindPrompt(), IDCANCEL); });
    EXPECT_EQ(IDCANCEL, RunPrompt(script));
    EXPECT_TRUE(ReadTextFile(m_browserLog).empty());
}

TEST_F(LogonPrompt, SameTokenThroughBothCom1AdaptersCountsAsTwo)
{
    SetReader("bus 1 5\n  device 01A1B2C3D4E5F6C7\nbus 1 1\n  device 01A1B2C3D4E5F6C7\n");
    UiScript script;
    script.Then("prompt", [] { return FindPrompt() != nullptr; })
        .Do("OK", [] { PostButtonClick(FindPrompt(), IDOK); })
        .Then("many-tokens dialog",
              [] {
                  const HWND outcome = FindDialogShowing(kManyTokensText);
                  if (outcome)
                      PostButtonClick(outcome, IDOK);
                  return outcome != nullptr;
              })
        .Then("prompt again", [] { return !FindDialogShowing(kManyTokensText) && FindPrompt(); })
        .Do("cancel", [] { PostButtonClick(FindPrompt(), IDCANCEL); });
    EXPECT_EQ(IDCANCEL, RunPrompt(script));
}

TEST_F(LogonPrompt, SkippedPromptWithOneTokenLogsOnWithoutAnyDialog)
{
    WriteSkipPrompt(1);
    ShownDialogs shown;
    UiScript script;
    EXPECT_EQ(IDOK, RunPrompt(script));
    EXPECT_TRUE(shown.captions.empty()) << shown.captions.front();
    EXPECT_EQ(1u, BrowserLines(1).size());
    EXPECT_EQ(std::optional<uint32_t>(1), ReadSkipPrompt());
}

TEST_F(LogonPrompt, SkippedPromptWithNoTokenShowsTheOutcomeFirstAndUntickingStoresZeroBeforeTheNextScan)
{
    WriteSkipPrompt(1);
    SetReader(kNoToken);
    UiScript script;
    script
        .Then("no-token dialog before the prompt",
              [] {
                  const HWND outcome = FindDialogShowing(kNoTokenText);
                  if (!outcome)
                      return false;
                  EXPECT_EQ(nullptr, FindPrompt());
                  PostButtonClick(outcome, IDOK);
                  return true;
              })
        .Then("prompt with the box ticked",
              [] {
                  const HWND prompt = FindPrompt();
                  if (!prompt)
                      return false;
                  EXPECT_EQ(BST_CHECKED, SendDlgItemMessageA(prompt, 1052, BM_GETCHECK, 0, 0));
                  SendDlgItemMessageA(prompt, 1052, BM_SETCHECK, BST_UNCHECKED, 0);
                  PostButtonClick(prompt, IDOK);
                  return true;
              })
        .Then("no-token dialog again, with 0 already stored",
              [] {
                  const HWND outcome = FindDialogShowing(kNoTokenText);
                  if (!outcome)
                      return false;
                  EXPECT_EQ(std::optional<uint32_t>(0), ReadSkipPrompt());
                  PostButtonClick(outcome, IDOK);
                  return true;
              })
        .Then("prompt", [] { return !FindDialogShowing(kNoTokenText) && FindPrompt(); })
        .Do("cancel", [] { PostButtonClick(FindPrompt(), IDCANCEL); });
    EXPECT_EQ(IDCANCEL, RunPrompt(script));
}

TEST_F(LogonPrompt, CancelAfterUntickingStoresNothing)
{
    WriteSkipPrompt(1);
    SetReader(kNoToken);
    UiScript script;
    script
        .Then("no-token dialog",
              [] {
                  const HWND outcome = FindDialogShowing(kNoTokenText);
                  if (outcome)
                      PostButtonClick(outcome, IDOK);
                  return outcome != nullptr;
              })
        .Then("untick and cancel", [] {
            const HWND prompt = FindPrompt();
            if (!prompt || FindDialogShowing(kNoTokenText))
                return false;
            SendDlgItemMessageA(prompt, 1052, BM_SETCHECK, BST_UNCHECKED, 0);
            PostButtonClick(prompt, IDCANCEL);
            return true;
        });
    EXPECT_EQ(IDCANCEL, RunPrompt(script));
    EXPECT_EQ(std::optional<uint32_t>(1), ReadSkipPrompt());
}

TEST_F(LogonPrompt, PortOptionsButtonOpensThePortDialogAndThePromptStays)
{
    UiScript script;
    script.Then("prompt", [] { return FindPrompt() != nullptr; })
        .Do("Port Options >>", [] { PostButtonClick(FindPrompt(), 1051); })
        .Then("port dialog",
              [] {
                  const HWND ports = FindThreadDialog("Port Settings");
                  if (ports)
                      PostButtonClick(ports, IDCANCEL);
                  return ports != nullptr;
              })
        .Then("port dialog closed", [] { return !FindThreadDialog("Port Settings") && FindPrompt(); })
        .Do("cancel", [] { PostButtonClick(FindPrompt(), IDCANCEL); });
    EXPECT_EQ(IDCANCEL, RunPrompt(script));
    EXPECT_EQ(std::nullopt, ReadSkipPrompt());
}
