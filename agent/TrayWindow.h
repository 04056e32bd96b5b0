#pragma once
// The hidden tray window's procedure and the popup menu it shows.
#include "platform/Handle.h"

#include <windows.h>

// The procedure of the window class "VornStarter": icon clicks, the menu-delay timer and the
// menu commands.
LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// True while a menu command is being served (its dialog is open).
bool TrayCommandInProgress();

// A new popup menu with the tray items in order and the logon item as default.
scoped::Menu BuildTrayMenu();
