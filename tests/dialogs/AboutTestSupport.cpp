#include "AboutTestSupport.h"

#include "tests/support/profile/InMemoryProfileBackend.h"
#include "framework/Application.h"
#include "tests/support/uidriver/Process.h"
#include "tests/support/uidriver/Registry.h"
#include "tests/support/uidriver/Wait.h"
#include "tests/support/uidriver/WindowQuery.h"

#include <gtest/gtest.h>

#include <fstream>
#include <memory>
#include <thread>

namespace abouttest {
namespace {

using namespace std::chrono_literals;
constexpr auto kWindowTimeout = 10s;
constexpr auto kBrowserTimeout = 20s;

std::string LogPath()
{
    char folder[MAX_PATH] = {};
    GetTempPathA(MAX_PATH, folder);
    return std::string(folder) + "about_ui_test_browser.log";
}

// One application for the whole program, as in the agent.
class ApplicationEnvironment : public testing::Environment {
public:
    void SetUp() override
    {
        m_application = std::make_unique<Application>(m_backend);
        Application::Enable3dControls();
        SetEnvironmentVariableA("ENTRAVO_TEST_BROWSER_LOG", LogPath().c_str());
    }
    void TearDown() override { m_application.reset(); }

private:
    InMemoryProfileBackend m_backend;
    std::unique_ptr<Application> m_application;
};

[[maybe_unused]] testing::Environment* const kEnvironment =
    testing::AddGlobalTestEnvironment(new ApplicationEnvironment);

void RemoveClassKey(const char* name)
{
    RegDeleteTreeA(HKEY_CLASSES_ROOT, name);
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_CLASSES_ROOT, name, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegCloseKey(key);
        ADD_FAILURE() << "HKCR\\" << name << " is still there";
    }
}

void ClearLog()
{
    DeleteFileA(LogPath().c_str());
}

} // namespace

void UseRecordingBrowser()
{
    ClearLog();
    const std::string command = "\"" + uidriver::OwnFolder() + "testbrowser.exe\" \"%1\"";
    ASSERT_TRUE(uidriver::RegisterUrlHandler("http", command));
    ASSERT_TRUE(uidriver::RegisterUrlHandler("https", command));
}

void UseNoBrowser()
{
    ClearLog();
    RemoveClassKey("http");
    RemoveClassKey("https");
    RemoveClassKey(".htm");
}

std::vector<std::string> BrowserLog()
{
    std::vector<std::string> lines;
    std::ifstream log(LogPath());
    for (std::string line; std::getline(log, line);)
        lines.push_back(line);
    return lines;
}

bool WaitForBrowserLines(size_t count)
{
    return uidriver::WaitFor([&] { return BrowserLog().size() >= count; }, kBrowserTimeout);
}

HWND WaitForMessageBox(HWND except)
{
    HWND box = nullptr;
    uidriver::WaitFor(
        [&] {
            for (HWND window : uidriver::VisibleWindows(GetCurrentProcessId(), uidriver::kDialogClass)) {
                if (window != except) {
                    box = window;
                    return true;
                }
            }
            return false;
        },
        kWindowTimeout);
    return box;
}

bool WaitUntilGone(HWND window)
{
    return uidriver::WaitFor([&] { return !IsWindow(window); }, kWindowTimeout);
}

int RunWithScript(const char* title, const std::function<int()>& run, const std::function<void(HWND)>& script)
{
    const DWORD threadId = GetCurrentThreadId();
    std::thread driver([&] {
        HWND dialog = nullptr;
        uidriver::WaitFor([&] { return (dialog = uidriver::FindThreadDialog(title, threadId)) != nullptr; },
                          kWindowTimeout);
        if (!dialog) {
            ADD_FAILURE() << "no dialog \"" << title << "\" appeared";
            return;
        }
        script(dialog);
        if (!WaitUntilGone(dialog)) {
            ADD_FAILURE() << "the dialog is still open after the script";
            // Anything the script left open first, then the dialog itself.
            while (HWND box = WaitForMessageBox(dialog)) {
                PostMessageA(box, WM_COMMAND, IDOK, 0);
                WaitUntilGone(box);
            }
            PostMessageA(dialog, WM_COMMAND, IDCANCEL, 0);
        }
    });
    const int result = run();
    driver.join();
    return result;
}

} // namespace abouttest
