#include "agent/TrayLogic.h"

#include <algorithm>
#include <array>

namespace {

constexpr std::array kMenu{
    TrayMenuEntry{static_cast<unsigned>(TrayCommand::Logon), "Vantok Entravo"},
    TrayMenuEntry{static_cast<unsigned>(TrayCommand::PortOptions), "Port Options"},
    TrayMenuEntry{static_cast<unsigned>(TrayCommand::AccessUrl), "Conditional Access URL"},
    TrayMenuEntry{0, {}},
    TrayMenuEntry{static_cast<unsigned>(TrayCommand::About), "About"},
    TrayMenuEntry{0, {}},
    TrayMenuEntry{static_cast<unsigned>(TrayCommand::Exit), "Exit"},
};

bool IsTrayCommand(std::uintptr_t value)
{
    return value >= static_cast<unsigned>(TrayCommand::Logon) && value <= static_cast<unsigned>(TrayCommand::AccessUrl);
}

} // namespace

std::span<const TrayMenuEntry> TrayMenuEntries()
{
    return kMenu;
}

TrayReply TrayWindowLogic::HandleMessage(TrayHost& host, unsigned message, std::uintptr_t wParam, std::intptr_t lParam)
{
    // Default processing of a close request destroys the tray window, and the agent has no
    // other window whose loss would end it: without a quit it would linger with a dead icon
    // and nothing left to end it. Also while a dialog is open, whose modal loop passes the
    // quit on.
    if (message == kMsgClose) {
        host.PostQuit();
        return TrayReply::DefaultProcessing;
    }
    // A command is being served: nothing of our own until its dialog has closed.
    if (m_inCommand != 0)
        return TrayReply::DefaultProcessing;

    switch (message) {
    case kMsgCommand:
        ServeCommand(host, wParam);
        return TrayReply::Handled;
    case kMsgTimer:
        if (wParam == kMenuTimerId) {
            host.StopMenuTimer();
            host.ShowTrayMenu();
        }
        return TrayReply::DefaultProcessing;
    case kTrayCallbackMessage:
        // The mouse message is in the low word; the high word is not ours to read.
        HandleIconMouse(host, static_cast<unsigned>(static_cast<std::uintptr_t>(lParam) & 0xFFFF));
        return TrayReply::DefaultProcessing;
    default:
        return TrayReply::DefaultProcessing;
    }
}

void TrayWindowLogic::ServeCommand(TrayHost& host, std::uintptr_t wParam)
{
    m_inCommand = 1;
    // A command that fails half-way must not leave the icon dead for the rest of the run.
    struct ClearOnExit {
        int& flag;
        ~ClearOnExit() { flag = 0; }
    } clear{m_inCommand};
    // The whole parameter is compared, so a control notification (non-zero high word) with a
    // matching id serves nothing.
    if (IsTrayCommand(wParam))
        host.RunCommand(static_cast<TrayCommand>(wParam));
}

void TrayWindowLogic::HandleIconMouse(TrayHost& host, unsigned mouseMessage)
{
    switch (mouseMessage) {
    case kMsgLeftButtonDown:
        // A single click shows the menu only once a second click can no longer follow.
        host.StartMenuTimer(host.DoubleClickTime());
        break;
    case kMsgLeftButtonDoubleClick:
        host.StopMenuTimer();
        host.SendCommandToSelf(TrayCommand::Logon);
        break;
    case kMsgRightButtonDown:
        host.StartMenuTimer(kRightClickMenuDelayMs);
        break;
    default:
        break;
    }
}

void CopyTrayTip(std::string_view tip, std::span<char> field)
{
    if (field.empty())
        return;
    const std::size_t length = std::min(tip.size(), field.size() - 1);
    std::copy_n(tip.begin(), length, field.begin());
    std::fill(field.begin() + static_cast<std::ptrdiff_t>(length), field.end(), '\0');
}
