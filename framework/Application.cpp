#include "framework/Application.h"

#include "platform/Program.h"

#include <commctrl.h>

#include <stdexcept>
#include <utility>

namespace {
Application* g_current = nullptr;
} // namespace

Application::Application(ProfileBackend& backend, HINSTANCE instance) : Application(backend, instance, program::Name())
{
}

Application::Application(ProfileBackend& backend, HINSTANCE instance, std::string title)
    : m_instance(instance), m_title(std::move(title)), m_profile(backend), m_previous(g_current)
{
    g_current = this;
}

Application::~Application()
{
    if (g_current == this)
        g_current = m_previous;
}

Application* Application::Current() noexcept
{
    return g_current;
}

int Application::Run()
{
    try {
        InitInstance();
    } catch (...) {
        // Start-up failed; the exit step below still undoes what was done.
    }
    try {
        return ExitInstance();
    } catch (...) {
        return 1;
    }
}

int Application::RunMessageLoop()
{
    MSG msg{};
    for (;;) {
        const BOOL result = GetMessageA(&msg, nullptr, 0, 0);
        if (result == 0) {
            m_quitCode = static_cast<int>(msg.wParam);
            return m_quitCode;
        }
        if (result == -1)
            return m_quitCode;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

void Application::Enable3dControls()
{
    INITCOMMONCONTROLSEX controls{};
    controls.dwSize = sizeof(controls);
    controls.dwICC = ICC_WIN95_CLASSES | ICC_STANDARD_CLASSES;
    InitCommonControlsEx(&controls);
}

void Application::InitInstance() {}

int Application::ExitInstance()
{
    return m_quitCode;
}

Application& TheApplication()
{
    if (!g_current)
        throw std::logic_error("no application object");
    return *g_current;
}
