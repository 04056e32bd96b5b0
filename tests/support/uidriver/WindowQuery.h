#pragma once
// Finding and reading other processes' windows. Texts are read with WM_GETTEXT under a
// time-out, so a hung program cannot hang the test that reads it.
#include <windows.h>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace uidriver {

inline constexpr char kDialogClass[] = "#32770";
inline constexpr char kMenuClass[] = "#32768";

std::string ClassOf(HWND window);
std::string TextOf(HWND window);
DWORD ProcessOf(HWND window);

// Top-level windows of one process (every process when processId is 0), in z-order.
std::vector<HWND> TopLevelWindows(DWORD processId);

// Visible top-level windows of a class (and title when given) in one process.
std::vector<HWND> VisibleWindows(DWORD processId, std::string_view className,
                                 std::optional<std::string_view> title = std::nullopt);

// The visible dialog (or message box) of a thread with exactly this caption, or null.
HWND FindThreadDialog(std::string_view caption, DWORD threadId = GetCurrentThreadId());

std::vector<HWND> ChildrenOf(HWND parent);
HWND ChildWithId(HWND parent, int id);
// The text of a dialog's control.
std::string ItemText(HWND dialog, int id);
// Texts of a dialog's static text controls (not pictures), in creation order.
std::vector<std::string> StaticTexts(HWND dialog);
bool HasStaticText(HWND dialog, std::string_view text);

} // namespace uidriver
