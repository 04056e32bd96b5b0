// The agent's six dialog templates as compiled into the program: titles, sizes, styles,
// fonts, and each control's id, kind, text and place; then, with the dialogs created, the
// window styles the system derives and whether every text fits its control.
#include "DialogTemplate.h"
#include "framework/Dialog.h"
#include "resources/resource.h"

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace {

// popup, caption, system menu, modal frame, centred, 3-D look, system-modal, font
constexpr DWORD kDialogStyle =
    WS_POPUP | WS_CAPTION | WS_SYSMENU | DS_MODALFRAME | DS_CENTER | DS_3DLOOK | DS_SYSMODAL | DS_SETFONT;
constexpr DWORD kAboutStyle = 0x80C008C6;

struct Expected {
    int id;
    std::string className;
    DWORD type;     // the kind bits: BS_* for buttons, SS_* for statics
    DWORD mustHave; // further style bits that must be set
    std::string text;
    int image = 0;
    std::optional<RECT> box = std::nullopt;
};

constexpr DWORD kButtonType = 0x0F;
constexpr DWORD kStaticType = SS_TYPEMASK;

Expected Static(int id, std::string text, std::optional<RECT> box = std::nullopt)
{
    return {id, "Static", SS_LEFT, WS_VISIBLE, std::move(text), 0, box};
}
Expected Centered(int id, std::string text)
{
    return {id, "Static", SS_CENTER, WS_VISIBLE, std::move(text)};
}
Expected Icon(int image, std::optional<RECT> box = std::nullopt)
{
    return {-1, "Static", SS_ICON, WS_VISIBLE, "", image, box};
}
Expected Bitmap(int image)
{
    return {-1, "Static", SS_BITMAP, WS_VISIBLE, "", image};
}
Expected Check(int id, std::string text, std::optional<RECT> box = std::nullopt)
{
    return {id, "Button", BS_AUTOCHECKBOX, WS_VISIBLE | WS_TABSTOP, std::move(text), 0, box};
}
Expected Push(int id, std::string text, std::optional<RECT> box = std::nullopt)
{
    return {id, "Button", BS_PUSHBUTTON, WS_VISIBLE | WS_TABSTOP, std::move(text), 0, box};
}
Expected DefaultPush(int id, std::string text, std::optional<RECT> box = std::nullopt)
{
    return {id, "Button", BS_DEFPUSHBUTTON, WS_VISIBLE | WS_TABSTOP, std::move(text), 0, box};
}
Expected Group(int id, std::string text, RECT box)
{
    return {id, "Button", BS_GROUPBOX, WS_VISIBLE, std::move(text), 0, box};
}
Expected Edit(int id, RECT box)
{
    return {id, "Edit", 0, WS_VISIBLE | WS_TABSTOP | WS_BORDER | ES_AUTOHSCROLL, "", 0, box};
}

// A control's place in dialog units: left, top, width and height, as the resource script
// writes them.
RECT Box(int x, int y, int width, int height)
{
    return {x, y, x + width, y + height};
}

struct ExpectedDialog {
    int id;
    std::string title;
    int width;
    int height;
    DWORD style;
    std::vector<Expected> controls;
};

std::vector<ExpectedDialog> AgentDialogs()
{
    return {
        {IDD_ABOUT,
         "About",
         220,
         109,
         kAboutStyle,
         {
             Static(-1, "Vantok\xAE Entravo v1.0", Box(36, 12, 176, 8)),
             Static(-1, "Vantok\xAE a product of Merovan/Pellor ", Box(36, 28, 176, 8)),
             Static(-1, "Harrowgate", Box(36, 62, 176, 8)),
             Static(IDC_DEVELOPER_LINK, "www.harrowgate.example", Box(36, 71, 176, 8)),
             DefaultPush(IDOK, "OK", Box(160, 89, 52, 14)),
             Static(IDC_VENDOR_LINK, "www.vantok.example", Box(36, 38, 176, 8)),
             Static(-1, "Internet logon software developed by:", Box(36, 49, 176, 8)),
             Icon(IDI_TOKEN, Box(8, 8, 20, 20)),
         }},
        {IDD_LOGON_PROMPT,
         "Authentication Required",
         224,
         121,
         kDialogStyle,
         {
             DefaultPush(IDOK, "OK"),
             Push(IDCANCEL, "Cancel"),
             Bitmap(IDB_READER),
             Static(-1, "To logon:"),
             Static(-1, "Press the Ovalix with your Vantok\xAE"),
             Centered(-1, "or"),
             Static(-1, "Plug into any USB port."),
             Push(IDC_PORT_OPTIONS, "Port Options >>"),
             Check(IDC_SKIP_PROMPT, "Do not display this dialog again"),
         }},
        {IDD_ACCESS_URL,
         "Conditionally Accessed Home Page",
         216,
         81,
         kDialogStyle,
         {
             Static(-1, "You can change which Vantok\xAE ready page to use for your home page.", Box(8, 8, 200, 16)),
             Edit(IDC_ACCESS_URL, Box(40, 28, 168, 14)),
             DefaultPush(IDOK, "OK", Box(108, 60, 48, 14)),
             Push(IDCANCEL, "Cancel", Box(161, 60, 47, 14)),
             Push(IDC_DEFAULTS, "Defaults", Box(8, 44, 48, 14)),
             Static(-1, "&Address:", Box(8, 31, 32, 8)),
         }},
        {IDD_PORT_OPTIONS,
         "Port Settings",
         208,
         105,
         kDialogStyle,
         {
             Group(IDC_PORTS_GROUP, "Scan these ports for the presense of the Vantok\xAE", Box(8, 8, 192, 44)),
             Check(IDC_COM1, "COM1", Box(16, 24, 36, 10)),
             Check(IDC_COM2, "COM2", Box(16, 37, 36, 10)),
             Check(IDC_COM3, "COM3", Box(56, 24, 36, 10)),
             Check(IDC_COM4, "COM4", Box(56, 36, 36, 10)),
             Check(IDC_LPT, "LPT", Box(96, 24, 36, 10)),
             Check(IDC_USB, "USB", Box(96, 37, 36, 10)),
             Push(IDC_SELECT_ALL, "Select all", Box(144, 32, 48, 14)),
             Static(IDC_PORTS_NOTE, "Note: Fewer checked boxes will improve response time. ", Box(8, 60, 192, 16)),
             DefaultPush(IDOK, "OK", Box(100, 84, 48, 14)),
             Push(IDCANCEL, "Cancel", Box(152, 84, 48, 14)),
             Icon(IDI_TOKEN, Box(8, 80, 20, 20)),
         }},
        {IDD_NO_TOKEN,
         "Authentication Required",
         168,
         81,
         kDialogStyle,
         {
             DefaultPush(IDOK, "OK"),
             Static(-1, "No Vantok\xAE found. To logon:"),
             Static(-1, "Press the Ovalix with your Vantok\xAE"),
             Centered(-1, "or"),
             Static(-1, "Plug into any USB port."),
             Icon(IDI_TOKEN),
         }},
        {IDD_MANY_TOKENS,
         "Authentication Required",
         168,
         73,
         kDialogStyle,
         {
             DefaultPush(IDOK, "OK"),
             Static(-1, "More than one Vantok found.\nUse a single Vantok to logon."),
             Icon(IDI_TOKEN),
         }},
    };
}

std::string Describe(const RECT& box)
{
    return std::to_string(box.left) + "," + std::to_string(box.top) + " " + std::to_string(box.right - box.left) + "x" +
           std::to_string(box.bottom - box.top);
}

TEST(DialogTemplates, EachTemplateHasItsTitleSizeStylesAndFont)
{
    for (const ExpectedDialog& expected : AgentDialogs()) {
        SCOPED_TRACE(expected.id);
        const std::optional<DialogTemplate> dialog = LoadDialogTemplate(GetModuleHandleA(nullptr), expected.id);
        ASSERT_TRUE(dialog);
        EXPECT_EQ(expected.title, dialog->title);
        EXPECT_EQ(expected.width, dialog->width);
        EXPECT_EQ(expected.height, dialog->height);
        EXPECT_EQ(expected.style, dialog->style) << std::hex << dialog->style;
        EXPECT_EQ(DWORD{WS_EX_TOOLWINDOW}, dialog->exStyle);
        EXPECT_EQ("MS Sans Serif", dialog->font);
        EXPECT_EQ(8, dialog->pointSize);
    }
}

TEST(DialogTemplates, EachControlHasItsIdKindTextAndPlaceInTemplateOrder)
{
    for (const ExpectedDialog& expected : AgentDialogs()) {
        SCOPED_TRACE(expected.id);
        const std::optional<DialogTemplate> dialog = LoadDialogTemplate(GetModuleHandleA(nullptr), expected.id);
        ASSERT_TRUE(dialog);
        ASSERT_EQ(expected.controls.size(), dialog->controls.size());
        for (size_t i = 0; i < expected.controls.size(); ++i) {
            const Expected& want = expected.controls[i];
            const TemplateControl& have = dialog->controls[i];
            SCOPED_TRACE("control " + std::to_string(i) + " \"" + want.text + "\"");
            EXPECT_EQ(want.id, have.id);
            EXPECT_EQ(want.className, have.className);
            const DWORD typeMask = want.className == "Button"   ? kButtonType
                                   : want.className == "Static" ? kStaticType
                                                                : 0;
            EXPECT_EQ(want.type, have.style & typeMask) << std::hex << have.style;
            EXPECT_EQ(want.mustHave | WS_CHILD, have.style & (want.mustHave | WS_CHILD)) << std::hex << have.style;
            EXPECT_EQ(want.text, have.text);
            EXPECT_EQ(want.image, have.imageId);
            if (want.box) {
                EXPECT_EQ(Describe(*want.box), Describe(have.box));
            }
            // Nothing lies outside the dialog.
            EXPECT_GE(have.box.left, 0);
            EXPECT_GE(have.box.top, 0);
            EXPECT_LE(have.box.right, dialog->width);
            EXPECT_LE(have.box.bottom, dialog->height);
        }
    }
}

TEST(DialogTemplates, TheAboutBoxControlsHaveExactlyTheirStyles)
{
    const std::optional<DialogTemplate> about = LoadDialogTemplate(GetModuleHandleA(nullptr), IDD_ABOUT);
    ASSERT_TRUE(about);
    for (const TemplateControl& control : about->controls) {
        SCOPED_TRACE(control.text);
        if (control.id == IDOK)
            EXPECT_EQ(0x50010001u, control.style);
        else if (control.imageId == IDI_TOKEN)
            EXPECT_EQ(0x50000003u, control.style);
        else
            EXPECT_EQ(0x50020000u, control.style);
    }
}

TEST(DialogTemplates, ControlsLaidOutHereDoNotOverlap)
{
    for (const int id : {IDD_LOGON_PROMPT, IDD_NO_TOKEN, IDD_MANY_TOKENS}) {
        SCOPED_TRACE(id);
        const std::optional<DialogTemplate> dialog = LoadDialogTemplate(GetModuleHandleA(nullptr), id);
        ASSERT_TRUE(dialog);
        for (size_t i = 0; i < dialog->controls.size(); ++i) {
            for (size_t j = i + 1; j < dialog->controls.size(); ++j) {
                RECT overlap{};
                EXPECT_FALSE(IntersectRect(&overlap, &dialog->controls[i].box, &dialog->controls[j].box))
                    << Describe(dialog->controls[i].box) << " and " << Describe(dialog->controls[j].box);
            }
        }
    }
}

// Runs a check on a dialog of the agent while it initialises, through the framework that
// runs every dialog of the agent, then ends it before it is ever shown.
class ProbeDialog : public Dialog {
public:
    ProbeDialog(int id, std::function<void(HWND)> probe) : Dialog(id), m_probe(std::move(probe)) {}

protected:
    BOOL OnInitDialog() override
    {
        m_probe(Handle());
        EndDialog(IDOK);
        return TRUE;
    }

private:
    std::function<void(HWND)> m_probe;
};

void Probe(int id, const std::function<void(HWND)>& probe)
{
    ProbeDialog dialog(id, probe);
    ASSERT_EQ(IDOK, dialog.DoModal());
}

TEST(DialogWindows, EveryDialogIsATopmostToolWindowAndAllButAboutHaveASystemMenu)
{
    for (const ExpectedDialog& expected : AgentDialogs()) {
        SCOPED_TRACE(expected.id);
        Probe(expected.id, [&](HWND dialog) {
            const LONG_PTR exStyle = GetWindowLongPtrA(dialog, GWL_EXSTYLE);
            EXPECT_TRUE(exStyle & WS_EX_TOPMOST) << "system-modal dialogs stay on top";
            EXPECT_TRUE(exStyle & WS_EX_TOOLWINDOW);
            EXPECT_EQ(expected.id != IDD_ABOUT, (GetWindowLongPtrA(dialog, GWL_STYLE) & WS_SYSMENU) != 0);
            char title[128] = {};
            GetWindowTextA(dialog, title, sizeof(title));
            EXPECT_EQ(expected.title, title);
        });
    }
}

std::string ControlText(HWND control)
{
    std::string text(static_cast<size_t>(GetWindowTextLengthA(control)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(control, text.data(), static_cast<int>(text.size()))));
    return text;
}

TEST(DialogWindows, TextsReadBackInTheAnsiCodePageWithTheRegisteredSign)
{
    Probe(IDD_PORT_OPTIONS, [](HWND ports) {
        EXPECT_EQ("Scan these ports for the presense of the Vantok\xAE",
                  ControlText(GetDlgItem(ports, IDC_PORTS_GROUP)));
        EXPECT_EQ("Note: Fewer checked boxes will improve response time. ",
                  ControlText(GetDlgItem(ports, IDC_PORTS_NOTE)));
    });
    Probe(IDD_MANY_TOKENS, [](HWND many) {
        bool found = false;
        for (HWND child = GetWindow(many, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT))
            found = found || ControlText(child) == "More than one Vantok found.\nUse a single Vantok to logon.";
        EXPECT_TRUE(found) << "the line break is part of the text";
    });
}

// Width and height a control's text needs in the dialog's font, laid out as the control
// lays it out.
SIZE TextNeeds(HWND control, const std::string& text, bool wraps, int width)
{
    const HDC dc = GetDC(control);
    const HGDIOBJ previous = SelectObject(dc, reinterpret_cast<HGDIOBJ>(SendMessageA(control, WM_GETFONT, 0, 0)));
    RECT area{0, 0, width, 0};
    DrawTextA(dc, text.c_str(), static_cast<int>(text.size()), &area,
              DT_CALCRECT | (wraps ? DT_WORDBREAK : DT_SINGLELINE));
    SelectObject(dc, previous);
    ReleaseDC(control, dc);
    return {area.right - area.left, area.bottom - area.top};
}

// Every text of a created dialog fits its control: wrapped statics within their lines, one-
// line buttons, check boxes (beside their box) and group boxes (between their frame ends).
void ExpectTextsFit(HWND dialog)
{
    const int checkMark = GetSystemMetrics(SM_CXMENUCHECK) + 4;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::string text = ControlText(child);
        if (text.empty())
            continue;
        SCOPED_TRACE(text);
        char kind[32] = {};
        GetClassNameA(child, kind, sizeof(kind));
        RECT client{};
        GetClientRect(child, &client);
        if (CompareStringA(LOCALE_INVARIANT, NORM_IGNORECASE, kind, -1, "Static", -1) == CSTR_EQUAL) {
            const SIZE needs = TextNeeds(child, text, true, client.right);
            EXPECT_LE(needs.cx, client.right);
            EXPECT_LE(needs.cy, client.bottom) << "wrapped text needs more lines than the control has";
            continue;
        }
        const SIZE needs = TextNeeds(child, text, false, 0);
        switch (GetWindowLongPtrA(child, GWL_STYLE) & kButtonType) {
        case BS_AUTOCHECKBOX:
            EXPECT_LE(needs.cx + checkMark, client.right);
            break;
        case BS_GROUPBOX:
            EXPECT_LE(needs.cx + needs.cy, client.right);
            break;
        default:
            EXPECT_LE(needs.cx + 4, client.right);
            break;
        }
        EXPECT_LE(needs.cy, client.bottom);
    }
}

TEST(DialogWindows, EveryTextFitsItsControlWithoutClipping)
{
    for (const ExpectedDialog& expected : AgentDialogs()) {
        SCOPED_TRACE(expected.id);
        Probe(expected.id, &ExpectTextsFit);
    }
}

} // namespace
