// uidriver.exe: the UI driver from the command line, for the demo and the measurement
// scripts (run it under Wine in the same prefix as the agent).
//
//   uidriver measure AGENT.EXE TRAYPROBE.EXE BROWSER.EXE RUNS   (AgentMeasurement.h)
//   uidriver wait-agent [SECONDS]         waits for the agent's hidden window, prints its styles
//   uidriver tray left|right|double       a click on the running agent's icon
//   uidriver menu DOWN-PRESSES|last       chooses an item of the open popup menu
//   uidriver wait-dialog TITLE [SECONDS]  waits for a visible dialog, prints its texts
//   uidriver press TITLE BUTTON-ID        presses a button of a visible dialog
//
// Every wait is bounded (SECONDS, 15 by default); every process started is ended on exit.
#include "tests/support/uidriver/AgentMeasurement.h"
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/ToolOutput.h"
#include "tests/support/uidriver/Process.h"
#include "tests/support/uidriver/TrayDriver.h"
#include "tests/support/uidriver/Wait.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <cstdio>
#include <string>
#include <vector>

using namespace uidriver;
using namespace std::chrono_literals;

namespace {

constexpr Milliseconds kDefaultTimeout = 15000ms;

Milliseconds SecondsArgument(const std::vector<std::string>& args, std::size_t index)
{
    if (index >= args.size())
        return kDefaultTimeout;
    const int seconds = std::atoi(args[index].c_str());
    return seconds > 0 ? Milliseconds(seconds * 1000) : kDefaultTimeout;
}

HWND FindDialog(DWORD processId, const std::function<bool(HWND)>& matches)
{
    for (HWND dialog : VisibleWindows(processId, kDialogClass)) {
        if (matches(dialog))
            return dialog;
    }
    return nullptr;
}

int WaitAgent(const std::vector<std::string>& args)
{
    HWND window = nullptr;
    if (!WaitFor([&] { return (window = FindAgentWindow()) != nullptr; }, SecondsArgument(args, 0)))
        return Fail("no agent window appeared");
    char line[128];
    std::snprintf(line, sizeof line, "agent window %p, style 0x%08lX, extended style 0x%08lX",
                  static_cast<void*>(window), static_cast<unsigned long>(GetWindowLongA(window, GWL_STYLE)),
                  static_cast<unsigned long>(GetWindowLongA(window, GWL_EXSTYLE)));
    Say(line);
    return kExitOk;
}

int Tray(const std::vector<std::string>& args)
{
    HWND window = FindAgentWindow();
    if (args.empty() || !window)
        return window ? kExitUsage : Fail("no agent is running");
    if (args[0] == "left")
        return PostTrayMouse(window, WM_LBUTTONDOWN) && PostTrayMouse(window, WM_LBUTTONUP) ? kExitOk : kExitFailed;
    if (args[0] == "right")
        return PostTrayMouse(window, WM_RBUTTONDOWN) && PostTrayMouse(window, WM_RBUTTONUP) ? kExitOk : kExitFailed;
    if (args[0] == "double")
        return PostTrayDoubleClick(window) ? kExitOk : kExitFailed;
    return kExitUsage;
}

int Menu(const std::vector<std::string>& args)
{
    if (args.empty())
        return kExitUsage;
    HWND menu = nullptr;
    if (!WaitFor([&] { return (menu = FindVisibleMenu()) != nullptr; }, kDefaultTimeout))
        return Fail("no popup menu is open");
    const bool chosen =
        args[0] == "last" ? ChooseLastMenuItem(menu) : ChooseMenuItemByDown(menu, std::atoi(args[0].c_str()));
    return chosen ? kExitOk : kExitFailed;
}

HWND WaitForTitledDialog(const std::string& title, Milliseconds timeout)
{
    HWND found = nullptr;
    WaitFor([&] { return (found = FindDialog(0, [&](HWND dialog) { return TextOf(dialog) == title; })) != nullptr; },
            timeout);
    return found;
}

int WaitDialog(const std::vector<std::string>& args)
{
    if (args.empty())
        return kExitUsage;
    HWND dialog = WaitForTitledDialog(args[0], SecondsArgument(args, 1));
    if (!dialog)
        return Fail("no dialog \"" + args[0] + "\"");
    for (const auto& text : StaticTexts(dialog)) {
        if (!text.empty())
            Say(text);
    }
    return kExitOk;
}

int Press(const std::vector<std::string>& args)
{
    if (args.size() < 2)
        return kExitUsage;
    HWND dialog = WaitForTitledDialog(args[0], kDefaultTimeout);
    if (!dialog)
        return Fail("no dialog \"" + args[0] + "\"");
    return PostButtonClick(dialog, std::atoi(args[1].c_str())) ? kExitOk : kExitFailed;
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> words(argv, argv + argc);
    if (words.size() < 2) {
        std::fprintf(stderr,
                     "usage: uidriver measure|wait-agent|tray|menu|wait-dialog|press ... (see the source header)\n");
        return kExitUsage;
    }
    const std::string command = words[1];
    const std::vector<std::string> args(words.begin() + 2, words.end());
    int result = kExitUsage;
    if (command == "measure")
        result = MeasureAgent(args, kDefaultTimeout);
    else if (command == "wait-agent")
        result = WaitAgent(args);
    else if (command == "tray")
        result = Tray(args);
    else if (command == "menu")
        result = Menu(args);
    else if (command == "wait-dialog")
        result = WaitDialog(args);
    else if (command == "press")
        result = Press(args);
    if (result == kExitUsage)
        std::fprintf(stderr, "uidriver: bad arguments for \"%s\" (see the source header)\n", command.c_str());
    return result;
}
