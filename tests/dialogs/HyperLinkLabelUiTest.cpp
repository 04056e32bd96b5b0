// The link label on real controls: attached to the About template's link control, to a plain
// static without a font, and to centred and right-aligned statics.
#include "AboutTestSupport.h"

#include "dialogs/HyperLinkLabel.h"
#include "resources/resource.h"
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <commctrl.h>
#include <gtest/gtest.h>

#include <string>
#include <thread>

using namespace abouttest;

namespace {

INT_PTR CALLBACK PassiveDialogProcedure(HWND, UINT, WPARAM, LPARAM)
{
    return FALSE;
}

// The About template without the About box's behaviour: its controls are what the label
// is attached to in the program.
class TemplateHost {
public:
    TemplateHost()
        : m_window(CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_ABOUT), nullptr,
                                      PassiveDialogProcedure, 0))
    {
    }
    ~TemplateHost() { DestroyWindow(m_window); }
    TemplateHost(const TemplateHost&) = delete;
    TemplateHost& operator=(const TemplateHost&) = delete;

    HWND Window() const { return m_window; }
    HWND Item(int id) const { return GetDlgItem(m_window, id); }

private:
    HWND m_window;
};

// A bare parent with one static child of a given style and text, and no font set.
class StaticHost {
public:
    StaticHost(DWORD style, const char* text, RECT box)
        : m_parent(CreateWindowExA(0, "STATIC", "host", WS_POPUP, 0, 0, 400, 200, nullptr, nullptr,
                                   GetModuleHandleA(nullptr), nullptr)),
          m_child(CreateWindowExA(0, "STATIC", text, WS_CHILD | WS_VISIBLE | style, box.left, box.top,
                                  box.right - box.left, box.bottom - box.top, m_parent, nullptr,
                                  GetModuleHandleA(nullptr), nullptr))
    {
    }
    ~StaticHost() { DestroyWindow(m_parent); }
    StaticHost(const StaticHost&) = delete;
    StaticHost& operator=(const StaticHost&) = delete;

    HWND Child() const { return m_child; }

private:
    HWND m_parent;
    HWND m_child;
};

RECT RectInParent(HWND control)
{
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

LOGFONTA FontOf(HWND control)
{
    LOGFONTA font{};
    const auto handle = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    EXPECT_NE(nullptr, handle);
    EXPECT_EQ(static_cast<int>(sizeof(font)), GetObjectA(handle, sizeof(font), &font));
    return font;
}

// The size the control's text takes in its own font: the reported extent, or wider where the
// glyphs are drawn wider than that (as under Wine with a stand-in font), read off the pixels.
SIZE TextExtentInOwnFont(HWND control)
{
    const std::string text = uidriver::TextOf(control);
    const auto font = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    HDC dc = GetDC(control);
    const HGDIOBJ previous = SelectObject(dc, font);
    SIZE extent{};
    GetTextExtentPoint32A(dc, text.c_str(), static_cast<int>(text.size()), &extent);
    SelectObject(dc, previous);

    const int room = 2 * extent.cx + 20;
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP picture = CreateCompatibleBitmap(dc, room, extent.cy);
    const HGDIOBJ previousPicture = SelectObject(memory, picture);
    const HGDIOBJ previousFont = SelectObject(memory, font);
    const RECT all{0, 0, room, extent.cy};
    FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
    SetBkMode(memory, TRANSPARENT);
    TextOutA(memory, 0, 0, text.c_str(), static_cast<int>(text.size()));
    for (int x = room - 1; x >= extent.cx; --x) {
        for (int y = 0; y < extent.cy && x >= extent.cx; ++y) {
            if (GetPixel(memory, x, y) != RGB(255, 255, 255))
                extent.cx = x + 1;
        }
    }
    SelectObject(memory, previousFont);
    SelectObject(memory, previousPicture);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(control, dc);
    return extent;
}

struct TextColourAnswer {
    COLORREF text;
    int backgroundMode;
    HBRUSH brush;
};

TextColourAnswer AskColour(HyperLinkLabel& label)
{
    HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(1, 2, 3));
    SetBkMode(dc, OPAQUE);
    const HBRUSH brush = label.OnReflectedControlColor(dc, WM_CTLCOLORSTATIC);
    const TextColourAnswer answer{GetTextColor(dc), GetBkMode(dc), brush};
    DeleteDC(dc);
    return answer;
}

