#include "agent/TrayWindow.h"

#include "agent/AgentApp.h"
#include "agent/TrayLogic.h"
#include "dialogs/AboutDialog.h"
#include "dialogs/AccessUrlDialog.h"
#include "dialogs/PortOptionsDialog.h"
#include "dialogs/LogonPromptDialog.h"

#include <string>

namespace {

// Process-wide, as the guard must hold across the nested loops of every dialog.
TrayWindowLogic g_trayLogic;

void RunTrayCommand(TrayCommand command)
{
    switch (command) {
    case TrayCommand::Logon: {
        LogonPromptDialog prompt;
        prompt.DoModal();
        break;
    }
    case TrayCommand::Exit:
        PostQuitMessage(0);
        break;
    case TrayCommand::PortOptions: {
        PortOptionsDialog ports;
        ports.DoModal();
        break;
    }
    case TrayCommand::About: {
        AboutDialog about;
        about.DoModal();
        break;
    }
    case TrayCommand::AccessUrl: {
        AccessUrlDialog accessUrl;
        accessUrl.DoModal();
        break;
    }
    }
}

class WindowsTrayHost final : public TrayHost {
public:
    explicit WindowsTrayHost(HWND window) : m_window(window) {}

    void StartMenuTimer(unsigned delayMs) override { SetTimer(m_window, kMenuTimerId, delayMs, nullptr); }
    void StopMenuTimer() override { KillTimer(m_window, kMenuTimerId); }
    unsigned DoubleClickTime() override { return GetDoubleClickTime(); }
    void ShowTrayMenu() override
    {
        if (AgentApp* agent = AgentApp::Current())
            agent->ShowTrayMenu();
    }
    void SendCommandToSelf(TrayCommand command) override
    {
        SendMessageA(m_window, WM_COMMAND, static_cast<WPARAM>(command), 0);
    }
    void RunCommand(TrayCommand command) override { RunTrayCommand(command); }
    void PostQuit() override { PostQuitMessage(0); }

private:
    HWND m_window;
};

// What a newly started shell announces to every top-level window; 0 when the system could not
// register it, and then no message is taken for it (0 is the null message the menu sends).
UINT TaskbarCreatedMessage()
{
    static const UINT message = RegisterWindowMessageA("TaskbarCreated");
    return message;
}

} // namespace

LRESULT CALLBACK TrayWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    try {
        // Ahead of the command guard: a shell restarted while a dialog is open must not leave
        // the agent without its icon, and so without a way to log on or to exit.
        if (TaskbarCreatedMessage() != 0 && message == TaskbarCreatedMessage()) {
            if (AgentApp* agent = AgentApp::Current())
                agent->RestoreTrayIcon();
            return DefWindowProcA(window, message, wParam, lParam);
        }
        WindowsTrayHost host(window);
        if (g_trayLogic.HandleMessage(host, message, wParam, lParam) == TrayReply::Handled)
            return 1;
    } catch (...) {
        // Nothing escapes into the system; a command that failed half-way is simply over.
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

bool TrayCommandInProgress()
{
    return g_trayLogic.InCommand();
}

scoped::Menu BuildTrayMenu()
{
    scoped::Menu menu(CreatePopupMenu());
    if (!menu)
        return menu;
    for (const TrayMenuEntry& entry : TrayMenuEntries()) {
        if (entry.IsSeparator()) {
            AppendMenuA(menu.Get(), MF_SEPARATOR, 0, nullptr);
        } else {
            const std::string text(entry.text);
            AppendMenuA(menu.Get(), MF_STRING, entry.command, text.c_str());
        }
    }
    SetMenuDefaultItem(menu.Get(), static_cast<UINT>(kDefaultTrayCommand), FALSE);
    return menu;
}
