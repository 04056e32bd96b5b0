// trayprobe.exe: the least a tray program can do, for measurements to compare the agent with:
// it registers a window class, makes a hidden window, adds one tray icon and runs a message
// loop until it is asked to close. What the agent needs beyond this, up to its icon, is the
// agent's own start-up work.
#include <windows.h>
#include <shellapi.h>

#include <cstring>

namespace {

LRESULT CALLBACK ProbeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_CLOSE) {
        PostQuitMessage(0);
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int)
{
    WNDCLASSA windowClass{};
    windowClass.lpfnWndProc = ProbeWindowProc;
    windowClass.hInstance = instance;
    windowClass.lpszClassName = "TrayProbe";
    RegisterClassA(&windowClass);
    HWND window = CreateWindowExA(WS_EX_TOOLWINDOW, "TrayProbe", "TrayProbe", WS_POPUP, -100, -100, 10, 10, nullptr,
                                  nullptr, instance, nullptr);
    NOTIFYICONDATAA icon{};
    icon.cbSize = NOTIFYICONDATAA_V1_SIZE;
    icon.hWnd = window;
    icon.uID = 1;
    icon.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    icon.uCallbackMessage = WM_APP;
    icon.hIcon = LoadIconA(nullptr, MAKEINTRESOURCEA(32512));
    std::strcpy(icon.szTip, "probe");
    Shell_NotifyIconA(NIM_ADD, &icon);
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) > 0)
        DispatchMessageA(&message);
    Shell_NotifyIconA(NIM_DELETE, &icon);
    DestroyWindow(window);
    return 0;
}
