#pragma once
// Asks a dialog for a control's colours as the system would, on a device context whose text
// colour and background mode start as neither answer the colour rule gives.
#include <windows.h>

namespace uidriver {

struct ColorAnswer {
    HBRUSH brush = nullptr;
    COLORREF text = 0;
    int mode = 0;
};

ColorAnswer AskColor(HWND dialog, UINT message, HWND control);

} // namespace uidriver
