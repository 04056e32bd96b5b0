// The Port Options and Access URL dialogs opened modally against the real registry of the
// prefix and driven as a user would; what they stored is then read from the registry.
#include "dialogs/AccessUrlDialog.h"
#include "dialogs/PortOptionsDialog.h"
#include "tests/support/uidriver/ColorProbe.h"
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/Registry.h"
#include "tests/support/uidriver/UiScript.h"
#include "tests/support/uidriver/WindowQuery.h"
#include "profile/RegistryProfileBackend.h"
#include "framework/Application.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace {

using namespace uidriver;

constexpr char kPortsTitle[] = "Port Settings";
constexpr char kUrlTitle[] = "Conditionally Accessed Home Page";
constexpr std::array<int, 6> kPortBoxes = {IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4, IDC_LPT, IDC_USB};

const AgentProfile kStored("dialogs_ui_test");

std::array<bool, 6> PortBoxStates(HWND dialog)
{
    std::array<bool, 6> states{};
    for (size_t i = 0; i < kPortBoxes.size(); ++i)
        states[i] = IsChecked(dialog, kPortBoxes[i]);
    return states;
}

constexpr std::array<bool, 6> kAllChecked = {true, true, true, true, true, true};
constexpr std::array<bool, 6> kNoneChecked = {};

void ExpectBlackOnWhite(const ColorAnswer& answer)
{
    EXPECT_EQ(GetStockObject(WHITE_BRUSH), answer.brush);
    EXPECT_EQ(RGB(0, 0, 0), answer.text);
    EXPECT_EQ(TRANSPARENT, answer.mode);
}

class DialogsUi : public ::testing::Test {
protected:
    void SetUp() override
    {
        kStored.Erase();
        m_backend.SetRegistryKey("Entravo");
    }
    void TearDown() override { kStored.Erase(); }

    RegistryProfileBackend m_backend{"dialogs_ui_test"};
    Application m_application{m_backend};
};

// ---- Port Options ----------------------------------------------------------------------

// Opens the dialog, reads the boxes as they open, optionally clicks some, then OK.
struct PortRun {
    int result = 0;
    std::array<bool, 6> atOpen{};
    bool focusOnCom1 = false;
    std::string failure;
};

PortRun RunPorts(const std::vector<int>& clicks, int finalButton)
{
    PortRun run;
    PortOptionsDialog dialog;
    UiScript script;
    script
        .Then("Port Settings opens", OnDialog(kPortsTitle,
                                              [&](HWND window) {
                                                  run.atOpen = PortBoxStates(window);
                                                  run.focusOnCom1 = GetFocus() == GetDlgItem(window, IDC_COM1);
                                                  for (const int id : clicks)
                                                      PostButtonPress(window, id);
                                              }))
        .Then("button pressed", [&] {
            PostButtonPress(FindThreadDialog(kPortsTitle), finalButton);
            return true;
        });
    run.failure = script.Run([&] { run.result = dialog.DoModal(); });
    return run;
}

// A step: the message box captioned `caption` has gone while `dialog` still shows; `read`
// takes what the dialog holds then, and the dialog is cancelled.
UiScript::Step CancelOnceBoxIsGone(std::string caption, const HWND& dialog, std::function<void()> read)
{
    return [caption = std::move(caption), &dialog, read = std::move(read)] {
        if (FindThreadDialog(caption) || !IsWindowVisible(dialog))
            return false;
        read();
        PostButtonPress(dialog, IDCANCEL);
        return true;
    };
}

// A box with OK alone, owned by `owner`, saying `text` beside the system's `icon`.
void ExpectOkBox(const MessageBoxView& box, const std::string& text, HWND owner, LPCSTR icon)
{
    EXPECT_EQ(text, box.text);
    EXPECT_EQ(owner, box.owner);
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
    EXPECT_EQ(LoadIconA(nullptr, icon), box.icon);
}

TEST_F(DialogsUi, PortsNothingStoredOpensWithAllSixCheckedAndOkStores63Explicitly)
{
    const PortRun run = RunPorts({}, IDOK);
    EXPECT_EQ("", run.failure);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(kAllChecked, run.atOpen);
    EXPECT_TRUE(run.focusOnCom1);
    EXPECT_EQ(63u, kStored.ReadInt("Settings", "ports"));
}

