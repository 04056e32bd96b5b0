#include "agent/TrayIcon.h"

#include "agent/TrayLogic.h"

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
    CopyTrayTip(tip, record.szTip);
    return record;
}

bool AddTrayIcon(HWND window, UINT id, ScopedIcon icon, std::string_view tip)
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
