// The dialog framework under a real window system: data exchange, message maps, reflection
// to attached controls, the colour rule, the modal loop and its owner, the application.
#include "FrameworkTestResources.h"
#include "tests/support/uidriver/ColorProbe.h"
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/UiScript.h"
#include "tests/support/uidriver/WindowQuery.h"
#include "tests/support/profile/InMemoryProfileBackend.h"
#include "framework/Application.h"
#include "framework/Dialog.h"
#include "framework/MessageBox.h"
#include "platform/Handle.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace {

using namespace uidriver;

constexpr char kCaption[] = "Framework Test";

class RecordingControl : public AttachedControl {
public:
    int preSubclassCalls = 0;
    HWND handleAtPreSubclass = nullptr;
    WNDPROC procedureAtPreSubclass = nullptr;
    std::vector<UINT> reflectedCommands;
    bool consumeCommands = false;
    int colorRequests = 0;
    std::vector<UINT> preTranslated;
    UINT consumeMessage = 0;
    std::vector<UINT> ownMessages;

    bool PreTranslateMessage(MSG& msg) override
    {
        preTranslated.push_back(msg.message);
        return msg.message == consumeMessage;
    }
    bool OnReflectedCommand(UINT notification) override
    {
        reflectedCommands.push_back(notification);
        return consumeCommands;
    }
    HBRUSH OnReflectedControlColor(HDC dc, UINT) override
    {
        ++colorRequests;
        SetTextColor(dc, RGB(255, 0, 0));
        SetBkMode(dc, OPAQUE);
        return static_cast<HBRUSH>(GetStockObject(GRAY_BRUSH));
    }

protected:
    void PreSubclassWindow() override
    {
        ++preSubclassCalls;
        handleAtPreSubclass = Handle();
        procedureAtPreSubclass = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(Handle(), GWLP_WNDPROC));
    }
    std::optional<LRESULT> HandleMessage(UINT message, WPARAM, LPARAM) override
    {
        ownMessages.push_back(message);
        return std::nullopt;
    }
};

class TestDialog : public Dialog {
public:
    explicit TestDialog(HWND parent = nullptr, int templateId = IDD_FRAMEWORK_TEST) : Dialog(templateId, parent) {}

    int flag = 0;
    std::string name;
    RecordingControl label;
    bool exchangeMissingControl = false;
    bool throwOnAction = false;
    int actionClicks = 0;
    int timesShown = 0;
    std::vector<UINT> preTranslated;
    std::function<void(TestDialog&)> afterInit;

protected:
    std::span<const MessageMapEntry> GetMessageMap() const override
    {
        static constexpr MessageMapEntry kMap[] = {
            OnCommand<&TestDialog::OnAction>(BN_CLICKED, IDC_ACTION),
            OnMessage<&TestDialog::OnShowWindow>(WM_SHOWWINDOW),
            DialogColorRule(),
        };
        return kMap;
    }
    void DoDataExchange(DataExchange& exchange) override
    {
        DDX_Check(exchange, IDC_FLAG, flag);
        DDX_Text(exchange, IDC_NAME, name);
        DDX_Control(exchange, IDC_LABEL, label);
        if (exchangeMissingControl)
            DDX_Check(exchange, 9999, flag);
    }
    BOOL OnInitDialog() override
    {
        const BOOL result = Dialog::OnInitDialog();
        if (afterInit)
            afterInit(*this);
        return result;
    }
    bool PreTranslateMessage(MSG& msg) override
    {
        preTranslated.push_back(msg.message);
        return false;
    }
    void OnAction()
    {
        ++actionClicks;
        if (throwOnAction)
            throw std::runtime_error("handler failed");
    }
    void OnShowWindow(WPARAM shown, LPARAM)
    {
        if (shown)
            ++timesShown;
    }
};

// The same dialog with a message map that leaves colours to the framework's defaults.
class UnruledDialog : public TestDialog {
protected:
    std::span<const MessageMapEntry> GetMessageMap() const override
    {
        static constexpr MessageMapEntry kMap[] = {
            OnCommand<&UnruledDialog::OnAction>(BN_CLICKED, IDC_ACTION),
        };
        return kMap;
    }
};

