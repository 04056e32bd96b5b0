#pragma once
// Windows of this and other programs. Windows only.
#include <windows.h>

#include <string>

namespace window {

// The window's title or a control's text; empty when it has none. For a window of another
// program the system answers from its own copy of the title, so a program that hangs cannot
// hang the caller.
std::string Text(HWND window);

} // namespace window
