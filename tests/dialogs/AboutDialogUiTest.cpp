// The About box run modally, driven from a second thread with real mouse input and keys.
#include "AboutTestSupport.h"

#include "dialogs/AboutDialog.h"
#include "resources/resource.h"
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/Wait.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <gtest/gtest.h>

#include <string>

using namespace abouttest;

namespace {

constexpr char kTitle[] = "About";

RECT ScreenRectOf(HWND window)
{
    RECT rect{};
    GetWindowRect(window, &rect);
    return rect;
}

HWND ChildWithText(HWND dialog, const std::string& text)
{
    for (HWND child : uidriver::ChildrenOf(dialog)) {
        if (uidriver::TextOf(child) == text)
            return child;
    }
    return nullptr;
}

HWND IconOf(HWND dialog)
{
    for (HWND child : uidriver::ChildrenOf(dialog)) {
        if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
            return child;
    }
    return nullptr;
}

void PressEscape(HWND dialog)
{
    GUITHREADINFO info{};
    info.cbSize = sizeof(info);
    GetGUIThreadInfo(GetWindowThreadProcessId(dialog, nullptr), &info);
    PostMessageA(info.hwndFocus ? info.hwndFocus : dialog, WM_KEYDOWN, VK_ESCAPE, 0);
}

// A point of the dialog's client area given in dialog units, on the screen.
POINT DialogPoint(HWND dialog, int x, int y)
{
    RECT units{x, y, x, y};
    MapDialogRect(dialog, &units);
    POINT point{units.left, units.top};
    ClientToScreen(dialog, &point);
    return point;
}

constexpr auto kInputTimeout = std::chrono::seconds(10);

// Moves the pointer onto a link and waits until the link has taken the mouse. The pointer
// shifts by a pixel at each look, as a hand does: a link only notices a pointer that moves.
bool HoverOver(HWND link)
{
    POINT point = CentreOf(ScreenRectOf(link));
    MoveMouseTo(point);
    return uidriver::WaitFor(
        [&] {
            if (CaptureOfThreadOwning(link) == link)
                return true;
            point.x ^= 1;
            MoveMouseTo(point);
            return false;
        },
        kInputTimeout, std::chrono::milliseconds(50));
}

// A user's click on a link: the pointer rests on it before the button goes down.
void ClickLink(HWND link)
{
    ASSERT_TRUE(HoverOver(link));
    ClickAt(CentreOf(ScreenRectOf(link)));
}

int RunAbout(AboutDialog& about, const std::function<void(HWND)>& script)
{
    return RunWithScript(
        kTitle, [&] { return about.DoModal(); }, script);
}

int ClickAndRun(const std::function<POINT(HWND)>& where)
{
    AboutDialog about;
    return RunAbout(about, [&](HWND dialog) { ClickAt(where(dialog)); });
}

} // namespace

