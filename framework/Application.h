#pragma once
// The one application object of a program: its module, its title, its settings profile and
// its start-up and exit steps. Dialogs and message boxes find it through Current().
#include "profile/ProfileStore.h"

#include <windows.h>

#include <string>

class Application {
public:
    // The title is the executable's base name without extension ("logonagent"); it names
    // the profile and captions the application's own message boxes.
    explicit Application(ProfileBackend& backend, HINSTANCE instance = GetModuleHandleA(nullptr));
    Application(ProfileBackend& backend, HINSTANCE instance, std::string title);
    // Constructing an application makes it the current one until it is destroyed, when the
    // one that was current before it returns.
    virtual ~Application();

    Application(const Application&) = delete;
    Application& operator=(const Application&) = delete;

    // The current application, or null when none has been constructed.
    static Application* Current() noexcept;

    HINSTANCE Instance() const noexcept { return m_instance; }
    const std::string& Title() const noexcept { return m_title; }
    ProfileStore& Profile() noexcept { return m_profile; }

    // Start-up, then the exit step in every case (also when start-up fails or throws); the
    // exit step's result is the process exit code.
    int Run();

    // Gets, translates and dispatches messages for every window of the thread until the quit
    // message arrives; returns and remembers its code.
    int RunMessageLoop();

    // Registers the common control classes dialogs use (tooltips among them).
    static void Enable3dControls();

protected:
    // Start-up, which may decide the program is not to run; the exit step follows either way.
    // The default does nothing.
    virtual void InitInstance();
    // The framework's exit step: the code the quit message carried, 0 if none came.
    virtual int ExitInstance();

private:
    HINSTANCE m_instance;
    std::string m_title;
    ProfileStore m_profile;
    Application* m_previous;
    int m_quitCode = 0;
};

// The current application; throws std::logic_error when there is none, which the window and
// dialog procedures turn into a cancelled dialog rather than a crash.
Application& TheApplication();