LPARAM Point(int x, int y)
{
    return MAKELPARAM(x, y);
}

} // namespace

TEST(HyperLinkLabel, AttachingMakesTheTemplateControlAnUnderlinedLinkFittedToItsText)
{
    TemplateHost host;
    const HWND control = host.Item(IDC_VENDOR_LINK);
    ASSERT_NE(nullptr, control);
    const LOGFONTA dialogFont = FontOf(control);
    const RECT before = RectInParent(control);
    ASSERT_EQ(0, GetWindowLongA(control, GWL_STYLE) & SS_NOTIFY);

    HyperLinkLabel label;
    ASSERT_TRUE(label.SubclassDlgItem(IDC_VENDOR_LINK, host.Window()));

    EXPECT_EQ(SS_NOTIFY, GetWindowLongA(control, GWL_STYLE) & SS_NOTIFY);
    EXPECT_EQ(kVendorHost, label.Url());

    const LOGFONTA linkFont = FontOf(control);
    EXPECT_TRUE(linkFont.lfUnderline);
    EXPECT_FALSE(dialogFont.lfUnderline);
    EXPECT_STREQ(dialogFont.lfFaceName, linkFont.lfFaceName);
    EXPECT_EQ(dialogFont.lfHeight, linkFont.lfHeight);

    const RECT after = RectInParent(control);
    const SIZE text = TextExtentInOwnFont(control);
    EXPECT_EQ(before.left, after.left);
    EXPECT_EQ(before.top, after.top);
    EXPECT_EQ(text.cx, after.right - after.left);
    EXPECT_EQ(text.cy, after.bottom - after.top);
    EXPECT_LT(after.right, before.right);
}

TEST(HyperLinkLabel, TooltipHasToolOneWithTheUrlOverTheFittedClientArea)
{
    TemplateHost host;
    HyperLinkLabel label;
    ASSERT_TRUE(label.SubclassDlgItem(IDC_DEVELOPER_LINK, host.Window()));
    const HWND control = label.Handle();

    const HWND tip = label.Tip();
    ASSERT_TRUE(IsWindow(tip));
    EXPECT_EQ(TOOLTIPS_CLASSA, uidriver::ClassOf(tip));
    // A child cannot own a popup: the system hands ownership to the control's dialog.
    EXPECT_EQ(GetAncestor(control, GA_ROOT), GetWindow(tip, GW_OWNER));
    EXPECT_EQ(WS_POPUP, static_cast<DWORD>(GetWindowLongA(tip, GWL_STYLE)) & WS_POPUP);
    ASSERT_EQ(1, SendMessageA(tip, TTM_GETTOOLCOUNT, 0, 0));

    char text[256] = {};
    TOOLINFOA tool{};
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.lpszText = text;
    ASSERT_TRUE(SendMessageA(tip, TTM_ENUMTOOLSA, 0, reinterpret_cast<LPARAM>(&tool)));
    RECT client{};
    GetClientRect(control, &client);
    EXPECT_EQ(1u, tool.uId);
    EXPECT_EQ(control, tool.hwnd);
    EXPECT_EQ(0u, tool.uFlags);
    EXPECT_TRUE(EqualRect(&client, &tool.rect));
    EXPECT_STREQ(kDeveloperHost, text);
}

TEST(HyperLinkLabel, ControlWithoutAFontGetsAnUnderlinedCopyOfTheSystemFont)
{
    StaticHost host(SS_LEFT, "www.plain.example", {10, 10, 300, 40});
    ASSERT_EQ(0, SendMessageA(host.Child(), WM_GETFONT, 0, 0));
    LOGFONTA system{};
    GetObjectA(GetStockObject(SYSTEM_FONT), sizeof(system), &system);

    HyperLinkLabel label;
    ASSERT_TRUE(label.SubclassWindow(host.Child()));

    const LOGFONTA linkFont = FontOf(host.Child());
    EXPECT_TRUE(linkFont.lfUnderline);
    EXPECT_STREQ(system.lfFaceName, linkFont.lfFaceName);
    const SIZE text = TextExtentInOwnFont(host.Child());
    const RECT after = RectInParent(host.Child());
    EXPECT_EQ(text.cx, after.right - after.left);
}

