#pragma once
// What the hidden tray window does with each message it receives, decided without Windows:
// the window procedure hands every message here and performs the actions on the host.
#include <cstdint>
#include <span>
#include <string_view>

inline constexpr unsigned kTrayIconId = 128;
inline constexpr unsigned kTrayCallbackMessage = 7030;
inline constexpr std::uintptr_t kMenuTimerId = 5;
inline constexpr unsigned kRightClickMenuDelayMs = 50;

// The messages the tray window tells apart; their values are the platform's.
inline constexpr unsigned kMsgClose = 0x0010;
inline constexpr unsigned kMsgCommand = 0x0111;
inline constexpr unsigned kMsgTimer = 0x0113;
inline constexpr unsigned kMsgLeftButtonDown = 0x0201;
inline constexpr unsigned kMsgLeftButtonDoubleClick = 0x0203;
inline constexpr unsigned kMsgRightButtonDown = 0x0204;

enum class TrayCommand : unsigned {
    Logon = 1025,
    Exit = 1026,
    PortOptions = 1027,
    About = 1028,
    AccessUrl = 1029,
};

// One row of the popup menu; a separator has no command and no text.
struct TrayMenuEntry {
    unsigned command;
    std::string_view text;
    bool IsSeparator() const { return command == 0; }
};

// The popup menu in display order; its first entry is the default item.
std::span<const TrayMenuEntry> TrayMenuEntries();
inline constexpr TrayCommand kDefaultTrayCommand = TrayCommand::Logon;

// The window procedure's effects on the world.
class TrayHost {
public:
    virtual ~TrayHost() = default;
    virtual void StartMenuTimer(unsigned delayMs) = 0;
    virtual void StopMenuTimer() = 0;
    virtual unsigned DoubleClickTime() = 0;
    virtual void ShowTrayMenu() = 0;
    // Delivers the command to the tray window synchronously (it re-enters HandleMessage).
    virtual void SendCommandToSelf(TrayCommand command) = 0;
    // Serves one command: a modal dialog, or the quit request.
    virtual void RunCommand(TrayCommand command) = 0;
    // Asks the message loop to end (the quit message with code 0).
    virtual void PostQuit() = 0;
};

enum class TrayReply {
    DefaultProcessing, // the caller passes the message on to default processing
    Handled,           // the caller returns 1 without default processing
};

// The re-entrancy guard lives here: while a command is served (a modal dialog runs its own
// loop on this thread), every message, icon clicks included, only gets default processing.
class TrayWindowLogic {
public:
    TrayReply HandleMessage(TrayHost& host, unsigned message, std::uintptr_t wParam, std::intptr_t lParam);
    bool InCommand() const { return m_inCommand != 0; }

private:
    void ServeCommand(TrayHost& host, std::uintptr_t wParam);
    static void HandleIconMouse(TrayHost& host, unsigned mouseMessage);

    int m_inCommand = 0;
};

// Copies a tooltip into the shell's fixed field: at most size - 1 bytes and a terminator.
void CopyTrayTip(std::string_view tip, std::span<char> field);
