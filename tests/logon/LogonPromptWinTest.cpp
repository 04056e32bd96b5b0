// The logon prompt in this test's own process under Wine, against the stand-in bus library
// and the recording test browser: the OK handler's outcomes, the stored check box, the port
// button and the colour rule of all three dialogs.
#include "AgentUiScript.h"

#include "agent/RegistryProfileBackend.h"
#include "discovery/BusLibrary.h"
#include "framework/Application.h"
#include "logon/Authenticator.h"
#include "logon/LogonPromptDialog.h"

#include <gtest/gtest.h>

#include <windows.h>

#include <optional>
#include <string>
#include <vector>

namespace {

constexpr char kProfileKey[] = "software\\Entravo\\logon_prompt_test";
constexpr char kTitle[] = "Authentication Required";
const std::string kNoTokenText = "No Vantok\xAE found. To logon:";
const std::string kManyTokensText = "More than one Vantok found.\nUse a single Vantok to logon.";
const std::string kOneTokenOnUsb = "bus 1 6\n  device 01A1B2C3D4E5F6C7\n  device 12000000000042A9\n";
const std::string kTwoTokens = "bus 1 6\n  device 01A1B2C3D4E5F6C7\n  device 0111223344556677\n";
const std::string kNoToken = "bus 1 6\n  device 12000000000042A9\n";

std::optional<DWORD> ReadSkipPrompt()
{
    DWORD value = 0;
    DWORD size = sizeof(value);
    const std::string key = std::string(kProfileKey) + "\\Options";
    if (RegGetValueA(HKEY_CURRENT_USER, key.c_str(), "SkipAccessDialog", RRF_RT_REG_DWORD, nullptr, &value, &size) !=
        ERROR_SUCCESS)
        return std::nullopt;
    return value;
}

void WriteSkipPrompt(DWORD value)
{
    const std::string key = std::string(kProfileKey) + "\\Options";
    RegSetKeyValueA(HKEY_CURRENT_USER, key.c_str(), "SkipAccessDialog", REG_DWORD, &value, sizeof(value));
}

void RegisterTestBrowser()
{
    const std::string command = "\"" + TestProgramFolder() + "\\testbrowser.exe\" \"%1\"";
    for (const char* scheme : {"http", "https"}) {
        const std::string key = std::string(scheme) + "\\shell\\open\\command";
        RegSetKeyValueA(HKEY_CLASSES_ROOT, key.c_str(), nullptr, REG_SZ, command.c_str(),
                        static_cast<DWORD>(command.size() + 1));
    }
}

// The visible outcome or prompt dialog whose static texts contain text.
HWND FindDialogShowing(const std::string& text)
{
    for (HWND dialog : ThreadWindowsOfClass("#32770")) {
        if (DialogTexts(dialog).find(text) != std::string::npos)
            return dialog;
    }
    return nullptr;
}

// The prompt is the one with the "Do not display this dialog again" box.
HWND FindPrompt()
{
    for (HWND dialog : ThreadWindowsOfClass("#32770")) {
        if (GetDlgItem(dialog, 1052))
            return dialog;
    }
    return nullptr;
}

// The colour rule: whatever the device context held, black text, transparent background and
// the stock white brush.
void ExpectColourRule(HWND dialog)
{
    const HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(255, 0, 0));
    SetBkMode(dc, OPAQUE);
    HWND staticText = nullptr;
    for (HWND child = GetWindow(dialog, GW_CHILD); child && !staticText; child = GetWindow(child, GW_HWNDNEXT)) {
        char name[16] = {};
        GetClassNameA(child, name, sizeof(name));
        if (std::string(name) == "Static")
            staticText = child;
    }
    const auto brush = SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                    reinterpret_cast<LPARAM>(staticText));
    EXPECT_EQ(reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH)), brush);
    EXPECT_EQ(RGB(0, 0, 0), GetTextColor(dc));
    EXPECT_EQ(TRANSPARENT, GetBkMode(dc));
    const auto dialogBrush =
        SendMessageA(dialog, WM_CTLCOLORDLG, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(dialog));
    EXPECT_EQ(reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH)), dialogBrush);
    DeleteDC(dc);
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
    std::vector<std::string> texts;

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
                s_self->texts.push_back(DialogTexts(message->hwnd));
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
        const std::string standIn = TestProgramFolder() + "\\..\\standins\\vtfs32";
        SetDllDirectoryA(standIn.c_str());
        ASSERT_EQ(1, BindBusLibrary()) << "stand-in VTFS32.DLL not found in " << standIn;
        RegisterTestBrowser();
    }
    static void TearDownTestSuite() { UnbindBusLibrary(); }

    void SetUp() override
    {
        profile.SetRegistryKey("Entravo");
        RegDeleteTreeA(HKEY_CURRENT_USER, kProfileKey);
        const std::string folder = MakeTempFolder();
        m_reader = folder + "\\reader.txt";
        m_browserLog = folder + "\\browser.log";
        SetReader(kOneTokenOnUsb);
        SetEnvironmentVariableA("ENTRAVO_SIM_READER", m_reader.c_str());
        SetEnvironmentVariableA("ENTRAVO_TEST_BROWSER_LOG", m_browserLog.c_str());
    }

    void SetReader(const std::string& description) { WriteTextFile(m_reader, description); }

    int RunPrompt(AgentUiScript& script)
    {
        int result = 0;
        const std::string failed = script.Run([&] {
            LogonPromptDialog prompt;
            result = prompt.DoModal();
        });
        EXPECT_EQ("", failed) << "step timed out";
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
    AgentUiScript script;
    script.Then("prompt", [] { return FindPrompt() != nullptr; })
        .Do("check and press OK", [] {
            const HWND prompt = FindPrompt();
            EXPECT_EQ(kTitle, [&] {
                char title[64] = {};
                GetWindowTextA(prompt, title, sizeof(title));
                return std::string(title);
            }());
            EXPECT_EQ(BST_UNCHECKED, SendDlgItemMessageA(prompt, 1052, BM_GETCHECK, 0, 0));
            ExpectColourRule(prompt);
            PostButton(prompt, IDOK);
        });
    EXPECT_EQ(IDOK, RunPrompt(script));
    EXPECT_EQ(std::optional<DWORD>(0), ReadSkipPrompt());

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
    AgentUiScript script;
    script.Then("prompt", [] { return FindPrompt() != nullptr; })
        .Do("OK with no token", [] { PostButton(FindPrompt(), IDOK); })
        .Then("no-token dialog",
              [] {
                  const HWND outcome = FindDialogShowing(kNoTokenText);
                  if (!outcome)
                      return false;
                  ExpectColourRule(outcome);
                  PostButton(outcome, IDOK);
                  return true;
              })
        .Then("prompt again", [] { return !FindDialogShowing(kNoTokenText) && FindPrompt(); })
        .Do("OK with two tokens", [this] {
            SetReader(kTwoTokens);
            PostButton(FindPrompt(), IDOK);
        })
        .Then("many-tokens dialog",
              [] {
                  const HWND outcome = FindDialogShowing(kManyTokensText);
                  if (!outcome)
                      return false;
                  ExpectColourRule(outcome);
                  PostButton(outcome, IDOK);
                  return true;
              })
        .Then("prompt once more", [] { return !FindDialogShowing(kManyTokensText) && FindPrompt(); })
        .Do("cancel", [] { PostButton(FindPrompt(), IDCANCEL); });
    EXPECT_EQ(IDCANCEL, RunPrompt(script));
    EXPECT_TRUE(ReadTextFile(m_browserLog).empty());
}