TEST(HyperLinkLabel, CentredAndRightAlignedControlsShrinkTowardTheirAlignment)
{
    StaticHost centred(SS_CENTER | SS_CENTERIMAGE, "www.centre.example", {20, 10, 320, 50});
    HyperLinkLabel centreLabel;
    ASSERT_TRUE(centreLabel.SubclassWindow(centred.Child()));
    const RECT centre = RectInParent(centred.Child());
    const SIZE centreText = TextExtentInOwnFont(centred.Child());
    // Odd spare room leaves one pixel more than the text.
    EXPECT_EQ((300 - centreText.cx) / 2 + 20, centre.left);
    EXPECT_EQ(320 - (300 - centreText.cx) / 2, centre.right);
    EXPECT_EQ(10 + (40 - centreText.cy) / 2, centre.top);
    EXPECT_EQ(50 - (40 - centreText.cy) / 2, centre.bottom);

    StaticHost right(SS_RIGHT, "www.right.example", {20, 60, 320, 90});
    HyperLinkLabel rightLabel;
    ASSERT_TRUE(rightLabel.SubclassWindow(right.Child()));
    const RECT rightRect = RectInParent(right.Child());
    const SIZE rightText = TextExtentInOwnFont(right.Child());
    EXPECT_EQ(320, rightRect.right);
    EXPECT_EQ(320 - rightText.cx, rightRect.left);
    EXPECT_EQ(60 + rightText.cy, rightRect.bottom);
}

TEST(HyperLinkLabel, ShowsAHandCursorEvenWithoutTheOldHelpViewer)
{
    TemplateHost host;
    HyperLinkLabel label;
    ASSERT_TRUE(label.SubclassDlgItem(IDC_VENDOR_LINK, host.Window()));
    ASSERT_NE(nullptr, label.LinkCursor());

    ICONINFO ours{};
    ICONINFO hand{};
    ASSERT_TRUE(GetIconInfo(label.LinkCursor(), &ours));
    ASSERT_TRUE(GetIconInfo(LoadCursorA(nullptr, IDC_HAND), &hand));
    EXPECT_EQ(hand.xHotspot, ours.xHotspot);
    EXPECT_EQ(hand.yHotspot, ours.yHotspot);
    for (HBITMAP bitmap : {ours.hbmMask, ours.hbmColor, hand.hbmMask, hand.hbmColor})
        if (bitmap)
            DeleteObject(bitmap);

    SetCursor(LoadCursorA(nullptr, IDC_ARROW));
    EXPECT_EQ(TRUE, SendMessageA(label.Handle(), WM_SETCURSOR, reinterpret_cast<WPARAM>(label.Handle()),
                                 MAKELPARAM(HTCLIENT, WM_MOUSEMOVE)));
    EXPECT_EQ(label.LinkCursor(), GetCursor());
}

TEST(HyperLinkLabel, HoverTakesTheCaptureAndAMoveAtTheRightEdgeEndsIt)
{
    TemplateHost host;
    HyperLinkLabel label;
    ASSERT_TRUE(label.SubclassDlgItem(IDC_VENDOR_LINK, host.Window()));
    const HWND control = label.Handle();
    RECT client{};
    GetClientRect(control, &client);

    SendMessageA(control, WM_MOUSEMOVE, 0, Point(1, 1));
    EXPECT_TRUE(label.Hovering());
    EXPECT_EQ(control, GetCapture());

    SendMessageA(control, WM_MOUSEMOVE, 0, Point(client.right - 1, client.bottom - 1));
    EXPECT_TRUE(label.Hovering());
    EXPECT_EQ(control, GetCapture());

    SendMessageA(control, WM_MOUSEMOVE, 0, Point(client.right, 0));
    EXPECT_FALSE(label.Hovering());
    EXPECT_EQ(nullptr, GetCapture());

    // The bottom edge is outside too.
    SendMessageA(control, WM_MOUSEMOVE, 0, Point(0, 0));
    SendMessageA(control, WM_MOUSEMOVE, 0, Point(0, client.bottom));
    EXPECT_FALSE(label.Hovering());
    EXPECT_EQ(nullptr, GetCapture());
}

TEST(HyperLinkLabel, LosingTheCaptureToAnotherWindowEndsHovering)
{
    TemplateHost host;
    HyperLinkLabel label;
    ASSERT_TRUE(label.SubclassDlgItem(IDC_VENDOR_LINK, host.Window()));
    SendMessageA(label.Handle(), WM_MOUSEMOVE, 0, Point(1, 1));
    ASSERT_TRUE(label.Hovering());

    SetCapture(host.Window());
    EXPECT_FALSE(label.Hovering());
    ReleaseCapture();

    // The next move over the link starts hovering again.
    SendMessageA(label.Handle(), WM_MOUSEMOVE, 0, Point(1, 1));
    EXPECT_TRUE(label.Hovering());
    EXPECT_EQ(label.Handle(), GetCapture());
    ReleaseCapture();
}

