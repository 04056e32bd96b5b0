#include "dialogs/HyperLinkLabel.h"

#include "dialogs/LinkErrorText.h"
#include "dialogs/LinkGeometry.h"
#include "dialogs/LinkState.h"
#include "framework/MessageBox.h"
#include "logon/WebPageOpener.h"
#include "platform/Window.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

// The old help viewer carries the classic hand as cursor 106.
constexpr char kHelpViewerFile[] = "\\winhlp32.exe";
constexpr WORD kHelpViewerHandCursor = 106;
constexpr UINT_PTR kTipToolId = 1;
constexpr UINT kRedrawNow = RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW;
// The colours browsers give a link and a visited link.
constexpr COLORREF kLinkColor = RGB(0, 0, 238);
constexpr COLORREF kVisitedColor = RGB(85, 26, 139);

LinkRect ToLinkRect(const RECT& rect)
{
    return {rect.left, rect.top, rect.right, rect.bottom};
}

int ClampedSpan(int low, int high)
{
    const std::int64_t span = static_cast<std::int64_t>(high) - low;
    return static_cast<int>(std::clamp<std::int64_t>(span, 0, std::numeric_limits<int>::max()));
}

HCURSOR CopyOfHelpViewerHand()
{
    char directory[MAX_PATH] = {};
    const UINT length = GetWindowsDirectoryA(directory, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return nullptr;
    const std::string path = std::string(directory, length) + kHelpViewerFile;
    // Released on every path, also when it did not load.
    const scoped::Module viewer(LoadLibraryA(path.c_str()));
    if (!viewer)
        return nullptr;
    const HCURSOR shared = LoadCursorA(viewer.Get(), MAKEINTRESOURCEA(kHelpViewerHandCursor));
    return shared ? CopyIcon(shared) : nullptr;
}

// Some renderers place the glyphs further apart than the text extent they report (Wine, with a
// stand-in for the dialog's font): the link must show its whole text as it is drawn, so the
// text is drawn once off screen and its ink measured. Elsewhere the ink stays within the extent.
int DrawnTextWidth(HDC reference, HFONT font, const std::string& text, SIZE extent)
{
    // Room for glyphs drawn wider than reported, within what a bitmap may measure.
    constexpr LONG kMostColumns = 16384;
    const LONG width = std::min<LONG>(kMostColumns, 2 * (extent.cx + extent.cy));
    if (width <= 0 || extent.cy <= 0)
        return 0;
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -extent.cy; // top-down rows
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    const scoped::Bitmap picture(CreateDIBSection(reference, &info, DIB_RGB_COLORS, &bits, nullptr, 0));
    const scoped::MemoryDC dc(CreateCompatibleDC(reference));
    if (!picture || !dc || !bits)
        return 0;
    constexpr std::uint32_t kWhite = 0xFFFFFF;
    const std::span pixels(static_cast<std::uint32_t*>(bits), static_cast<std::size_t>(width) * extent.cy);
    std::fill(pixels.begin(), pixels.end(), kWhite);
    {
        const scoped::Selection selectedPicture(dc.Get(), picture.Get());
        const scoped::Selection selectedFont(dc.Get(), font);
        SetTextColor(dc.Get(), RGB(0, 0, 0));
        SetBkMode(dc.Get(), TRANSPARENT);
        TextOutA(dc.Get(), 0, 0, text.c_str(), static_cast<int>(text.size()));
        GdiFlush();
    }
    return InkedWidth(pixels, width, kWhite);
}

HCURSOR CopyOfSystemHand()
{
    const HCURSOR shared = LoadCursorA(nullptr, IDC_HAND);
    return shared ? CopyIcon(shared) : nullptr;
}

} // namespace

HyperLinkLabel::HyperLinkLabel() : m_hoverColor(GetSysColor(COLOR_HIGHLIGHT)) {}

