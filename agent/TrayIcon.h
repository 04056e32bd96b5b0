#pragma once
// The notification-area icon of the tray window, with the shell's first-version record.
#include "platform/Handle.h"

#include <windows.h>

#include <shellapi.h>

#include <string_view>

// The record as added: the first-version size, window and id, the callback message, the
// icon, and the tip cut to fit its 64-byte field.
NOTIFYICONDATAA MakeTrayIconRecord(HWND window, UINT id, HICON icon, std::string_view tip);

// Adds the icon; the picture is destroyed afterwards in any case (the shell keeps a copy).
bool AddTrayIcon(HWND window, UINT id, scoped::Icon icon, std::string_view tip);

void RemoveTrayIcon(HWND window, UINT id);
