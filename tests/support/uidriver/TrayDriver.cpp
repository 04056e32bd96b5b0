#include "tests/support/uidriver/TrayDriver.h"

#include "platform/Handle.h"
#include "tests/support/uidriver/Process.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <shellapi.h>

#include <algorithm>
#include <cwchar>

namespace uidriver {
namespace {

constexpr wchar_t kShellTrayClass[] = L"Shell_TrayWnd";

// How Wine's shell hands a registration to the tray: WM_COPYDATA whose dwData is the
// NIM_* action and whose data starts with this fixed-width record.
struct WineNotifyRecord {
    LONG owner;
    UINT id;
    UINT flags;
    UINT callbackMessage;
    WCHAR tip[128];
};

TrayAction ActionOf(ULONG_PTR action)
{
    switch (action) {
    case NIM_ADD:
        return TrayAction::Add;
    case NIM_MODIFY:
        return TrayAction::Modify;
    case NIM_DELETE:
        return TrayAction::Delete;
    default:
        return TrayAction::Other;
    }
}

std::string Narrow(const WCHAR* text, std::size_t capacity)
{
    const std::size_t length = wcsnlen(text, capacity);
    if (length == 0)
        return {};
    const int size = WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), nullptr, 0, nullptr, nullptr);
    std::string result(static_cast<std::size_t>(size), '\0');
    WideCharToMultiByte(CP_ACP, 0, text, static_cast<int>(length), result.data(), size, nullptr, nullptr);
    return result;
}

bool PostKey(HWND window, WPARAM key)
{
    return PostMessageA(window, WM_KEYDOWN, key, 0) != FALSE;
}

} // namespace

HWND FindAgentWindow()
{
    return FindWindowA(kAgentWindowName, kAgentWindowName);
}

bool PostTrayMouse(HWND agentWindow, UINT mouseMessage)
{
    return PostMessageA(agentWindow, kTrayCallbackMessage, kTrayIconId, mouseMessage) != FALSE;
}

bool PostTrayDoubleClick(HWND agentWindow)
{
    return PostTrayMouse(agentWindow, WM_LBUTTONDOWN) && PostTrayMouse(agentWindow, WM_LBUTTONUP) &&
           PostTrayMouse(agentWindow, WM_LBUTTONDBLCLK) && PostTrayMouse(agentWindow, WM_LBUTTONUP);
}

HWND FindVisibleMenu()
{
    const auto menus = VisibleWindows(0, kMenuClass);
    return menus.empty() ? nullptr : menus.front();
}

bool ChooseMenuItemByDown(HWND menu, int downPresses)
{
    for (int press = 0; press < downPresses; ++press) {
        if (!PostKey(menu, VK_DOWN))
            return false;
    }
    return PostKey(menu, VK_RETURN);
}

bool ChooseLastMenuItem(HWND menu)
{
    return PostKey(menu, VK_UP) && PostKey(menu, VK_RETURN);
}

bool DismissMenu(HWND menu)
{
    return PostKey(menu, VK_ESCAPE);
}

std::unique_ptr<FakeTray> FakeTray::Install(Milliseconds timeout)
{
    std::unique_ptr<FakeTray> tray(new FakeTray());
    tray->m_ready.Reset(CreateEventA(nullptr, TRUE, FALSE, nullptr));
    if (!tray->m_ready)
        return nullptr;
    tray->m_thread = std::thread([raw = tray.get()] { raw->Run(); });
    // A handshake with our own thread, which only registers a class and makes one window:
    // once signalled, the thread either runs its loop (and so can be told to quit) or ended.
    WaitForSingleObject(tray->m_ready.Get(), INFINITE);
    if (!tray->m_window)
        return nullptr;
    // Programs ask for the first window of the class; the desktop's own tray may come up
    // after ours, so ours is kept in front of it.
    if (!WaitFor([&] { return tray->IsFirstTray(); }, timeout))
        return nullptr;
    return tray;
}

FakeTray::~FakeTray()
{
    if (m_thread.joinable()) {
        PostThreadMessageA(m_threadId, WM_QUIT, 0, 0);
        m_thread.join();
    }
}

bool FakeTray::IsFirstTray() const
{
    if (FindWindowExW(nullptr, nullptr, kShellTrayClass, nullptr) == m_window)
        return true;
    SetWindowPos(m_window, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    return false;
}

void FakeTray::Run()
{
    m_threadId = GetCurrentThreadId();
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = WindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = kShellTrayClass;
    RegisterClassW(&windowClass);
    HWND window = CreateWindowExW(WS_EX_TOOLWINDOW | WS_EX_TOPMOST, kShellTrayClass, nullptr, WS_POPUP, 0, 0, 1, 1,
                                  nullptr, nullptr, windowClass.hInstance, nullptr);
    if (window)
        SetWindowLongPtrW(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(this));
    m_window = window;
    SetEvent(m_ready.Get());
    if (!window)
        return;
    MSG message;
    while (GetMessageW(&message, nullptr, 0, 0) > 0)
        DispatchMessageW(&message);
    DestroyWindow(window);
    UnregisterClassW(kShellTrayClass, windowClass.hInstance);
}

LRESULT CALLBACK FakeTray::WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_COPYDATA) {
        auto* tray = reinterpret_cast<FakeTray*>(GetWindowLongPtrW(window, GWLP_USERDATA));
        const auto* copy = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (tray && copy)
            tray->Record(copy->dwData, copy->lpData, copy->cbData);
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

void FakeTray::Record(ULONG_PTR action, const void* data, DWORD size)
{
    TrayEvent event;
    event.at = FileTimeNow();
    event.action = ActionOf(action);
    if (data && size >= sizeof(WineNotifyRecord)) {
        const auto* record = static_cast<const WineNotifyRecord*>(data);
        event.icon.owner = reinterpret_cast<HWND>(static_cast<LONG_PTR>(record->owner));
        event.icon.id = record->id;
        event.icon.callbackMessage = record->callbackMessage;
        event.icon.tip = Narrow(record->tip, std::size(record->tip));
    } else {
        event.action = TrayAction::Other;
    }
    std::lock_guard guard(m_lock);
    m_events.push_back(std::move(event));
}

std::vector<TrayEvent> FakeTray::Events() const
{
    std::lock_guard guard(m_lock);
    return m_events;
}

std::vector<TrayIcon> FakeTray::Icons() const
{
    std::vector<TrayIcon> icons;
    for (const auto& event : Events()) {
        const auto same = [&](const TrayIcon& icon) {
            return icon.owner == event.icon.owner && icon.id == event.icon.id;
        };
        if (event.action == TrayAction::Add && std::none_of(icons.begin(), icons.end(), same))
            icons.push_back(event.icon);
        else if (event.action == TrayAction::Delete)
            std::erase_if(icons, same);
    }
    return icons;
}

bool FakeTray::HasIcon(HWND owner, UINT id) const
{
    const auto icons = Icons();
    return std::any_of(icons.begin(), icons.end(),
                       [&](const TrayIcon& icon) { return icon.owner == owner && icon.id == id; });
}

} // namespace uidriver