TEST_F(DialogsUi, PortsStoredZeroShowsAllButUsbAndCancelStoresNothing)
{
    kStored.WriteInt("Settings", "ports", 0);
    const PortRun run = RunPorts({}, IDCANCEL);
    EXPECT_EQ(IDCANCEL, run.result);
    EXPECT_EQ((std::array<bool, 6>{true, true, true, true, true, false}), run.atOpen);
    EXPECT_EQ(0u, kStored.ReadInt("Settings", "ports"));
}

TEST_F(DialogsUi, PortsStoredBitsAboveUsbAreNotShownAndOkWithoutChangesStores63)
{
    for (const DWORD stored : {127u, 0xFFFFFFFFu}) {
        SCOPED_TRACE(stored);
        kStored.WriteInt("Settings", "ports", stored);
        const PortRun run = RunPorts({}, IDOK);
        EXPECT_EQ(IDOK, run.result);
        EXPECT_EQ(kAllChecked, run.atOpen);
        EXPECT_EQ(63u, kStored.ReadInt("Settings", "ports"));
    }
}

TEST_F(DialogsUi, PortsOnlyUsbCheckedStores32)
{
    const PortRun run = RunPorts({IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4, IDC_LPT}, IDOK);
    EXPECT_EQ("", run.failure);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(32u, kStored.ReadInt("Settings", "ports"));
}

TEST_F(DialogsUi, PortsSelectAllChecksEveryBoxButCancelKeepsTheStoredMask)
{
    kStored.WriteInt("Settings", "ports", 1);
    PortOptionsDialog dialog;
    std::array<bool, 6> atOpen{};
    UiScript script;
    script
        .Then("Port Settings opens", OnDialog(kPortsTitle,
                                              [&](HWND window) {
                                                  atOpen = PortBoxStates(window);
                                                  PostButtonPress(window, IDC_SELECT_ALL);
                                              }))
        .Then("every box checked", [&] { return PortBoxStates(FindThreadDialog(kPortsTitle)) == kAllChecked; })
        .Then("Cancel", [&] {
            PostButtonPress(FindThreadDialog(kPortsTitle), IDCANCEL);
            return true;
        });
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDCANCEL, dialog.DoModal()); }));
    EXPECT_EQ((std::array<bool, 6>{true, false, false, false, false, false}), atOpen);
    EXPECT_EQ(1u, kStored.ReadInt("Settings", "ports"));
}

TEST_F(DialogsUi, PortsNoneCheckedWarnsInABoxOwnedByTheDialogAndStaysOpenStoringNothing)
{
    kStored.WriteInt("Settings", "ports", 5); // COM1 and COM3
    PortOptionsDialog dialog;
    MessageBoxView warning;
    HWND portsWindow = nullptr;
    std::array<bool, 6> afterWarning{};
    UiScript script;
    script
        .Then("Port Settings opens", OnDialog(kPortsTitle,
                                              [&](HWND opened) {
                                                  portsWindow = opened;
                                                  PostButtonPress(portsWindow, IDC_COM1);
                                                  PostButtonPress(portsWindow, IDC_COM3);
                                              }))
        .Then("every box cleared",
              [&] {
                  if (PortBoxStates(portsWindow) != kNoneChecked)
                      return false;
                  PostButtonPress(portsWindow, IDOK);
                  return true;
              })
        .Then("warning shown", AnswerMessageBox("Latchwell", warning))
        .Then("warning dismissed, dialog still open",
              CancelOnceBoxIsGone("Latchwell", portsWindow, [&] { afterWarning = PortBoxStates(portsWindow); }));
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDCANCEL, dialog.DoModal()); }));
    ExpectOkBox(warning, "You must select at least one port to scan", portsWindow, IDI_WARNING);
    EXPECT_EQ(kNoneChecked, afterWarning) << "the boxes stay as the user left them";
    EXPECT_EQ(5u, kStored.ReadInt("Settings", "ports"));
}

