#pragma once
// In-process UI scripting for the agent's Windows tests. The code under test runs modal
// loops on the test's own thread (dialogs, message boxes, the popup menu, the agent's message
// loop); a thread timer keeps firing inside all of them, so the script's steps run there,
// each polled until it reports done, each within a bounded time.
#include <windows.h>

#include <functional>
#include <string>
#include <string_view>
#include <vector>

class AgentUiScript {
public:
    using Step = std::function<bool()>; // true: done, go on with the next step

    // Steps should post rather than send anything that opens a modal window, so that the
    // timer procedure never waits inside one.
    AgentUiScript& Then(std::string name, Step step);
    // A step that runs once.
    AgentUiScript& Do(std::string name, std::function<void()> action);

    // Runs body (which enters a loop of the code under test) while the steps run. When a
    // step is not done within stepTimeoutMs, the script closes what it can (menus, dialogs,
    // message boxes, finally the message loop) so that body returns, and reports the step.
    // Returns the name of the step that timed out, or empty when all completed.
    std::string Run(const std::function<void()>& body, DWORD stepTimeoutMs = 10000);

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
    void Tick();
    void Unwind();

    struct Entry {
        std::string name;
        Step step;
    };
    std::vector<Entry> m_steps;
    std::size_t m_next = 0;
    DWORD m_stepStarted = 0;
    DWORD m_timeout = 0;
    std::string m_failed;
    bool m_inTick = false;
    bool m_bodyDone = false;
    int m_unwindTicks = 0;
};

// The visible top-level dialog (or message box) of this thread with this caption, or null.
HWND FindThreadDialog(std::string_view caption);
// All visible top-level windows of this thread with the class name.
std::vector<HWND> ThreadWindowsOfClass(std::string_view className);
// The open popup menu of this thread, or null.
HWND FindPopupMenu();
// The texts of a dialog's static controls, joined with "|".
std::string DialogTexts(HWND dialog);
// A button click, posted as the button's notification.
void PostButton(HWND dialog, int id);
// The text of a message box (its static 0xFFFF).
std::string MessageBoxText(HWND box);

// Pumps messages until condition holds or timeoutMs passes; the condition's last value.
bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs = 10000);

// The folder of the test program, without a trailing separator.
std::string TestProgramFolder();
// A fresh empty folder for files of one test.
std::string MakeTempFolder();
void WriteTextFile(const std::string& path, const std::string& text);
std::string ReadTextFile(const std::string& path);
