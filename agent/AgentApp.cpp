#include "agent/AgentApp.h"

#include "agent/AgentLifecycle.h"
#include "agent/TrayIcon.h"
#include "agent/TrayLogic.h"
#include "agent/TrayWindow.h"
#include "discovery/BusLibrary.h"
#include "framework/MessageBox.h"

#include <string>

namespace {

// Window handles carry 32 significant bits, which is what the profile stores.
WindowValue ToWindowValue(HWND window)
{
    return static_cast<WindowValue>(reinterpret_cast<INT_PTR>(window));
}

HWND ToWindow(WindowValue value)
{
    return reinterpret_cast<HWND>(static_cast<INT_PTR>(value));
}

UINT MessageBoxType(MessageKind kind)
{
    switch (kind) {
    case MessageKind::Question:
        return MB_YESNO | MB_ICONQUESTION;
    case MessageKind::Information:
        return MB_OK | MB_ICONINFORMATION;
    case MessageKind::Warning:
        return MB_OK | MB_ICONWARNING;
    case MessageKind::Error:
        return MB_OK | MB_ICONERROR;
    }
    return MB_OK;
}

const std::string kTrayWindowNameText(kTrayWindowName);

} // namespace

// The system operations of start-up and exit, on this application's handles.
class AgentApp::Platform final : public AgentPlatform {
public:
    explicit Platform(AgentApp& app) : m_app(app) {}

    bool DriverMissingAtomExists() override
    {
        return GlobalFindAtomA(std::string(kDriverMissingAtom).c_str()) != 0;
    }
    void AddDriverMissingAtom() override { GlobalAddAtomA(std::string(kDriverMissingAtom).c_str()); }
    void SetRegistryKey(std::string_view company) override { m_app.m_profile.SetRegistryKey(company); }
    ProfileStore& Profile() override { return m_app.Profile(); }

    void WaitForStartupMutex() override
    {
        m_app.m_startupMutex.Reset(CreateMutexA(nullptr, FALSE, std::string(kStartupMutexName).c_str()));
        if (m_app.m_startupMutex)
            WaitForSingleObject(m_app.m_startupMutex.Get(), INFINITE);
    }
    void ReleaseStartupMutex() override { ReleaseMutex(m_app.m_startupMutex.Get()); }

    std::optional<std::string> WindowText(WindowValue value) override
    {
        const HWND window = ToWindow(value);
        if (value == 0 || !IsWindow(window))
            return std::nullopt;
        std::string text(static_cast<size_t>(GetWindowTextLengthA(window)) + 1, '\0');
        const int copied = GetWindowTextA(window, text.data(), static_cast<int>(text.size()));
        text.resize(static_cast<size_t>(copied > 0 ? copied : 0));
        return text;
    }

    void Enable3dControls() override { Application::Enable3dControls(); }
    bool BindBusLibrary() override { return ::BindBusLibrary() == 1; }
    bool BusLibraryIsForOtherArchitecture() override { return ::BusLibraryIsForOtherArchitecture(); }
    void UnbindBusLibrary() override { ::UnbindBusLibrary(); }

    MessageAnswer ShowMessage(std::string_view text, std::string_view caption, MessageKind kind) override
    {
        const int button = ShowMessageBox(nullptr, std::string(text), std::string(caption), MessageBoxType(kind));
        if (button == IDYES)
            return MessageAnswer::Yes;
        return button == IDNO ? MessageAnswer::No : MessageAnswer::Ok;
    }
    bool DriverSetupLauncher() override { return ::DriverSetupLauncher(); }

    void RegisterTrayWindowClass() override
    {
        WNDCLASSA windowClass{};
        windowClass.style = 0;
        windowClass.lpfnWndProc = &TrayWindowProc;
        windowClass.hInstance = m_app.Instance();
        windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
        windowClass.lpszClassName = kTrayWindowNameText.c_str();
        RegisterClassA(&windowClass);
    }
    void LoadTrayIcon() override
    {
        // A private copy at the small icon size, so that destroying it after the add is right.
        m_app.m_trayIcon.Reset(static_cast<HICON>(LoadImageA(m_app.Instance(), MAKEINTRESOURCEA(kTrayIconResource),
                                                              IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                                                              GetSystemMetrics(SM_CYSMICON), 0)));
    }
    WindowValue CreateTrayWindow() override
    {
        m_app.trayWindow = CreateWindowExA(WS_EX_TOOLWINDOW, kTrayWindowNameText.c_str(), kTrayWindowNameText.c_str(),
                                           WS_POPUP, -100, -100, 10, 10, GetDesktopWindow(), nullptr,
                                           m_app.Instance(), nullptr);
        return ToWindowValue(m_app.trayWindow);
    }
    WindowValue TrayWindowValue() override { return ToWindowValue(m_app.trayWindow); }
    void AddTrayIcon(std::string_view tip) override
    {
        ::AddTrayIcon(m_app.trayWindow, kTrayIconId, std::move(m_app.m_trayIcon), tip);
    }
    void RemoveTrayIcon() override { ::RemoveTrayIcon(m_app.trayWindow, kTrayIconId); }
    void DestroyTrayWindow() override
    {
        if (m_app.trayWindow)
            DestroyWindow(m_app.trayWindow);
    }
    void DestroyPopupMenu() override { m_app.popupMenu.Reset(); }
    void UnregisterTrayWindowClass() override { UnregisterClassA(kTrayWindowNameText.c_str(), m_app.Instance()); }
    int RunMessageLoop() override { return m_app.RunMessageLoop(); }

private:
    AgentApp& m_app;
};

AgentApp::AgentApp(RegistryProfileBackend& profile, HINSTANCE instance)
    : Application(profile, instance), m_profile(profile), m_platform(std::make_unique<Platform>(*this))
{
}

AgentApp::~AgentApp() = default;

AgentApp* AgentApp::Current() noexcept
{
    return dynamic_cast<AgentApp*>(Application::Current());
}

bool AgentApp::InitInstance()
{
    return StartAgent();
}

int AgentApp::ExitInstance()
{
    return ExitAgent();
}

bool AgentApp::StartAgent()
{
    return RunStartAgent(*m_platform);
}

int AgentApp::ExitAgent()
{
    return RunExitAgent(*m_platform, Application::ExitInstance());
}

void AgentApp::ShowTrayMenu()
{
    // 1. Where the user clicked, before anything can move the pointer on.
    POINT cursor{};
    GetCursorPos(&cursor);
    // 2.
    if (menuShowing)
        return;
    // 3.
    popupMenu.Reset();
    popupMenu = BuildTrayMenu();
    // 4. The window lies off-screen; showing it only lets it take the foreground, without
    // which the menu would not close when the user clicks elsewhere.
    ShowWindow(trayWindow, SW_SHOWNORMAL);
    SetForegroundWindow(trayWindow);
    // 5.
    menuShowing = 1;
    SendMessageA(trayWindow, WM_NULL, 0, 0);
    // 6. A chosen item arrives later as a command message.
    TrackPopupMenu(popupMenu.Get(), TPM_RIGHTBUTTON | TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x, cursor.y, 0,
                   trayWindow, nullptr);
    // 7.
    SendMessageA(trayWindow, WM_NULL, 0, 0);
    ShowWindow(trayWindow, SW_HIDE);
    menuShowing = 0;
}

void AgentApp::RestoreTrayIcon()
{
    if (!trayWindow)
        return;
    m_platform->LoadTrayIcon();
    m_platform->AddTrayIcon(kTrayTip);
}