HBRUSH WhiteBrush()
{
    return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
}

class Framework : public ::testing::Test {
protected:
    InMemoryProfileBackend m_backend;
    Application m_application{m_backend};
};

TEST_F(Framework, DataExchangeLoadsMembersIntoControlsAndSavesThemOnOk)
{
    TestDialog dialog;
    dialog.flag = 5; // any non-zero flag shows as checked
    dialog.name = "Vantok\xAE " + std::string(5000, 'x');
    const std::string loaded = dialog.name;
    const std::string typed = std::string(20000, 'y') + " end";
    bool boxCheckedAtOpen = false;
    std::string textAtOpen;

    UiScript script;
    script
        .Then("dialog opens", OnDialog(kCaption,
                                       [&](HWND window) {
                                           boxCheckedAtOpen = IsChecked(window, IDC_FLAG);
                                           textAtOpen = ItemText(window, IDC_NAME);
                                           PostButtonPress(window, IDC_FLAG);
                                           SetDlgItemTextA(window, IDC_NAME, typed.c_str());
                                       }))
        .Then("box cleared", [&] { return !IsChecked(FindThreadDialog(kCaption), IDC_FLAG); })
        .Then("OK pressed", [&] {
            PostButtonPress(FindThreadDialog(kCaption), IDOK);
            return true;
        });
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDOK, dialog.DoModal()); }));
    EXPECT_TRUE(boxCheckedAtOpen);
    EXPECT_EQ(loaded, textAtOpen);
    EXPECT_EQ(0, dialog.flag);
    EXPECT_EQ(typed, dialog.name);
}

TEST_F(Framework, CancelEscapeAndTheCloseBoxLeaveMembersAsTheyWereAndEnterEndsWithOk)
{
    struct Ending {
        const char* how;
        std::function<void(HWND)> act;
        int result;
    };
    const std::vector<Ending> endings = {
        {"Cancel button", [](HWND window) { PostButtonPress(window, IDCANCEL); }, IDCANCEL},
        {"Escape", [](HWND window) { PostMessageA(GetDlgItem(window, IDC_NAME), WM_KEYDOWN, VK_ESCAPE, 0); }, IDCANCEL},
        {"close box", [](HWND window) { PostMessageA(window, WM_SYSCOMMAND, SC_CLOSE, 0); }, IDCANCEL},
        {"Enter", [](HWND window) { PostMessageA(GetDlgItem(window, IDC_NAME), WM_KEYDOWN, VK_RETURN, 0); }, IDOK},
    };
    for (const Ending& ending : endings) {
        SCOPED_TRACE(ending.how);
        TestDialog dialog;
        dialog.flag = 1;
        dialog.name = "kept";
        UiScript script;
        script
            .Then("dialog opens", OnDialog(kCaption,
                                           [&](HWND window) {
                                               PostButtonPress(window, IDC_FLAG);
                                               SetDlgItemTextA(window, IDC_NAME, "changed");
                                           }))
            .Then(ending.how, [&] {
                const HWND window = FindThreadDialog(kCaption);
                if (IsChecked(window, IDC_FLAG))
                    return false;
                ending.act(window);
                return true;
            });
        EXPECT_EQ("", script.Run([&] { EXPECT_EQ(ending.result, dialog.DoModal()); }));
        EXPECT_EQ(ending.result == IDOK ? 0 : 1, dialog.flag);
        EXPECT_EQ(ending.result == IDOK ? "changed" : "kept", dialog.name);
    }
}

TEST_F(Framework, UpdateDataReportsAControlTheDialogLacks)
{
    TestDialog dialog;
    bool complete = true;
    bool incomplete = true;
    dialog.afterInit = [&](TestDialog& self) {
        complete = self.UpdateData(true);
        self.exchangeMissingControl = true;
        incomplete = self.UpdateData(true);
        self.EndDialog(IDCANCEL);
    };
    UiScript script;
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDCANCEL, dialog.DoModal()); }));
    EXPECT_TRUE(complete);
    EXPECT_FALSE(incomplete);
}