TEST_F(DialogsUi, PortsDialogAnswersEveryColourRequestBlackOnWhite)
{
    PortOptionsDialog dialog;
    std::vector<ColorAnswer> answers;
    UiScript script;
    script.Then("Port Settings opens", OnDialog(kPortsTitle, [&](HWND window) {
                    answers.push_back(AskColor(window, WM_CTLCOLORSTATIC, GetDlgItem(window, IDC_PORTS_NOTE)));
                    answers.push_back(AskColor(window, WM_CTLCOLORSTATIC, GetDlgItem(window, IDC_COM1)));
                    answers.push_back(AskColor(window, WM_CTLCOLORBTN, GetDlgItem(window, IDC_SELECT_ALL)));
                    answers.push_back(AskColor(window, WM_CTLCOLORDLG, window));
                    PostButtonPress(window, IDCANCEL);
                }));
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDCANCEL, dialog.DoModal()); }));
    ASSERT_EQ(4u, answers.size());
    for (const ColorAnswer& answer : answers)
        ExpectBlackOnWhite(answer);
}

// ---- Access URL ------------------------------------------------------------------------

struct UrlRun {
    int result = 0;
    std::string atOpen;
    bool focusOnEdit = false;
    std::string failure;
};

// Opens the dialog, reads the box, optionally presses Defaults and/or types, then presses
// the final button.
UrlRun RunUrl(std::optional<std::string> typed, bool pressDefaults, int finalButton,
              std::string* afterDefaults = nullptr)
{
    UrlRun run;
    AccessUrlDialog dialog;
    UiScript script;
    script.Then("URL dialog opens", OnDialog(kUrlTitle, [&](HWND window) {
                    run.atOpen = ItemText(window, IDC_ACCESS_URL);
                    run.focusOnEdit = GetFocus() == GetDlgItem(window, IDC_ACCESS_URL);
                    if (pressDefaults)
                        PostButtonPress(window, IDC_DEFAULTS);
                }));
    if (pressDefaults) {
        script.Then("default shown", [&] {
            const std::string shown = ItemText(FindThreadDialog(kUrlTitle), IDC_ACCESS_URL);
            if (shown == run.atOpen && shown != ProfileStore::DefaultAccessUrl())
                return false;
            if (afterDefaults)
                *afterDefaults = shown;
            return true;
        });
    }
    script.Then("button pressed", [&] {
        const HWND window = FindThreadDialog(kUrlTitle);
        if (typed)
            SetDlgItemTextA(window, IDC_ACCESS_URL, typed->c_str());
        PostButtonPress(window, finalButton);
        return true;
    });
    run.failure = script.Run([&] { run.result = dialog.DoModal(); });
    return run;
}

TEST_F(DialogsUi, UrlNothingStoredOpensWithTheDefaultAndCancelStoresNothing)
{
    const UrlRun run = RunUrl(std::nullopt, false, IDCANCEL);
    EXPECT_EQ("", run.failure);
    EXPECT_EQ(IDCANCEL, run.result);
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), run.atOpen);
    EXPECT_TRUE(run.focusOnEdit);
    EXPECT_EQ(std::nullopt, kStored.ReadString("Options", "AccessUrl"));
}

TEST_F(DialogsUi, UrlBlanksAroundTheAddressAreTrimmedAndBlanksInsideStay)
{
    kStored.WriteString("Options", "AccessUrl", "http://old.example/");
    const UrlRun run = RunUrl(" \t  http://new.example/a b?Authenticate=  \t", false, IDOK);
    EXPECT_EQ("", run.failure);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ("http://old.example/", run.atOpen);
    EXPECT_EQ("http://new.example/a b?Authenticate=", kStored.ReadString("Options", "AccessUrl"));
}

TEST_F(DialogsUi, UrlTextThatIsNoUrlIsStoredAsTyped)
{
    const UrlRun run = RunUrl("abc", false, IDOK);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ("abc", kStored.ReadString("Options", "AccessUrl"));
}