HyperLinkLabel::~HyperLinkLabel()
{
    const HWND control = Handle();
    if (control && IsWindow(control) && m_linkFont &&
        reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0)) == m_linkFont.Get()) {
        // The control must not keep drawing with a font that is about to be deleted.
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_originalFont), FALSE);
    }
    m_linkFont.Reset();
    // The tooltip is owned by the control and goes with it; only a live one is ours to end.
    if (m_tip && !IsWindow(m_tip.Get()))
        (void)m_tip.Release();
    m_tip.Reset();
    m_linkCursor.Reset();
}

void HyperLinkLabel::PreSubclassWindow()
{
    const HWND control = Handle();
    SetWindowLongA(control, GWL_STYLE, GetWindowLongA(control, GWL_STYLE) | SS_NOTIFY);
    m_url = window::Text(control);
    CreateLinkFont();
    FitToText();
    LoadLinkCursor();
    RECT area{};
    GetClientRect(control, &area);
    CreateTip(area);
    AttachedControl::PreSubclassWindow();
}

void HyperLinkLabel::CreateLinkFont()
{
    const HWND control = Handle();
    m_originalFont = reinterpret_cast<HFONT>(SendMessageA(control, WM_GETFONT, 0, 0));
    // A control without a font of its own draws in the system font; the link keeps that
    // look and only adds the underline.
    const HGDIOBJ source = m_originalFont ? static_cast<HGDIOBJ>(m_originalFont) : GetStockObject(SYSTEM_FONT);
    LOGFONTA description{};
    if (GetObjectA(source, sizeof(description), &description) != sizeof(description))
        return;
    description.lfUnderline = TRUE;
    m_linkFont.Reset(CreateFontIndirectA(&description));
    if (m_linkFont)
        SendMessageA(control, WM_SETFONT, reinterpret_cast<WPARAM>(m_linkFont.Get()), TRUE);
}

void HyperLinkLabel::CreateTip(const RECT& area)
{
    const HWND control = Handle();
    m_tip.Reset(CreateWindowExA(0, TOOLTIPS_CLASSA, nullptr, WS_POPUP, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                                CW_USEDEFAULT, control, nullptr, GetModuleHandleA(nullptr), nullptr));
    if (!m_tip)
        return;
    TOOLINFOA tool{};
    // The size without the newest trailing field is accepted by every comctl32 version,
    // with or without a manifest asking for the newest one.
    tool.cbSize = TTTOOLINFOA_V2_SIZE;
    tool.uFlags = 0;
    tool.hwnd = control;
    tool.uId = kTipToolId;
    tool.rect = area;
    // The tooltip keeps a copy of the text.
    tool.lpszText = m_url.data();
    SendMessageA(m_tip.Get(), TTM_ADDTOOLA, 0, reinterpret_cast<LPARAM>(&tool));
}

bool HyperLinkLabel::PreTranslateMessage(MSG& msg)
{
    if (m_tip)
        SendMessageA(m_tip.Get(), TTM_RELAYEVENT, 0, reinterpret_cast<LPARAM>(&msg));
    return AttachedControl::PreTranslateMessage(msg);
}

bool HyperLinkLabel::OnReflectedCommand(UINT notification)
{
    if (notification != STN_CLICKED)
        return false;
    OnClicked();
    return true;
}

void HyperLinkLabel::OnClicked()
{
    const unsigned code = OpenWebPage(m_url, SW_SHOW);
    m_visited = OpenSucceeded(code);
    if (m_visited) {
        MarkVisited(true);
        return;
    }
    // Left unpainted: the link colour comes back with the next repaint. The application's
    // own message box says why the page did not open.
    MessageBeep(MB_ICONEXCLAMATION);
    AppMessageBox(OpenErrorMessage(static_cast<int>(code)), MB_ICONEXCLAMATION | MB_OK);
}

