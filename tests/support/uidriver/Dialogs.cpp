#include "tests/support/uidriver/Dialogs.h"

#include "tests/support/uidriver/WindowQuery.h"

namespace uidriver {
namespace {

constexpr UINT kSendTimeoutMs = 2000;

bool IsPushButton(HWND control)
{
    if (ClassOf(control) != "Button")
        return false;
    const LONG type = GetWindowLongA(control, GWL_STYLE) & BS_TYPEMASK;
    return type == BS_PUSHBUTTON || type == BS_DEFPUSHBUTTON;
}

} // namespace

bool PostButtonClick(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    return PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(button)) != FALSE;
}

bool PostButtonPress(HWND dialog, int id)
{
    HWND button = GetDlgItem(dialog, id);
    return button && PostMessageA(button, BM_CLICK, 0, 0) != FALSE;
}

bool IsChecked(HWND dialog, int id)
{
    HWND box = GetDlgItem(dialog, id);
    DWORD_PTR state = 0;
    if (!box || !SendMessageTimeoutA(box, BM_GETCHECK, 0, 0, SMTO_ABORTIFHUNG, kSendTimeoutMs, &state))
        return false;
    return state == BST_CHECKED;
}

MessageBoxView ReadMessageBox(HWND window)
{
    MessageBoxView view;
    view.window = window;
    view.owner = GetWindow(window, GW_OWNER);
    view.caption = TextOf(window);
    for (HWND child : ChildrenOf(window)) {
        if (GetParent(child) != window || !IsWindowVisible(child))
            continue;
        if (ClassOf(child) == "Static") {
            // The icon is a static too, without text.
            if ((GetWindowLongA(child, GWL_STYLE) & SS_TYPEMASK) == SS_ICON)
                view.icon = reinterpret_cast<HICON>(SendMessageA(child, STM_GETICON, 0, 0));
            auto text = TextOf(child);
            if (!text.empty())
                view.text = std::move(text);
        } else if (IsPushButton(child)) {
            view.buttons.push_back(GetDlgCtrlID(child));
        }
    }
    return view;
}

} // namespace uidriver