TEST_F(LogonPrompt, SameTokenThroughBothCom1AdaptersCountsAsTwo)
{
    SetReader("bus 1 5\n  device 01A1B2C3D4E5F6C7\nbus 1 1\n  device 01A1B2C3D4E5F6C7\n");
    AgentUiScript script;
    script.Then("prompt", [] { return FindPrompt() != nullptr; })
        .Do("OK", [] { PostButton(FindPrompt(), IDOK); })
        .Then("many-tokens dialog",
              [] {
                  const HWND outcome = FindDialogShowing(kManyTokensText);
                  if (outcome)
                      PostButton(outcome, IDOK);
                  return outcome != nullptr;
              })
        .Then("prompt again", [] { return !FindDialogShowing(kManyTokensText) && FindPrompt(); })
        .Do("cancel", [] { PostButton(FindPrompt(), IDCANCEL); });
    EXPECT_EQ(IDCANCEL, RunPrompt(script));
}

TEST_F(LogonPrompt, SkippedPromptWithOneTokenLogsOnWithoutAnyDialog)
{
    WriteSkipPrompt(1);
    ShownDialogs shown;
    AgentUiScript script;
    EXPECT_EQ(IDOK, RunPrompt(script));
    EXPECT_TRUE(shown.texts.empty()) << shown.texts.front();
    EXPECT_EQ(1u, BrowserLines(1).size());
    EXPECT_EQ(std::optional<DWORD>(1), ReadSkipPrompt());
}

