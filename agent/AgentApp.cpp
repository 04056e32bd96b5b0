#include "agent/AgentApp.h"

#include "agent/TrayIcon.h"
#include "agent/TrayLogic.h"
#include "agent/TrayWindow.h"
#include "discovery/BusLibrary.h"
#include "framework/MessageBox.h"
#include "platform/Program.h"
#include "platform/Window.h"
#include "resources/resource.h"

#include <string>

namespace {

constexpr char kDriverSetupProgram[] = "SerilaneSetup.exe";

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
    case MessageKind::Error:
        return MB_OK | MB_ICONERROR;
    }
    return MB_OK;
}

// The setup starts in the agent's folder and is not waited for. Without a known folder nothing
// is started from an unknown place.
bool StartDriverSetup()
{
    const std::optional<std::string> folder = program::Folder();
    const std::optional<std::string> setup = program::Beside(kDriverSetupProgram);
    if (!folder || !setup)
        return false;
    STARTUPINFOA startup{}; // all defaults; only the size the system requires
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(setup->c_str(), nullptr, nullptr, nullptr, FALSE, NORMAL_PRIORITY_CLASS, nullptr,
                        folder->c_str(), &startup, &process))
        return false;
    const scoped::KernelHandle processHandle(process.hProcess);
    const scoped::KernelHandle threadHandle(process.hThread);
    return true;
}

} // namespace

AgentApp::AgentApp(RegistryProfileBackend& profile, HINSTANCE instance)
    : Application(profile, instance), m_profile(profile)
{
}

AgentApp* AgentApp::Current() noexcept
{
    return dynamic_cast<AgentApp*>(Application::Current());
}

void AgentApp::InitInstance()
{
    StartAgent();
}

int AgentApp::ExitInstance()
{
    return ExitAgent();
}

bool AgentApp::StartAgent()
{
    return ::StartAgent(*this, Profile());
}

int AgentApp::ExitAgent()
{
    return ::ExitAgent(*this, Profile(), ToWindowValue(trayWindow), Application::ExitInstance());
}

void AgentApp::ShowTrayMenu()
{
    // Where the user clicked, before anything can move the pointer on.
    POINT cursor{};
    GetCursorPos(&cursor);
    if (menuShowing)
        return;
    popupMenu.Reset();
    popupMenu = BuildTrayMenu();
    // The window lies off-screen; showing it only lets it take the foreground, without which
    // the menu would not close when the user clicks elsewhere.
    ShowWindow(trayWindow, SW_SHOWNORMAL);
    SetForegroundWindow(trayWindow);
    menuShowing = 1;
    SendMessageA(trayWindow, WM_NULL, 0, 0);
    // A chosen item arrives later as a command message.
    TrackPopupMenu(popupMenu.Get(), TPM_RIGHTBUTTON | TPM_RIGHTALIGN | TPM_BOTTOMALIGN, cursor.x, cursor.y, 0,
                   trayWindow, nullptr);
    // A message after the menu ends its hold on the window; without it the next menu can
    // close the moment it opens.
    SendMessageA(trayWindow, WM_NULL, 0, 0);
    ShowWindow(trayWindow, SW_HIDE);
    menuShowing = 0;
}

void AgentApp::RestoreTrayIcon()
{
    if (!trayWindow)
        return;
    LoadTrayIcon();
    AddTrayIcon();
}

bool AgentApp::DriverMissingAtomExists()
{
    return GlobalFindAtomA(kDriverMissingAtom) != 0;
}

void AgentApp::AddDriverMissingAtom()
{
    GlobalAddAtomA(kDriverMissingAtom);
}

void AgentApp::SetRegistryKey(std::string_view company)
{
    m_profile.SetRegistryKey(company);
}

void AgentApp::WaitForStartupMutex()
{
    m_startupMutex.Reset(CreateMutexA(nullptr, FALSE, kStartupMutexName));
    if (m_startupMutex)
        WaitForSingleObject(m_startupMutex.Get(), INFINITE);
}

void AgentApp::ReleaseStartupMutex()
{
    ReleaseMutex(m_startupMutex.Get());
}

std::optional<std::string> AgentApp::WindowText(WindowValue value)
{
    const HWND window = ToWindow(value);
    if (value == 0 || !IsWindow(window))
        return std::nullopt;
    return window::Text(window);
}

void AgentApp::Enable3dControls()
{
    Application::Enable3dControls();
}

bool AgentApp::BindBusLibrary()
{
    return ::BindBusLibrary() == 1;
}

bool AgentApp::BusLibraryIsForOtherArchitecture()
{
    return ::BusLibraryIsForOtherArchitecture();
}

void AgentApp::UnbindBusLibrary()
{
    ::UnbindBusLibrary();
}

MessageAnswer AgentApp::ShowMessage(std::string_view text, MessageKind kind)
{
    const int button = ShowMessageBox(nullptr, std::string(text), kAgentCaption, MessageBoxType(kind));
    if (button == IDYES)
        return MessageAnswer::Yes;
    return button == IDNO ? MessageAnswer::No : MessageAnswer::Ok;
}

bool AgentApp::LaunchDriverSetup()
{
    if (StartDriverSetup())
        return true;
    ShowMessageBox(nullptr, kDriverSetupFailed, kAgentCaption, MB_OK | MB_ICONWARNING);
    return false;
}

WindowValue AgentApp::CreateTrayWindow()
{
    WNDCLASSA windowClass{};
    windowClass.style = 0;
    windowClass.lpfnWndProc = &TrayWindowProc;
    windowClass.hInstance = Instance();
    windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    windowClass.lpszClassName = kTrayWindowName;
    RegisterClassA(&windowClass);
    LoadTrayIcon();
    trayWindow = CreateWindowExA(WS_EX_TOOLWINDOW, kTrayWindowName, kTrayWindowName, WS_POPUP, -100, -100, 10, 10,
                                 GetDesktopWindow(), nullptr, Instance(), nullptr);
    return ToWindowValue(trayWindow);
}

void AgentApp::LoadTrayIcon()
{
    // A private copy at the small icon size, so that destroying it after the add is right.
    m_trayIcon.Reset(static_cast<HICON>(LoadImageA(Instance(), MAKEINTRESOURCEA(IDI_TRAY), IMAGE_ICON,
                                                   GetSystemMetrics(SM_CXSMICON), GetSystemMetrics(SM_CYSMICON), 0)));
}

void AgentApp::AddTrayIcon()
{
    ::AddTrayIcon(trayWindow, kTrayIconId, std::move(m_trayIcon), kTrayTip);
}

int AgentApp::RunMessageLoop()
{
    return Application::RunMessageLoop();
}

void AgentApp::DestroyTrayWindow()
{
    popupMenu.Reset();
    RemoveTrayIcon(trayWindow, kTrayIconId);
    // A class cannot be unregistered while a window of it exists.
    if (trayWindow)
        DestroyWindow(trayWindow);
    UnregisterClassA(kTrayWindowName, Instance());
}
