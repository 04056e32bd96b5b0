#include "AgentUiScript.h"

#include <fstream>
#include <sstream>

namespace {

AgentUiScript* g_running = nullptr;
constexpr UINT kTickMs = 15;

std::string ClassNameOf(HWND window)
{
    char name[64] = {};
    GetClassNameA(window, name, sizeof(name));
    return name;
}

std::string TextOf(HWND window)
{
    std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
    text.resize(static_cast<size_t>(GetWindowTextA(window, text.data(), static_cast<int>(text.size()))));
    return text;
}

} // namespace

AgentUiScript& AgentUiScript::Then(std::string name, Step step)
{
    m_steps.push_back({std::move(name), std::move(step)});
    return *this;
}

AgentUiScript& AgentUiScript::Do(std::string name, std::function<void()> action)
{
    return Then(std::move(name), [action = std::move(action)] {
        action();
        return true;
    });
}

std::string AgentUiScript::Run(const std::function<void()>& body, DWORD stepTimeoutMs)
{
    m_timeout = stepTimeoutMs;
    m_next = 0;
    m_failed.clear();
    m_bodyDone = false;
    m_stepStarted = GetTickCount();
    g_running = this;
    const UINT_PTR timer = SetTimer(nullptr, 0, kTickMs, &AgentUiScript::OnTimer);
    body();
    m_bodyDone = true;
    // Steps left after the body returned (checks on what it left behind) run here.
    PumpUntil([this] { return m_next >= m_steps.size() || !m_failed.empty(); }, stepTimeoutMs);
    KillTimer(nullptr, timer);
    g_running = nullptr;
    if (m_failed.empty() && m_next < m_steps.size())
        m_failed = m_steps[m_next].name;
    return m_failed;
}

void CALLBACK AgentUiScript::OnTimer(HWND, UINT, UINT_PTR, DWORD)
{
    if (g_running)
        g_running->Tick();
}

void AgentUiScript::Tick()
{
    // A step that (against the rule) entered a modal loop must not be run again from inside it.
    if (m_inTick)
        return;
    m_inTick = true;
    if (!m_failed.empty()) {
        Unwind();
    } else if (m_next < m_steps.size()) {
        if (m_steps[m_next].step()) {
            ++m_next;
            m_stepStarted = GetTickCount();
        } else if (GetTickCount() - m_stepStarted > m_timeout) {
            m_failed = m_steps[m_next].name;
            m_unwindTicks = 0;
        }
    }
    m_inTick = false;
}

void AgentUiScript::Unwind()
{
    if (m_bodyDone)
        return;
    EndMenu();
    for (HWND dialog : ThreadWindowsOfClass("#32770")) {
        PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        PostMessageA(dialog, WM_COMMAND, IDNO, 0);
        PostMessageA(dialog, WM_COMMAND, IDOK, 0);
    }
    // Once the dialogs had their chance, the agent's own loop is ended too.
    if (++m_unwindTicks == 20)
        PostQuitMessage(0);
}

HWND FindThreadDialog(std::string_view caption)
{
    for (HWND window : ThreadWindowsOfClass("#32770")) {
        if (TextOf(window) == caption)
            return window;
    }
    return nullptr;
}

namespace {

struct WindowSearch {
    std::string_view className;
    std::vector<HWND> found;
};

BOOL CALLBACK CollectWindowOfClass(HWND window, LPARAM parameter)
{
    auto& search = *reinterpret_cast<WindowSearch*>(parameter);
    if (IsWindowVisible(window) && ClassNameOf(window) == search.className)
        search.found.push_back(window);
    return TRUE;
}

} // namespace

std::vector<HWND> ThreadWindowsOfClass(std::string_view className)
{
    WindowSearch search{className, {}};
    EnumThreadWindows(GetCurrentThreadId(), &CollectWindowOfClass, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND FindPopupMenu()
{
    // The menu window belongs to the desktop's thread on some systems: search globally.
    HWND menu = FindWindowA("#32768", nullptr);
    return menu && IsWindowVisible(menu) ? menu : nullptr;
}

std::string DialogTexts(HWND dialog)
{
    std::string texts;
    for (HWND child = GetWindow(dialog, GW_CHILD); child; child = GetWindow(child, GW_HWNDNEXT)) {
        if (ClassNameOf(child) != "Static")
            continue;
        const std::string text = TextOf(child);
        if (text.empty())
            continue;
        if (!texts.empty())
            texts += '|';
        texts += text;
    }
    return texts;
}

void PostButton(HWND dialog, int id)
{
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(dialog, id)));
}

std::string MessageBoxText(HWND box)
{
    return TextOf(GetDlgItem(box, 0xFFFF));
}

bool PumpUntil(const std::function<bool()>& condition, DWORD timeoutMs)
{
    const DWORD start = GetTickCount();
    for (;;) {
        if (condition())
            return true;
        if (GetTickCount() - start > timeoutMs)
            return false;
        MSG msg;
        while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
}

std::string TestProgramFolder()
{
    char path[MAX_PATH * 4] = {};
    const DWORD length = GetModuleFileNameA(nullptr, path, sizeof(path));
    std::string folder(path, length);
    return folder.substr(0, folder.find_last_of("\\/"));
}

std::string MakeTempFolder()
{
    char base[MAX_PATH] = {};
    GetTempPathA(sizeof(base), base);
    static int counter = 0;
    const std::string folder =
        std::string(base) + "agenttest-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    CreateDirectoryA(folder.c_str(), nullptr);
    return folder;
}

void WriteTextFile(const std::string& path, const std::string& text)
{
    std::ofstream(path, std::ios::binary | std::ios::trunc) << text;
}

std::string ReadTextFile(const std::string& path)
{
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}