TEST_F(Framework, ControlExchangeAttachesOnceBeforeReplacingTheProcedure)
{
    TestDialog dialog;
    HWND labelWindow = nullptr;
    WNDPROC original = nullptr;
    WNDPROC whileAttached = nullptr;
    std::string textAfterSet;
    dialog.afterInit = [&](TestDialog& self) {
        labelWindow = self.Item(IDC_LABEL);
        original = self.label.procedureAtPreSubclass;
        whileAttached = reinterpret_cast<WNDPROC>(GetWindowLongPtrA(labelWindow, GWLP_WNDPROC));
        self.UpdateData(true);
        self.UpdateData(false);
        SetWindowTextA(labelWindow, "Relabelled");
        textAfterSet = TextOf(labelWindow);
        self.EndDialog(IDOK);
    };
    UiScript script;
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDOK, dialog.DoModal()); }));

    EXPECT_EQ(1, dialog.label.preSubclassCalls);
    EXPECT_EQ(labelWindow, dialog.label.handleAtPreSubclass);
    EXPECT_NE(nullptr, original);
    EXPECT_NE(original, whileAttached);
    // The control's own messages reach the object and still get their default handling.
    EXPECT_NE(dialog.label.ownMessages.end(),
              std::find(dialog.label.ownMessages.begin(), dialog.label.ownMessages.end(), UINT{WM_SETTEXT}));
    EXPECT_EQ("Relabelled", textAfterSet);
    // The window went with the dialog, and the object let go of it.
    EXPECT_EQ(nullptr, dialog.label.Handle());
}

TEST_F(Framework, DestroyingAnAttachedObjectGivesTheControlItsProcedureBack)
{
    const scoped::Window window(CreateWindowExA(0, "STATIC", "plain", WS_POPUP, 0, 0, 50, 20, nullptr, nullptr,
                                                GetModuleHandleA(nullptr), nullptr));
    ASSERT_TRUE(window);
    const auto original = GetWindowLongPtrA(window.Get(), GWLP_WNDPROC);
    {
        RecordingControl control;
        ASSERT_TRUE(control.SubclassWindow(window.Get()));
        EXPECT_EQ(&control, AttachedControl::FromHandle(window.Get()));
        EXPECT_NE(original, GetWindowLongPtrA(window.Get(), GWLP_WNDPROC));
        RecordingControl second;
        EXPECT_FALSE(second.SubclassWindow(window.Get())) << "a control has one object at a time";
    }
    EXPECT_EQ(original, GetWindowLongPtrA(window.Get(), GWLP_WNDPROC));
    EXPECT_EQ(nullptr, AttachedControl::FromHandle(window.Get()));
    SetWindowTextA(window.Get(), "still works");
    EXPECT_EQ("still works", TextOf(window.Get()));
}

TEST_F(Framework, ANotificationGoesToTheAttachedControlFirstAndOnlyADeclinedOneReachesTheMap)
{
    for (const bool consume : {false, true}) {
        SCOPED_TRACE(consume ? "control consumes" : "control declines");
        TestDialog dialog;
        dialog.label.consumeCommands = consume;
        dialog.afterInit = [&](TestDialog& self) {
            // Make the label report clicks, as a link label does.
            const HWND label = self.Item(IDC_LABEL);
            SetWindowLongPtrA(label, GWL_STYLE, GetWindowLongPtrA(label, GWL_STYLE) | SS_NOTIFY);
            SendMessageA(self.Handle(), WM_COMMAND, MAKEWPARAM(IDC_LABEL, STN_CLICKED),
                         reinterpret_cast<LPARAM>(label));
            // A row of the map, from a control without an object.
            SendMessageA(self.Handle(), WM_COMMAND, MAKEWPARAM(IDC_ACTION, BN_CLICKED),
                         reinterpret_cast<LPARAM>(self.Item(IDC_ACTION)));
            self.EndDialog(IDOK);
        };
        UiScript script;
        EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDOK, dialog.DoModal()); }));
        EXPECT_EQ(std::vector<UINT>{STN_CLICKED}, dialog.label.reflectedCommands);
        EXPECT_EQ(1, dialog.actionClicks);
    }
}

