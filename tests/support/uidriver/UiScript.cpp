#include "tests/support/uidriver/UiScript.h"

#include "tests/support/uidriver/WindowQuery.h"

#include <utility>

namespace uidriver {

namespace {

UiScript* g_running = nullptr;
constexpr UINT kTickMilliseconds = 15;
// Ticks of unwinding the dialogs get before the loop of the code under test is ended too.
constexpr int kTicksBeforeQuit = 20;

BOOL CALLBACK CollectDialog(HWND window, LPARAM found)
{
    if (ClassOf(window) == kDialogClass)
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

} // namespace

UiScript::UiScript(Milliseconds stepTimeout) : m_stepTimeout(stepTimeout) {}

UiScript::~UiScript()
{
    if (g_running == this)
        g_running = nullptr;
}

UiScript& UiScript::Then(std::string description, Step step)
{
    m_steps.push_back({std::move(description), std::move(step)});
    return *this;
}

UiScript& UiScript::Do(std::string description, std::function<void()> action)
{
    return Then(std::move(description), [action = std::move(action)] {
        action();
        return true;
    });
}

std::string UiScript::Run(const std::function<void()>& body)
{
    m_next = 0;
    m_failure.clear();
    m_bodyDone = false;
    m_quitPosted = false;
    m_stepStarted = std::chrono::steady_clock::now();
    g_running = this;
    const UINT_PTR timer = SetTimer(nullptr, 0, kTickMilliseconds, &UiScript::OnTimer);
    body();
    m_bodyDone = true;
    // Steps that check what the body left behind run here.
    PumpUntil([this] { return m_next >= m_steps.size() || !m_failure.empty(); }, m_stepTimeout);
    KillTimer(nullptr, timer);
    g_running = nullptr;
    // A quit posted to end the body must not end the next test's loop as well.
    MSG quit;
    if (m_quitPosted)
        PeekMessageA(&quit, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
    if (m_failure.empty() && m_next < m_steps.size())
        m_failure = "never reached: " + m_steps[m_next].description;
    return m_failure;
}

void CALLBACK UiScript::OnTimer(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_running)
        g_running->Tick();
}

void UiScript::Tick()
{
    // A step may run a nested loop (SendMessage into a dialog); its ticks wait their turn.
    if (m_inTick)
        return;
    m_inTick = true;
    const bool overdue = std::chrono::steady_clock::now() - m_stepStarted > m_stepTimeout;
    if (!m_failure.empty()) {
        Unwind();
    } else if (m_next < m_steps.size()) {
        bool done = false;
        try {
            done = m_steps[m_next].step();
        } catch (...) {
            Fail("step threw: " + m_steps[m_next].description);
        }
        if (done) {
            ++m_next;
            m_stepStarted = std::chrono::steady_clock::now();
        } else if (m_failure.empty() && overdue) {
            Fail("timed out: " + m_steps[m_next].description);
        }
    } else if (!m_bodyDone && overdue) {
        Fail("the code under test did not return after the last step");
    }
    m_inTick = false;
}

void UiScript::Fail(std::string reason)
{
    m_failure = std::move(reason);
    m_unwindTicks = 0;
}

void UiScript::Unwind()
{
    if (m_bodyDone)
        return;
    EndMenu();
    for (HWND dialog : ThreadDialogs()) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        PostMessageA(dialog, WM_COMMAND, IDNO, 0);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    }
    if (++m_unwindTicks == kTicksBeforeQuit) {
        PostQuitMessage(0);
        m_quitPosted = true;
    }
}

std::vector<HWND> ThreadDialogs()
{
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), &CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

bool PumpUntil(const std::function<bool()>& condition, Milliseconds timeout)
{
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        if (condition())
            return true;
        if (std::chrono::steady_clock::now() > deadline)
            return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

UiScript::Step OnDialog(std::string caption, std::function<void(HWND)> act)
{
    return [caption = std::move(caption), act = std::move(act)] {
        const HWND window = FindThreadDialog(caption);
        if (!window)
            return false;
        act(window);
        return true;
    };
}

UiScript::Step AnswerMessageBox(std::string caption, MessageBoxView& seen)
{
    return OnDialog(std::move(caption), [&seen](HWND box) {
        seen = ReadMessageBox(box);
        PostButtonPress(box, IDOK);
    });
}

} // namespace uidriver
