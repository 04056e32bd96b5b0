#include "tests/support/uidriver/ColorProbe.h"

namespace uidriver {

ColorAnswer AskColor(HWND dialog, UINT message, HWND control)
{
    const HDC dc = CreateCompatibleDC(nullptr);
    SetTextColor(dc, RGB(10, 20, 30));
    SetBkMode(dc, OPAQUE);
    ColorAnswer answer;
    answer.brush = reinterpret_cast<HBRUSH>(
        SendMessageA(dialog, message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
    answer.text = GetTextColor(dc);
    answer.mode = GetBkMode(dc);
    DeleteDC(dc);
    return answer;
}

} // namespace uidriver