TEST_F(DialogsUi, UrlLongAddressIsShownAndStoredWhole)
{
    const std::string longUrl = "http://long.example/" + std::string(3000, 'q') + "?Authenticate=";
    kStored.WriteString("Options", "AccessUrl", longUrl);
    const UrlRun run = RunUrl(std::nullopt, false, IDOK);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(longUrl, run.atOpen);
    EXPECT_EQ(longUrl, kStored.ReadString("Options", "AccessUrl"));
}

TEST_F(DialogsUi, UrlDefaultsThenCancelKeepsTheStoredAddress)
{
    kStored.WriteString("Options", "AccessUrl", "http://old.example/");
    std::string shown;
    const UrlRun run = RunUrl(std::nullopt, true, IDCANCEL, &shown);
    EXPECT_EQ("", run.failure);
    EXPECT_EQ(IDCANCEL, run.result);
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), shown);
    EXPECT_EQ("http://old.example/", kStored.ReadString("Options", "AccessUrl"));
}

TEST_F(DialogsUi, UrlDefaultsThenOkStoresTheDefaultExplicitly)
{
    kStored.WriteString("Options", "AccessUrl", "http://old.example/");
    const UrlRun run = RunUrl(std::nullopt, true, IDOK);
    EXPECT_EQ("", run.failure);
    EXPECT_EQ(IDOK, run.result);
    EXPECT_EQ(ProfileStore::DefaultAccessUrl(), kStored.ReadString("Options", "AccessUrl"));
}

TEST_F(DialogsUi, UrlOnlyBlanksShowsTheErrorBoxAndTheDialogStaysOpenWithTheBlanks)
{
    kStored.WriteString("Options", "AccessUrl", "http://old.example/");
    AccessUrlDialog dialog;
    HWND urlWindow = nullptr;
    MessageBoxView error;
    std::string afterError;
    UiScript script;
    script
        .Then("URL dialog opens", OnDialog(kUrlTitle,
                                           [&](HWND opened) {
                                               urlWindow = opened;
                                               SetDlgItemTextA(urlWindow, IDC_ACCESS_URL, "  \t  ");
                                               PostButtonPress(urlWindow, IDOK);
                                           }))
        .Then("error shown", AnswerMessageBox("Vantok Entravo", error))
        .Then("error dismissed, dialog still open", CancelOnceBoxIsGone("Vantok Entravo", urlWindow, [&] {
                  afterError = ItemText(urlWindow, IDC_ACCESS_URL);
              }));
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDCANCEL, dialog.DoModal()); }));
    ExpectOkBox(error, "Conditional Access URL should not be empty", urlWindow, IDI_ERROR);
    EXPECT_EQ("  \t  ", afterError) << "the box keeps what was typed";
    EXPECT_EQ("http://old.example/", kStored.ReadString("Options", "AccessUrl"));
}

TEST_F(DialogsUi, UrlAltAMovesTheFocusToTheAddressAndColoursAreBlackOnWhite)
{
    AccessUrlDialog dialog;
    HWND urlWindow = nullptr;
    std::vector<ColorAnswer> answers;
    UiScript script;
    script
        .Then("URL dialog opens",
              OnDialog(kUrlTitle,
                       [&](HWND opened) {
                           urlWindow = opened;
                           answers.push_back(
                               AskColor(urlWindow, WM_CTLCOLOREDIT, GetDlgItem(urlWindow, IDC_ACCESS_URL)));
                           answers.push_back(AskColor(urlWindow, WM_CTLCOLORSTATIC, GetWindow(urlWindow, GW_CHILD)));
                           answers.push_back(AskColor(urlWindow, WM_CTLCOLORDLG, urlWindow));
                           SetFocus(GetDlgItem(urlWindow, IDC_DEFAULTS));
                           PostMessageA(GetDlgItem(urlWindow, IDC_DEFAULTS), WM_SYSCHAR, 'a', 0x20000000);
                       }))
        .Then("focus on the address", [&] {
            if (GetFocus() != GetDlgItem(urlWindow, IDC_ACCESS_URL))
                return false;
            PostButtonPress(urlWindow, IDCANCEL);
            return true;
        });
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDCANCEL, dialog.DoModal()); }));
    ASSERT_EQ(3u, answers.size());
    for (const ColorAnswer& answer : answers)
        ExpectBlackOnWhite(answer);
}

} // namespace
