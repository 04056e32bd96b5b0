#include "UiScript.h"

#include <utility>

namespace {
UiScript* g_active = nullptr;
constexpr UINT kTickMilliseconds = 15;
// The id the system gives a message box's text.
constexpr int kMessageBoxTextId = 0xFFFF;

std::string ClassOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

BOOL CALLBACK CollectDialog(HWND window, LPARAM found)
{
    if (ClassOf(window) == "#32770")
        reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}
bool AnyVisible(const std::vector<HWND>& windows)
{
    for (HWND window : windows) {
        if (IsWindowVisible(window))
            return true;
    }
    return false;
}
} // namespace

UiScript::UiScript(std::chrono::milliseconds stepTimeout) : m_stepTimeout(stepTimeout) {}

UiScript::~UiScript()
{
    Stop();
}

UiScript& UiScript::Then(std::string description, Step step)
{
    m_steps.push_back({std::move(description), std::move(step)});
    return *this;
}

void UiScript::Start()
{
    g_active = this;
    m_stepStarted = std::chrono::steady_clock::now();
    m_timer = SetTimer(nullptr, 0, kTickMilliseconds, &UiScript::Tick);
}

std::string UiScript::Failure() const
{
    if (!m_failure.empty())
        return m_failure;
    if (m_next < m_steps.size())
        return "never reached: " + m_steps[m_next].description;
    return {};
}

void CALLBACK UiScript::Tick(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_active)
        g_active->RunDueStep();
}

void UiScript::RunDueStep()
{
    // A step may run a nested loop (SendMessage into a dialog); its ticks wait their turn.
    if (m_running)
        return;
    m_running = true;
    if (m_abandoned) {
        for (HWND dialog : ThreadDialogs())
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        if (ThreadDialogs().empty())
            Stop();
    } else if (m_next < m_steps.size()) {
        bool done = false;
        try {
            done = m_steps[m_next].step();
        } catch (...) {
            Abandon("step threw: " + m_steps[m_next].description);
        }
        if (done) {
            ++m_next;
            m_stepStarted = std::chrono::steady_clock::now();
        } else if (!m_abandoned && std::chrono::steady_clock::now() - m_stepStarted > m_stepTimeout) {
            Abandon("timed out: " + m_steps[m_next].description);
        }
    } else {
        // Every step ran; the modal call should now be returning, with its windows gone.
        if (!AnyVisible(ThreadDialogs()))
            Stop();
        else if (std::chrono::steady_clock::now() - m_stepStarted > m_stepTimeout)
            Abandon("a dialog stayed open after the last step");
    }
    m_running = false;
}

void UiScript::Abandon(std::string reason)
{
    m_failure = std::move(reason);
    m_abandoned = true;
}

void UiScript::Stop()
{
    if (m_timer) {
        KillTimer(nullptr, m_timer);
        m_timer = 0;
    }
    if (g_active == this)
        g_active = nullptr;
}

std::vector<HWND> ThreadDialogs()
{
    std::vector<HWND> found;
    EnumThreadWindows(GetCurrentThreadId(), &CollectDialog, reinterpret_cast<LPARAM>(&found));
    return found;
}

HWND FindThreadDialog(const std::string& caption)
{
    for (HWND dialog : ThreadDialogs()) {
        if (IsWindowVisible(dialog) && TextOf(dialog) == caption)
            return dialog;
    }
    return nullptr;
}

std::string TextOf(HWND window)
{
    const LRESULT length = SendMessageA(window, WM_GETTEXTLENGTH, 0, 0);
    if (length <= 0)
        return {};
    std::string text(static_cast<size_t>(length) + 1, '\0');
    const LRESULT copied =
        SendMessageA(window, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(text.data()));
    text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
    return text;
}

std::string ItemText(HWND dialog, int id)
{
    const HWND item = GetDlgItem(dialog, id);
    return item ? TextOf(item) : std::string();
}

bool IsChecked(HWND dialog, int id)
{
    return IsDlgButtonChecked(dialog, id) == BST_CHECKED;
}

void PostClick(HWND dialog, int id)
{
    PostMessageA(GetDlgItem(dialog, id), BM_CLICK, 0, 0);
}

MessageBoxView ReadMessageBox(HWND box)
{
    MessageBoxView view;
    view.window = box;
    view.owner = GetWindow(box, GW_OWNER);
    view.text = ItemText(box, kMessageBoxTextId);
    for (HWND child = GetWindow(box, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        const std::string kind = ClassOf(child);
        const LONG_PTR style = GetWindowLongPtrA(child, GWL_STYLE);
        if (kind == "Button" && (style & WS_VISIBLE))
            view.buttons.push_back(GetDlgCtrlID(child));
        else if (kind == "Static" && (style & SS_TYPEMASK) == SS_ICON)
            view.icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
    }
    return view;
}
