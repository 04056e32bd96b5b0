#pragma once
// Real mouse input and what follows from it: the system routes it by hit-testing, as for a
// user, so the window under the point gets it whatever thread owns it.
#include <windows.h>

namespace uidriver {

void MoveMouseTo(POINT screen);
void ClickAt(POINT screen);
POINT CentreOf(const RECT& rect);

// The window holding the mouse capture on the thread that owns `window`.
HWND CaptureOfThreadOwning(HWND window);
// Waits until every message sent to `window` before now has been handled by its thread.
void Settle(HWND window);

} // namespace uidriver
