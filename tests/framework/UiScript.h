#pragma once
// Drives this thread's own modal windows as a user would while a test sits in a modal call
// (DoModal, a message box): a thread timer runs the steps one after another, each step
// retried on every tick until it reports done. Every step has a deadline; when one passes,
// the script cancels every dialog of the thread so that the modal call returns and the test
// can report which step never happened.
#include <windows.h>

#include <chrono>
#include <functional>
#include <string>
#include <vector>

class UiScript {
public:
    // True once the step has done its work; false to be asked again on the next tick.
    using Step = std::function<bool()>;

    explicit UiScript(std::chrono::milliseconds stepTimeout = std::chrono::seconds(10));
    ~UiScript();
    UiScript(const UiScript&) = delete;
    UiScript& operator=(const UiScript&) = delete;

    UiScript& Then(std::string description, Step step);

    // Starts the ticks; they run inside whatever message loop the thread enters next.
    void Start();

    // After the modal call: empty when every step ran, otherwise what was still awaited.
    std::string Failure() const;

private:
    static void CALLBACK Tick(HWND, UINT, UINT_PTR, DWORD);
    void RunDueStep();
    void Abandon(std::string reason);
    void Stop();

    struct Entry {
        std::string description;
        Step step;
    };
    std::vector<Entry> m_steps;
    std::size_t m_next = 0;
    std::chrono::milliseconds m_stepTimeout;
    std::chrono::steady_clock::time_point m_stepStarted;
    UINT_PTR m_timer = 0;
    bool m_running = false;
    bool m_abandoned = false;
    std::string m_failure;
};

// Visible top-level dialog (class #32770) of this thread with exactly this caption, or null.
HWND FindThreadDialog(const std::string& caption);
// Every dialog of this thread, visible or not.
std::vector<HWND> ThreadDialogs();

std::string TextOf(HWND window);
std::string ItemText(HWND dialog, int id);
bool IsChecked(HWND dialog, int id);
// A posted BM_CLICK: the control toggles (check boxes) and notifies the dialog, later, from
// the loop, so that a modal window it opens does not block the step.
void PostClick(HWND dialog, int id);

struct MessageBoxView {
    HWND window = nullptr;
    HWND owner = nullptr;
    std::string text;
    std::vector<int> buttons;   // ids of the push buttons, in creation order
    HICON icon = nullptr;       // the picture shown, null for none
};
MessageBoxView ReadMessageBox(HWND box);