TEST_F(Framework, AttachedControlConsumingTheNotificationHidesItFromTheMap)
{
    TestDialog dialog;
    RecordingControl action;
    action.consumeCommands = true;
    dialog.afterInit = [&](TestDialog& self) {
        action.SubclassDlgItem(IDC_ACTION, self.Handle());
        SendMessageA(self.Handle(), WM_COMMAND, MAKEWPARAM(IDC_ACTION, BN_CLICKED),
                     reinterpret_cast<LPARAM>(self.Item(IDC_ACTION)));
        self.EndDialog(IDOK);
    };
    UiScript script;
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDOK, dialog.DoModal()); }));
    EXPECT_EQ(std::vector<UINT>{BN_CLICKED}, action.reflectedCommands);
    EXPECT_EQ(0, dialog.actionClicks);
}

TEST_F(Framework, ColourRuleOverridesTheControlsOwnAnswerWithBlackOnWhite)
{
    TestDialog dialog;
    ColorAnswer label;
    ColorAnswer edit;
    ColorAnswer surface;
    dialog.afterInit = [&](TestDialog& self) {
        label = AskColor(self.Handle(), WM_CTLCOLORSTATIC, self.Item(IDC_LABEL));
        edit = AskColor(self.Handle(), WM_CTLCOLOREDIT, self.Item(IDC_NAME));
        surface = AskColor(self.Handle(), WM_CTLCOLORDLG, self.Handle());
        self.EndDialog(IDOK);
    };
    UiScript script;
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDOK, dialog.DoModal()); }));

    EXPECT_EQ(1, dialog.label.colorRequests) << "the request is reflected to the label first";
    for (const ColorAnswer& answer : {label, edit, surface}) {
        EXPECT_EQ(WhiteBrush(), answer.brush);
        EXPECT_EQ(RGB(0, 0, 0), answer.text);
        EXPECT_EQ(TRANSPARENT, answer.mode);
    }
}

TEST_F(Framework, WithoutTheColourRuleTheControlsAnswerStandsAndOthersGetSystemColours)
{
    UnruledDialog dialog;
    ColorAnswer label;
    ColorAnswer button;
    dialog.afterInit = [&](TestDialog& self) {
        label = AskColor(self.Handle(), WM_CTLCOLORSTATIC, self.Item(IDC_LABEL));
        button = AskColor(self.Handle(), WM_CTLCOLORBTN, self.Item(IDC_ACTION));
        self.EndDialog(IDOK);
    };
    UiScript script;
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDOK, dialog.DoModal()); }));

    EXPECT_EQ(GetStockObject(GRAY_BRUSH), label.brush);
    EXPECT_EQ(RGB(255, 0, 0), label.text);
    EXPECT_EQ(OPAQUE, label.mode);
    EXPECT_NE(WhiteBrush(), button.brush);
    EXPECT_NE(nullptr, button.brush);
    EXPECT_EQ(GetSysColor(COLOR_WINDOWTEXT), button.text);
}

TEST_F(Framework, PreTranslateMessageSeesLoopMessagesControlFirstAndCanConsumeThem)
{
    constexpr UINT kPassed = WM_APP + 1;
    constexpr UINT kConsumed = WM_APP + 2;
    TestDialog dialog;
    dialog.label.consumeMessage = kConsumed;
    UiScript script;
    script
        .Then("dialog opens", OnDialog(kCaption,
                                       [&](HWND window) {
                                           PostMessageA(GetDlgItem(window, IDC_LABEL), kConsumed, 0, 0);
                                           PostMessageA(GetDlgItem(window, IDC_LABEL), kPassed, 0, 0);
                                       }))
        .Then("both messages went through the loop",
              [&] {
                  const auto& seen = dialog.label.preTranslated;
                  return std::find(seen.begin(), seen.end(), kPassed) != seen.end();
              })
        .Then("closed", [&] {
            PostButtonPress(FindThreadDialog(kCaption), IDCANCEL);
            return true;
        });
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDCANCEL, dialog.DoModal()); }));

    const auto contains = [](const std::vector<UINT>& list, UINT message) {
        return std::find(list.begin(), list.end(), message) != list.end();
    };
    EXPECT_TRUE(contains(dialog.label.preTranslated, kConsumed));
    EXPECT_TRUE(contains(dialog.preTranslated, kPassed));
    EXPECT_FALSE(contains(dialog.preTranslated, kConsumed)) << "consumed by the control";
    EXPECT_TRUE(contains(dialog.label.ownMessages, kPassed));
    EXPECT_FALSE(contains(dialog.label.ownMessages, kConsumed)) << "a consumed message is not dispatched";
}

