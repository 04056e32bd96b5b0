#pragma once
// The agent's side of the notification area: its hidden window, the mouse actions the shell
// reports to it, its popup menu; and a stand-in notification area that records which icons
// programs add and delete.
#include "platform/Handle.h"
#include "tests/support/uidriver/Wait.h"

#include <windows.h>

#include <memory>
#include <mutex>
#include <thread>
#include <string>
#include <vector>

namespace uidriver {

inline constexpr char kAgentWindowName[] = "VornStarter";
inline constexpr UINT kTrayCallbackMessage = 7030;
inline constexpr UINT kTrayIconId = 128;

// The running agent's hidden window (class and title "VornStarter"), or null.
HWND FindAgentWindow();

// What the shell posts when the user acts on the icon: mouseMessage in the second parameter,
// the icon id in the first.
bool PostTrayMouse(HWND agentWindow, UINT mouseMessage);
// A double-click as the shell reports it: button down, then the double-click.
bool PostTrayDoubleClick(HWND agentWindow);

// The popup menu window while one is shown (visible, class #32768), or null.
HWND FindVisibleMenu();
// Chooses an item by keyboard as a user would: down presses from no selection (1 is the
// first item; separators are skipped by the menu), then Enter.
bool ChooseMenuItemByDown(HWND menu, int downPresses);
// Chooses the last item (one press upwards wraps to it), then Enter.
bool ChooseLastMenuItem(HWND menu);
bool DismissMenu(HWND menu);

// An icon as a program registered it with the notification area.
struct TrayIcon {
    HWND owner = nullptr;
    UINT id = 0;
    UINT callbackMessage = 0;
    std::string tip;
};

enum class TrayAction { Add, Modify, Delete, Other };

struct TrayEvent {
    TrayAction action = TrayAction::Other;
    TrayIcon icon;
    ULONGLONG at = 0; // FILETIME ticks when it arrived
};

// A notification area of the test's own: a window of the shell tray's class, made the first
// one found, on a thread of its own that answers every registration. Programs started after
// Install() report their icons to it instead of to the desktop's tray.
class FakeTray {
public:
    static std::unique_ptr<FakeTray> Install(Milliseconds timeout);
    ~FakeTray();
    FakeTray(const FakeTray&) = delete;
    FakeTray& operator=(const FakeTray&) = delete;

    std::vector<TrayEvent> Events() const;
    // The icons added and not deleted since, in the order they were added.
    std::vector<TrayIcon> Icons() const;
    bool HasIcon(HWND owner, UINT id) const;

private:
    FakeTray() = default;
    void Run();
    static LRESULT CALLBACK WindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    void Record(ULONG_PTR action, const void* data, DWORD size);
    bool IsFirstTray() const;

    mutable std::mutex m_lock;
    std::vector<TrayEvent> m_events;
    HWND m_window = nullptr; // set by the tray thread before it signals m_ready
    DWORD m_threadId = 0;
    scoped::KernelHandle m_ready;
    std::thread m_thread;
};

} // namespace uidriver