TEST(HyperLinkLabel, TextColourFollowsHoverThenVisitedThenLinkOnAHollowBackground)
{
    TemplateHost host;
    HyperLinkLabel label;
    ASSERT_TRUE(label.SubclassDlgItem(IDC_VENDOR_LINK, host.Window()));

    TextColourAnswer answer = AskColour(label);
    EXPECT_EQ(RGB(0, 0, 238), answer.text);
    EXPECT_EQ(TRANSPARENT, answer.backgroundMode);
    EXPECT_EQ(GetStockObject(NULL_BRUSH), answer.brush);

    label.MarkVisited(true);
    EXPECT_EQ(RGB(85, 26, 139), AskColour(label).text);

    SendMessageA(label.Handle(), WM_MOUSEMOVE, 0, Point(1, 1));
    EXPECT_EQ(GetSysColor(COLOR_HIGHLIGHT), AskColour(label).text);
    ReleaseCapture();
    EXPECT_EQ(RGB(85, 26, 139), AskColour(label).text);

    label.MarkVisited(false);
    EXPECT_EQ(RGB(0, 0, 238), AskColour(label).text);
}

TEST(HyperLinkLabel, ClickOpensTheUrlAndAFailedClickAfterwardsExplainsAndClearsVisited)
{
    TemplateHost host;
    HyperLinkLabel label;
    ASSERT_TRUE(label.SubclassDlgItem(IDC_VENDOR_LINK, host.Window()));

    UseRecordingBrowser();
    EXPECT_FALSE(label.OnReflectedCommand(STN_DBLCLK));
    EXPECT_TRUE(label.OnReflectedCommand(STN_CLICKED));
    ASSERT_TRUE(WaitForBrowserLines(1));
    const auto lines = BrowserLog();
    ASSERT_EQ(1u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(kVendorHost)) << lines[0];
    EXPECT_TRUE(label.Visited());
    EXPECT_EQ(RGB(85, 26, 139), AskColour(label).text);

    UseNoBrowser();
    uidriver::MessageBoxView seen;
    std::thread watcher([&] {
        if (const HWND box = WaitForMessageBox(nullptr)) {
            seen = uidriver::ReadMessageBox(box);
            PostMessageA(box, WM_COMMAND, IDOK, 0);
        }
    });
    EXPECT_TRUE(label.OnReflectedCommand(STN_CLICKED));
    watcher.join();

    EXPECT_EQ(kProgramTitle, seen.caption);
    EXPECT_EQ("Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename extension.",
              seen.text);
    EXPECT_EQ(std::vector<int>{IDOK}, seen.buttons);
    EXPECT_FALSE(label.Visited());
    EXPECT_EQ(RGB(0, 0, 238), AskColour(label).text);
    EXPECT_TRUE(BrowserLog().empty());
}

TEST(HyperLinkLabel, DestroyingTheLabelGivesTheControlItsFontBackAndRemovesTheTooltip)
{
    TemplateHost host;
    const HWND control = host.Item(IDC_VENDOR_LINK);
    const LPARAM dialogFont = SendMessageA(control, WM_GETFONT, 0, 0);
    HWND tip = nullptr;
    {
        HyperLinkLabel label;
        ASSERT_TRUE(label.SubclassWindow(control));
        tip = label.Tip();
        ASSERT_NE(dialogFont, SendMessageA(control, WM_GETFONT, 0, 0));
    }
    EXPECT_EQ(dialogFont, SendMessageA(control, WM_GETFONT, 0, 0));
    EXPECT_FALSE(IsWindow(tip));
    EXPECT_EQ(nullptr, HyperLinkLabel::FromHandle(control));
}

TEST(HyperLinkLabel, OutlivingItsControlIsHarmless)
{
    HyperLinkLabel label;
    {
        TemplateHost host;
        ASSERT_TRUE(label.SubclassDlgItem(IDC_VENDOR_LINK, host.Window()));
    }
    EXPECT_EQ(nullptr, label.Handle());
    label.MarkVisited(true);
    label.FitToText();
    EXPECT_TRUE(label.Visited());
}
