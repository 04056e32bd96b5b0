#include "agent/TrayIcon.h"

#include "agent/TrayLogic.h"

#include <span>

namespace {
constexpr std::size_t kFirstVersionTipSize = 64;
static_assert(NOTIFYICONDATAA_V1_SIZE == offsetof(NOTIFYICONDATAA, szTip) + kFirstVersionTipSize);
} // namespace

NOTIFYICONDATAA MakeTrayIconRecord(HWND window, UINT id, HICON icon, std::string_view tip)
{
    NOTIFYICONDATAA record{};
    // The first-version size keeps the record readable by every shell version.
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = window;
    record.uID = id;
    record.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    record.uCallbackMessage = kTrayCallbackMessage;
    record.hIcon = icon;
    // The first-version record ends after 64 bytes of tip, whatever the headers declare.
    CopyTrayTip(tip, std::span<char>(record.szTip, kFirstVersionTipSize));
    return record;
}

bool AddTrayIcon(HWND window, UINT id, scoped::Icon icon, std::string_view tip)
{
    NOTIFYICONDATAA record = MakeTrayIconRecord(window, id, icon.Get(), tip);
    return Shell_NotifyIconA(NIM_ADD, &record) != FALSE;
}

void RemoveTrayIcon(HWND window, UINT id)
{
    NOTIFYICONDATAA record{};
    record.cbSize = NOTIFYICONDATAA_V1_SIZE;
    record.hWnd = window;
    record.uID = id;
    Shell_NotifyIconA(NIM_DELETE, &record);
}