TEST_F(LogonPrompt, SkippedPromptWithNoTokenShowsTheOutcomeFirstAndUntickingStoresZeroBeforeTheNextScan)
{
    WriteSkipPrompt(1);
    SetReader(kNoToken);
    AgentUiScript script;
    script
        .Then("no-token dialog before the prompt",
              [] {
                  const HWND outcome = FindDialogShowing(kNoTokenText);
                  if (!outcome)
                      return false;
                  EXPECT_EQ(nullptr, FindPrompt());
                  PostButton(outcome, IDOK);
                  return true;
              })
        .Then("prompt with the box ticked",
              [] {
                  const HWND prompt = FindPrompt();
                  if (!prompt)
                      return false;
                  EXPECT_EQ(BST_CHECKED, SendDlgItemMessageA(prompt, 1052, BM_GETCHECK, 0, 0));
                  SendDlgItemMessageA(prompt, 1052, BM_SETCHECK, BST_UNCHECKED, 0);
                  PostButton(prompt, IDOK);
                  return true;
              })
        .Then("no-token dialog again, with 0 already stored",
              [] {
                  const HWND outcome = FindDialogShowing(kNoTokenText);
                  if (!outcome)
                      return false;
                  EXPECT_EQ(std::optional<DWORD>(0), ReadSkipPrompt());
                  PostButton(outcome, IDOK);
                  return true;
              })
        .Then("prompt", [] { return !FindDialogShowing(kNoTokenText) && FindPrompt(); })
        .Do("cancel", [] { PostButton(FindPrompt(), IDCANCEL); });
    EXPECT_EQ(IDCANCEL, RunPrompt(script));
}

TEST_F(LogonPrompt, CancelAfterUntickingStoresNothing)
{
    WriteSkipPrompt(1);
    SetReader(kNoToken);
    AgentUiScript script;
    script
        .Then("no-token dialog",
              [] {
                  const HWND outcome = FindDialogShowing(kNoTokenText);
                  if (outcome)
                      PostButton(outcome, IDOK);
                  return outcome != nullptr;
              })
        .Then("untick and cancel", [] {
            const HWND prompt = FindPrompt();
            if (!prompt || FindDialogShowing(kNoTokenText))
                return false;
            SendDlgItemMessageA(prompt, 1052, BM_SETCHECK, BST_UNCHECKED, 0);
            PostButton(prompt, IDCANCEL);
            return true;
        });
    EXPECT_EQ(IDCANCEL, RunPrompt(script));
    EXPECT_EQ(std::optional<DWORD>(1), ReadSkipPrompt());
}

TEST_F(LogonPrompt, PortOptionsButtonOpensThePortDialogAndThePromptStays)
{
    AgentUiScript script;
    script.Then("prompt", [] { return FindPrompt() != nullptr; })
        .Do("Port Options >>", [] { PostButton(FindPrompt(), 1051); })
        .Then("port dialog",
              [] {
                  const HWND ports = FindThreadDialog("Port Settings");
                  if (ports)
                      PostButton(ports, IDCANCEL);
                  return ports != nullptr;
              })
        .Then("port dialog closed", [] { return !FindThreadDialog("Port Settings") && FindPrompt(); })
        .Do("cancel", [] { PostButton(FindPrompt(), IDCANCEL); });
    EXPECT_EQ(IDCANCEL, RunPrompt(script));
    EXPECT_EQ(std::nullopt, ReadSkipPrompt());
}