class OwnerWindow {
public:
    OwnerWindow()
        : m_window(CreateWindowExA(0, "STATIC", "Owner", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10, 200, 100, nullptr,
                                   nullptr, GetModuleHandleA(nullptr), nullptr))
    {
    }
    HWND Get() const { return m_window.Get(); }

private:
    scoped::Window m_window;
};

struct OwnerSeen {
    HWND owner = nullptr;
    bool ownerEnabled = true;
};

OwnerSeen RunAndWatchOwner(TestDialog& dialog, HWND watched)
{
    OwnerSeen seen;
    UiScript script;
    script.Then("dialog opens", OnDialog(kCaption, [&](HWND window) {
                    seen.owner = GetWindow(window, GW_OWNER);
                    seen.ownerEnabled = watched && IsWindowEnabled(watched);
                    PostButtonPress(window, IDCANCEL);
                }));
    EXPECT_EQ("", script.Run([&] { dialog.DoModal(); }));
    return seen;
}

TEST_F(Framework, DoModalDisablesItsOwnerWhileItRunsAndEnablesItAfter)
{
    const OwnerWindow owner;
    TestDialog dialog(owner.Get());
    bool enabledDuringInit = true;
    dialog.afterInit = [&](TestDialog&) { enabledDuringInit = IsWindowEnabled(owner.Get()); };
    const OwnerSeen seen = RunAndWatchOwner(dialog, owner.Get());
    EXPECT_EQ(owner.Get(), seen.owner);
    EXPECT_FALSE(enabledDuringInit) << "a modal run started from the initialisation must not reach the owner";
    EXPECT_FALSE(seen.ownerEnabled);
    EXPECT_TRUE(IsWindowEnabled(owner.Get()));

    TestDialog missing(owner.Get(), IDD_NOT_THERE);
    EXPECT_EQ(-1, missing.DoModal());
    EXPECT_TRUE(IsWindowEnabled(owner.Get())) << "a dialog that could not be created gives the owner back";
}

TEST_F(Framework, AnOwnerThatWasDisabledBeforeStaysDisabled)
{
    const OwnerWindow owner;
    EnableWindow(owner.Get(), FALSE);
    TestDialog dialog(owner.Get());
    RunAndWatchOwner(dialog, owner.Get());
    EXPECT_FALSE(IsWindowEnabled(owner.Get()));
}

TEST_F(Framework, WithoutAParentTheThreadsActiveWindowBecomesTheOwner)
{
    const OwnerWindow active;
    SetActiveWindow(active.Get());
    ASSERT_EQ(active.Get(), GetActiveWindow());
    TestDialog dialog;
    const OwnerSeen seen = RunAndWatchOwner(dialog, active.Get());
    EXPECT_EQ(active.Get(), seen.owner);
    EXPECT_FALSE(seen.ownerEnabled);
    EXPECT_TRUE(IsWindowEnabled(active.Get()));
}

TEST_F(Framework, WithoutAParentOrAnActiveWindowTheDialogHasNoOwner)
{
    ASSERT_EQ(nullptr, GetActiveWindow());
    TestDialog dialog;
    EXPECT_EQ(nullptr, RunAndWatchOwner(dialog, nullptr).owner);
}

TEST_F(Framework, ADialogEndedDuringItsInitialisationIsNeverShown)
{
    TestDialog dialog;
    dialog.afterInit = [](TestDialog& self) { self.EndDialog(42); };
    UiScript script; // cancels the dialog should it appear after all
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(42, dialog.DoModal()); }));
    EXPECT_EQ(0, dialog.timesShown);
}

