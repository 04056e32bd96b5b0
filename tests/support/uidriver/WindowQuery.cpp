#include "tests/support/uidriver/WindowQuery.h"

#include <algorithm>

namespace uidriver {
namespace {

constexpr UINT kTextTimeoutMs = 2000;

BOOL CALLBACK CollectWindow(HWND window, LPARAM found)
{
    reinterpret_cast<std::vector<HWND>*>(found)->push_back(window);
    return TRUE;
}

} // namespace

std::string ClassOf(HWND window)
{
    char name[256] = {};
    const int length = GetClassNameA(window, name, sizeof name);
    return std::string(name, length > 0 ? static_cast<std::size_t>(length) : 0);
}

std::string TextOf(HWND window)
{
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, kTextTimeoutMs, &length))
        return {};
    std::string text(length + 1, '\0');
    DWORD_PTR copied = 0;
    if (!SendMessageTimeoutA(window, WM_GETTEXT, text.size(), reinterpret_cast<LPARAM>(text.data()), SMTO_ABORTIFHUNG,
                             kTextTimeoutMs, &copied))
        return {};
    text.resize(std::min<std::size_t>(copied, length));
    return text;
}

DWORD ProcessOf(HWND window)
{
    DWORD processId = 0;
    GetWindowThreadProcessId(window, &processId);
    return processId;
}

std::vector<HWND> TopLevelWindows(DWORD processId)
{
    std::vector<HWND> all;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&all));
    if (processId != 0)
        std::erase_if(all, [&](HWND window) { return ProcessOf(window) != processId; });
    return all;
}

std::vector<HWND> VisibleWindows(DWORD processId, std::string_view className, std::optional<std::string_view> title)
{
    auto windows = TopLevelWindows(processId);
    std::erase_if(windows, [&](HWND window) {
        return !IsWindowVisible(window) || ClassOf(window) != className || (title && TextOf(window) != *title);
    });
    return windows;
}

HWND FindThreadDialog(std::string_view caption, DWORD threadId)
{
    std::vector<HWND> windows;
    EnumThreadWindows(threadId, CollectWindow, reinterpret_cast<LPARAM>(&windows));
    for (HWND window : windows) {
        if (IsWindowVisible(window) && ClassOf(window) == kDialogClass && TextOf(window) == caption)
            return window;
    }
    return nullptr;
}

std::vector<HWND> ChildrenOf(HWND parent)
{
    std::vector<HWND> children;
    EnumChildWindows(parent, CollectWindow, reinterpret_cast<LPARAM>(&children));
    return children;
}

HWND ChildWithId(HWND parent, int id)
{
    return GetDlgItem(parent, id);
}

std::string ItemText(HWND dialog, int id)
{
    const HWND item = GetDlgItem(dialog, id);
    return item ? TextOf(item) : std::string();
}

std::vector<std::string> StaticTexts(HWND dialog)
{
    std::vector<std::string> texts;
    for (HWND child : ChildrenOf(dialog)) {
        // Pictures are statics too; their "text" is the resource ordinal they were made from.
        const LONG kind = GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK;
        if (ClassOf(child) == "Static" && kind != SS_ICON && kind != SS_BITMAP)
            texts.push_back(TextOf(child));
    }
    return texts;
}

bool HasStaticText(HWND dialog, std::string_view text)
{
    const auto texts = StaticTexts(dialog);
    return std::find(texts.begin(), texts.end(), text) != texts.end();
}

} // namespace uidriver
