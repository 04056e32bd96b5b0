#pragma once
// Shared ground of the link label and About box tests: the application object, the recording
// test browser as the shell's web handler (or no handler at all), and a modal run driven from
// a second thread, which real mouse input (tests/support/uidriver/Mouse.h) needs.
#include "tests/support/uidriver/Mouse.h"

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

namespace abouttest {

// The real input both tests use.
using uidriver::CaptureOfThreadOwning;
using uidriver::CentreOf;
using uidriver::ClickAt;
using uidriver::MoveMouseTo;
using uidriver::Settle;

// The test program's base name, which the application's message boxes carry as caption.
inline constexpr char kProgramTitle[] = "about_ui_test";
inline constexpr char kVendorHost[] = "www.vantok.example";
inline constexpr char kDeveloperHost[] = "www.harrowgate.example";

// The recording browser opens http and https URLs; each test case starts with an empty log.
void UseRecordingBrowser();
// Neither a URL handler nor a ".htm" browser: the shell has nothing to open a page with.
void UseNoBrowser();
// Lines the browser has recorded so far, one per start.
std::vector<std::string> BrowserLog();
// Waits (bounded) until the log has `count` lines.
bool WaitForBrowserLines(size_t count);

// Runs `run` (usually a DoModal) on this thread while `script` acts on the thread's visible
// dialog titled `title` from a second thread. When the script is done the dialog must have
// ended; one still open is cancelled and reported. Returns what `run` returned.
int RunWithScript(const char* title, const std::function<int()>& run, const std::function<void(HWND dialog)>& script);

// Waits (bounded) for a message box of this process, other than `except`, and returns it.
HWND WaitForMessageBox(HWND except);
// Waits (bounded) until `window` is gone.
bool WaitUntilGone(HWND window);

} // namespace abouttest