TEST_F(Framework, AHandlerThatThrowsEndsTheRunAsCancelled)
{
    TestDialog dialog;
    dialog.throwOnAction = true;
    dialog.name = "before";
    UiScript script;
    script.Then("dialog opens", OnDialog(kCaption, [&](HWND window) {
                    SetDlgItemTextA(window, IDC_NAME, "after");
                    PostButtonPress(window, IDC_ACTION);
                }));
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDCANCEL, dialog.DoModal()); }));
    EXPECT_EQ(1, dialog.actionClicks);
    EXPECT_EQ("before", dialog.name);
}

TEST_F(Framework, AQuitMessageEndsTheRunAndIsPassedOnToTheOuterLoop)
{
    TestDialog dialog;
    UiScript script;
    script.Then("dialog opens", [&] {
        if (!FindThreadDialog(kCaption))
            return false;
        PostQuitMessage(7);
        return true;
    });
    EXPECT_EQ("", script.Run([&] { EXPECT_EQ(IDCANCEL, dialog.DoModal()); }));
    MSG msg{};
    ASSERT_TRUE(PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE));
    EXPECT_EQ(7u, msg.wParam);
}

TEST_F(Framework, AMissingTemplateGivesMinusOne)
{
    TestDialog dialog(nullptr, IDD_NOT_THERE);
    EXPECT_EQ(-1, dialog.DoModal());
}

TEST_F(Framework, TheApplicationIsNamedAfterItsExecutableAndCaptionsItsOwnMessageBoxes)
{
    EXPECT_EQ(&m_application, Application::Current());
    EXPECT_EQ(&m_application, &TheApplication());
    EXPECT_EQ("framework_test", m_application.Title());

    MessageBoxView box;
    UiScript script;
    script.Then("message box", OnDialog("framework_test", [&](HWND window) {
                    box = ReadMessageBox(window);
                    PostMessageA(window, WM_COMMAND, IDOK, 0);
                }));
    EXPECT_EQ("", script.Run([&] {
        EXPECT_EQ(IDOK, AppMessageBox("Unable to open hyperlink:\n\nA sharing violation occurred. ",
                                      MB_OK | MB_ICONEXCLAMATION));
    }));
    EXPECT_EQ("Unable to open hyperlink:\n\nA sharing violation occurred. ", box.text);
    EXPECT_EQ(std::vector<int>{IDOK}, box.buttons);
}

TEST(Application, ALaterApplicationIsCurrentUntilItGoesAndNoneMeansNoApplication)
{
    EXPECT_EQ(nullptr, Application::Current());
    EXPECT_THROW(TheApplication(), std::logic_error);
    InMemoryProfileBackend backend;
    {
        Application outer(backend, GetModuleHandleA(nullptr), "outer");
        {
            Application inner(backend, GetModuleHandleA(nullptr), "inner");
            EXPECT_EQ("inner", TheApplication().Title());
        }
        EXPECT_EQ("outer", TheApplication().Title());
    }
    EXPECT_EQ(nullptr, Application::Current());
}

class ScriptedApplication : public Application {
public:
    using Application::Application;
    bool throwAtStart = false;
    bool exited = false;

protected:
    void InitInstance() override
    {
        if (throwAtStart)
            throw std::runtime_error("start-up failed");
    }
    int ExitInstance() override
    {
        exited = true;
        return Application::ExitInstance();
    }
};

TEST(Application, TheExitStepRunsAfterAFailedStartAndReturnsTheQuitCode)
{
    InMemoryProfileBackend backend;
    ScriptedApplication application(backend);
    application.throwAtStart = true;
    EXPECT_EQ(0, application.Run());
    EXPECT_TRUE(application.exited);

    PostQuitMessage(9);
    EXPECT_EQ(9, application.RunMessageLoop());
    application.throwAtStart = false;
    EXPECT_EQ(9, application.Run());
}

TEST(Application, TheProfileIsTheOneOverTheGivenBackend)
{
    InMemoryProfileBackend backend;
    Application application(backend);
    application.Profile().SetPortMask(32);
    EXPECT_EQ(InMemoryProfileBackend::Value{32u}, backend.Get("Settings", "ports"));
}

} // namespace