HBRUSH HyperLinkLabel::OnReflectedControlColor(HDC dc, UINT)
{
    SetTextColor(dc, LinkTextColor({kLinkColor, kVisitedColor, m_hoverColor}, m_hovering, m_visited));
    SetBkMode(dc, TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
}

std::optional<LRESULT> HyperLinkLabel::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    switch (message) {
    case WM_MOUSEMOVE:
        return OnMouseMove(wParam, lParam);
    case WM_SETCURSOR:
        return OnSetCursor();
    case WM_CAPTURECHANGED:
        OnCaptureChanged(reinterpret_cast<HWND>(lParam));
        return DefaultProcedure(message, wParam, lParam);
    default:
        return std::nullopt;
    }
}

LRESULT HyperLinkLabel::OnMouseMove(WPARAM wParam, LPARAM lParam)
{
    const LRESULT result = DefaultProcedure(WM_MOUSEMOVE, wParam, lParam);
    const HWND control = Handle();
    RECT area{};
    GetClientRect(control, &area);
    const bool inside = LinkRectContains(ToLinkRect(area), GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam));
    switch (HoverChangeForMove(m_hovering, inside)) {
    case HoverChange::Enter:
        m_hovering = true;
        RedrawNow();
        SetCapture(control);
        break;
    case HoverChange::Leave:
        m_hovering = false;
        ReleaseCapture();
        RedrawNow();
        break;
    case HoverChange::None:
        break;
    }
    return result;
}

void HyperLinkLabel::OnCaptureChanged(HWND newCapture)
{
    // Someone else took the mouse (a menu, a message box, another window): the label no
    // longer sees the pointer leave, so it stops hovering now rather than stay stuck.
    if (m_hovering && newCapture != Handle()) {
        m_hovering = false;
        RedrawNow();
    }
}

LRESULT HyperLinkLabel::OnSetCursor()
{
    if (!m_linkCursor)
        return FALSE;
    SetCursor(m_linkCursor.Get());
    return TRUE;
}

void HyperLinkLabel::RedrawNow()
{
    RedrawWindow(Handle(), nullptr, nullptr, kRedrawNow);
}

void HyperLinkLabel::MarkVisited(bool flag)
{
    m_visited = flag;
    const HWND control = Handle();
    if (control && IsWindow(control))
        InvalidateRect(control, nullptr, TRUE);
}

void HyperLinkLabel::FitToText()
{
    const HWND control = Handle();
    if (!control || !IsWindow(control))
        return;

    RECT box{};
    GetWindowRect(control, &box);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&box), 2);

    const std::string text = window::Text(control);
    // The font the control draws with: the link font, or its own when that could not be made.
    const HFONT font = m_linkFont ? m_linkFont.Get()
                                  : static_cast<HFONT>(m_originalFont ? static_cast<HGDIOBJ>(m_originalFont)
                                                                      : GetStockObject(SYSTEM_FONT));
    SIZE extent{};
    int drawnWidth = 0;
    {
        const scoped::WindowDC dc(control);
        if (!dc)
            return;
        const scoped::Selection selected(dc.Get(), font);
        if (!GetTextExtentPoint32A(dc.Get(), text.c_str(), static_cast<int>(text.size()), &extent))
            return;
        drawnWidth = DrawnTextWidth(dc.Get(), font, text, extent);
    }

    const auto style = static_cast<std::uint32_t>(GetWindowLongA(control, GWL_STYLE));
    const LinkRect fitted =
        FitRectToText(ToLinkRect(box), {std::max(static_cast<int>(extent.cx), drawnWidth), extent.cy}, style);
    SetWindowPos(control, nullptr, fitted.left, fitted.top, ClampedSpan(fitted.left, fitted.right),
                 ClampedSpan(fitted.top, fitted.bottom), SWP_NOZORDER);
}

void HyperLinkLabel::LoadLinkCursor()
{
    if (m_linkCursor)
        return;
    m_linkCursor.Reset(CopyOfHelpViewerHand());
    // Current systems no longer ship the old help viewer's hand; the system's own hand
    // keeps links looking like links there.
    if (!m_linkCursor)
        m_linkCursor.Reset(CopyOfSystemHand());
}