TEST(AboutDialog, OpensWithBothLinksAttachedAndFittedAndNoCloseBox)
{
    AboutDialog about;
    const int result = RunAbout(about, [](HWND dialog) {
        EXPECT_EQ(0, GetWindowLongA(dialog, GWL_STYLE) & WS_SYSMENU);
        EXPECT_EQ(WS_EX_TOOLWINDOW, GetWindowLongA(dialog, GWL_EXSTYLE) & WS_EX_TOOLWINDOW);
        for (const int id : {IDC_VENDOR_LINK, IDC_DEVELOPER_LINK}) {
            const HWND link = GetDlgItem(dialog, id);
            ASSERT_NE(nullptr, link);
            EXPECT_EQ(SS_NOTIFY, GetWindowLongA(link, GWL_STYLE) & SS_NOTIFY) << id;
            // The template gives 176 dialog units; the text needs far less.
            const RECT templateWidth{0, 0, 176, 8};
            RECT mapped = templateWidth;
            MapDialogRect(dialog, &mapped);
            EXPECT_LT(ScreenRectOf(link).right - ScreenRectOf(link).left, mapped.right) << id;
        }
        PressEscape(dialog);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(kVendorHost, about.vendorLink.Url());
    EXPECT_EQ(kDeveloperHost, about.developerLink.Url());
}

TEST(AboutDialog, LinkTextIsDrawnBlackOnWhiteWhateverTheLabelChose)
{
    AboutDialog about;
    const int result = RunAbout(about, [](HWND dialog) {
        for (const int id : {IDC_VENDOR_LINK, IDC_DEVELOPER_LINK}) {
            HDC dc = CreateCompatibleDC(nullptr);
            SetBkMode(dc, OPAQUE);
            const LRESULT brush = SendMessageA(dialog, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc),
                                               reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
            EXPECT_EQ(reinterpret_cast<LRESULT>(GetStockObject(WHITE_BRUSH)), brush) << id;
            EXPECT_EQ(RGB(0, 0, 0), GetTextColor(dc)) << id;
            EXPECT_EQ(TRANSPARENT, GetBkMode(dc)) << id;
            DeleteDC(dc);
        }
        PressEscape(dialog);
    });
    EXPECT_EQ(IDCANCEL, result);
}

TEST(AboutDialog, EscapeCancelsAndOkConfirms)
{
    {
        AboutDialog about;
        EXPECT_EQ(IDCANCEL, RunAbout(about, PressEscape));
    }
    AboutDialog about;
    EXPECT_EQ(IDOK, RunAbout(about, [](HWND dialog) { uidriver::PostButtonClick(dialog, IDOK); }));
}

TEST(AboutDialog, LeftClickOnTheSurfaceClosesItAsOk)
{
    // Empty background below the icon.
    EXPECT_EQ(IDOK, ClickAndRun([](HWND dialog) { return DialogPoint(dialog, 12, 95); }));
    // A plain text line.
    EXPECT_EQ(IDOK, ClickAndRun([](HWND dialog) {
                  const RECT line = ScreenRectOf(ChildWithText(dialog, "Internet logon software developed by:"));
                  return POINT{line.left + 4, (line.top + line.bottom) / 2};
              }));
    // The icon.
    EXPECT_EQ(IDOK, ClickAndRun([](HWND dialog) { return CentreOf(ScreenRectOf(IconOf(dialog))); }));
    // Just right of a link's text, where its template box used to reach.
    EXPECT_EQ(IDOK, ClickAndRun([](HWND dialog) {
                  const RECT link = ScreenRectOf(GetDlgItem(dialog, IDC_VENDOR_LINK));
                  return POINT{link.right + 3, (link.top + link.bottom) / 2};
              }));
}

TEST(AboutDialog, ClickOnEachLinkOpensItsTextAndKeepsTheBoxOpen)
{
    UseRecordingBrowser();
    AboutDialog about;
    const int result = RunAbout(about, [](HWND dialog) {
        ClickLink(GetDlgItem(dialog, IDC_VENDOR_LINK));
        ASSERT_TRUE(WaitForBrowserLines(1));
        ClickLink(GetDlgItem(dialog, IDC_DEVELOPER_LINK));
        ASSERT_TRUE(WaitForBrowserLines(2));
        Settle(dialog);
        EXPECT_TRUE(IsWindowVisible(dialog));
        PressEscape(dialog);
    });
    EXPECT_EQ(IDCANCEL, result);
    const auto lines = BrowserLog();
    ASSERT_EQ(2u, lines.size());
    EXPECT_NE(std::string::npos, lines[0].find(kVendorHost)) << lines[0];
    EXPECT_NE(std::string::npos, lines[1].find(kDeveloperHost)) << lines[1];
    EXPECT_TRUE(about.vendorLink.Visited());
    EXPECT_TRUE(about.developerLink.Visited());
}

TEST(AboutDialog, FailedLinkShowsTheErrorBoxCaptionedWithTheProgramAndTheBoxStays)
{
    UseNoBrowser();
    AboutDialog about;
    uidriver::MessageBoxView seen;
    const int result = RunAbout(about, [&](HWND dialog) {
        ClickLink(GetDlgItem(dialog, IDC_DEVELOPER_LINK));
        const HWND box = WaitForMessageBox(dialog);
        ASSERT_NE(nullptr, box);
        seen = uidriver::ReadMessageBox(box);
        uidriver::PostButtonClick(box, IDOK);
        ASSERT_TRUE(WaitUntilGone(box));
        Settle(dialog);
        EXPECT_TRUE(IsWindowVisible(dialog));
        PressEscape(dialog);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_EQ(kProgramTitle, seen.caption);
    EXPECT_EQ("Unable to open hyperlink:\n\nThere is no application associated\nwith the given filename extension.",
              seen.text);
    EXPECT_FALSE(about.developerLink.Visited());
}

TEST(AboutDialog, HoveringALinkShowsTheHandAndTheTipAndHoldsTheCaptureUntilThePointerLeaves)
{
    AboutDialog about;
    HCURSOR shown = nullptr;
    const int result = RunAbout(about, [&](HWND dialog) {
        const HWND link = GetDlgItem(dialog, IDC_VENDOR_LINK);
        const RECT area = ScreenRectOf(link);
        ASSERT_TRUE(HoverOver(link));
        CURSORINFO cursor{};
        cursor.cbSize = sizeof(cursor);
        if (GetCursorInfo(&cursor))
            shown = cursor.hCursor;
        // The pointer rests on the link: the tooltip, fed by the dialog's loop, shows the URL.
        EXPECT_TRUE(uidriver::WaitFor(
            [] { return !uidriver::VisibleWindows(GetCurrentProcessId(), "tooltips_class32", kVendorHost).empty(); },
            kInputTimeout));

        // Still on the link's last column: the capture stays.
        MoveMouseTo({area.right - 1, area.top});
        EXPECT_TRUE(
            uidriver::HoldsFor([&] { return CaptureOfThreadOwning(dialog) == link; }, std::chrono::milliseconds(300)));
        // One pixel further, at x = client width, the pointer has left.
        MoveMouseTo({area.right, area.top});
        EXPECT_TRUE(uidriver::WaitFor([&] { return CaptureOfThreadOwning(dialog) == nullptr; }, kInputTimeout));
        PressEscape(dialog);
    });
    EXPECT_EQ(IDCANCEL, result);
    EXPECT_FALSE(about.vendorLink.Hovering());
    EXPECT_EQ(about.vendorLink.LinkCursor(), shown);
}
