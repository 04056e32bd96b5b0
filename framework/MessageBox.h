#pragma once
// Message boxes: with a caption of the caller's choosing, or the application's own box,
// captioned with the application's title.
#include <windows.h>

#include <string>

// Blocks until dismissed; returns the button pressed (IDOK, IDYES ...), 0 on failure.
int ShowMessageBox(HWND owner, const std::string& text, const std::string& caption, UINT type);

// Captioned with the current application's title and owned by the thread's active window
// (none when the thread has no active window).
int AppMessageBox(const std::string& text, UINT type = MB_OK);
