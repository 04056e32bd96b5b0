#pragma once
// Drives this thread's own modal windows as a user would while a test sits in a call of the
// code under test that runs a loop of its own (DoModal, a message box, the popup menu, the
// agent's message loop): a thread timer keeps firing inside all of them, so the script's steps
// run there, one after another, each polled until it reports done and each within a bounded
// time. When a step does not come, the script closes what it can (menus, dialogs, message
// boxes, finally the loop) so that the call returns and the test can say which step it was.
#include "tests/support/uidriver/Dialogs.h"
#include "tests/support/uidriver/Wait.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace uidriver {

class UiScript {
public:
    // True once the step has done its work; false to be asked again on the next tick. Steps
    // post rather than send anything that opens a modal window, so that no tick waits in one.
    using Step = std::function<bool()>;

    explicit UiScript(Milliseconds stepTimeout = std::chrono::seconds(10));
    ~UiScript();
    UiScript(const UiScript&) = delete;
    UiScript& operator=(const UiScript&) = delete;

    UiScript& Then(std::string description, Step step);
    // A step that runs once.
    UiScript& Do(std::string description, std::function<void()> action);

    // Runs `body` while the steps run, then lets the steps left after it returned run too.
    // Empty when every step ran and `body` returned in time; otherwise what went wrong.
    std::string Run(const std::function<void()>& body);

private:
    static void CALLBACK OnTimer(HWND, UINT, UINT_PTR, DWORD);
    void Tick();
    void Fail(std::string reason);
    void Unwind();

    struct Entry {
        std::string description;
        Step step;
    };
    std::vector<Entry> m_steps;
    std::size_t m_next = 0;
    Milliseconds m_stepTimeout;
    std::chrono::steady_clock::time_point m_stepStarted;
    std::string m_failure;
    bool m_inTick = false;
    bool m_bodyDone = false;
    int m_unwindTicks = 0;
    bool m_quitPosted = false;
};

// A step: once this thread's dialog captioned `caption` shows, `act` runs on it, once.
UiScript::Step OnDialog(std::string caption, std::function<void(HWND)> act);

// A step: this thread's message box captioned `caption` is read into `seen` and answered OK.
UiScript::Step AnswerMessageBox(std::string caption, MessageBoxView& seen);

// Every dialog (and message box) of this thread, visible or not.
std::vector<HWND> ThreadDialogs();

// Pumps this thread's messages until the condition holds or the time is up; its last value.
bool PumpUntil(const std::function<bool()>& condition, Milliseconds timeout = std::chrono::seconds(10));

} // namespace uidriver
