#include "framework/Dialog.h"

#include "framework/Application.h"
#include "framework/MessageBox.h"
#include "platform/Window.h"

#include <utility>

HWND DataExchange::Control(int id) noexcept
{
    const HWND control = GetDlgItem(m_dialog, id);
    if (!control)
        m_succeeded = false;
    return control;
}

void DDX_Check(DataExchange& exchange, int id, int& value)
{
    const HWND box = exchange.Control(id);
    if (!box)
        return;
    if (exchange.Saving())
        value = SendMessageA(box, BM_GETCHECK, 0, 0) == BST_CHECKED ? 1 : 0;
    else
        SendMessageA(box, BM_SETCHECK, value != 0 ? BST_CHECKED : BST_UNCHECKED, 0);
}

void DDX_Text(DataExchange& exchange, int id, std::string& value)
{
    const HWND control = exchange.Control(id);
    if (!control)
        return;
    if (!exchange.Saving()) {
        SetWindowTextA(control, value.c_str());
        return;
    }
    value = window::Text(control);
}

void DDX_Control(DataExchange& exchange, int id, AttachedControl& control)
{
    if (control.Handle())
        return;
    const HWND item = exchange.Control(id);
    if (item && !control.SubclassWindow(item))
        exchange.Fail();
}

Dialog::Dialog(int templateId, HWND parent) noexcept : m_templateId(templateId), m_parent(parent) {}

Dialog::~Dialog()
{
    if (m_hwnd) {
        SetWindowLongPtrA(m_hwnd, DWLP_USER, 0);
        DestroyWindow(m_hwnd);
    }
}

int Dialog::DoModal()
{
    if (m_hwnd)
        return -1;
    const HWND owner = m_parent ? GetAncestor(m_parent, GA_ROOT) : GetActiveWindow();
    const Application* application = Application::Current();
    const HINSTANCE instance = application ? application->Instance() : GetModuleHandleA(nullptr);

    m_ended = false;
    m_result = IDCANCEL;
    // Disabled before the dialog exists, so that a modal run started from its
    // initialisation already finds the owner out of reach.
    const bool disableOwner = owner && IsWindowEnabled(owner);
    if (disableOwner)
        EnableWindow(owner, FALSE);
    const HWND created = CreateDialogParamA(instance, MAKEINTRESOURCEA(m_templateId), owner, &DialogProcedure,
                                            reinterpret_cast<LPARAM>(this));
    if (!created) {
        if (disableOwner)
            EnableWindow(owner, TRUE);
        return -1;
    }
    // A dialog that ended during its initialisation is never shown.
    if (!m_ended && m_hwnd) {
        ShowWindow(m_hwnd, SW_SHOWNORMAL);
        UpdateWindow(m_hwnd);
    }
    RunModalLoop();

    // The owner is enabled again before the dialog goes, so that it becomes active again.
    if (disableOwner)
        EnableWindow(owner, TRUE);
    if (m_hwnd) {
        const HWND window = m_hwnd;
        SetWindowPos(window, nullptr, 0, 0, 0, 0,
                     SWP_HIDEWINDOW | SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOZORDER);
        DestroyWindow(window);
    }
    if (owner && GetActiveWindow() == nullptr)
        SetActiveWindow(owner);
    return m_result;
}

void Dialog::RunModalLoop()
{
    MSG msg{};
    while (!m_ended && m_hwnd) {
        const BOOL result = GetMessageA(&msg, nullptr, 0, 0);
        if (result == 0) {
            // Not ours to take: the loop that runs the program must see it too.
            PostQuitMessage(static_cast<int>(msg.wParam));
            m_result = IDCANCEL;
            return;
        }
        if (result == -1)
            return;
        if (PreTranslateInLoop(msg))
            continue;
        if (m_hwnd && IsDialogMessageA(m_hwnd, &msg))
            continue;
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

bool Dialog::PreTranslateInLoop(MSG& msg)
{
    // The attached controls on the way from the target up to this dialog come first.
    for (HWND window = msg.hwnd; window && window != m_hwnd; window = GetParent(window)) {
        if (AttachedControl* control = AttachedControl::FromHandle(window)) {
            if (control->PreTranslateMessage(msg))
                return true;
        }
        if (!(GetWindowLongPtrA(window, GWL_STYLE) & WS_CHILD))
            break;
    }
    return PreTranslateMessage(msg);
}

void Dialog::EndDialog(int result)
{
    m_result = result;
    m_ended = true;
    // Wakes the modal loop should it be waiting in GetMessage.
    if (m_hwnd)
        PostMessageA(m_hwnd, WM_NULL, 0, 0);
}

bool Dialog::UpdateData(bool save)
{
    DataExchange exchange(m_hwnd, save);
    DoDataExchange(exchange);
    return exchange.Succeeded();
}

int Dialog::ShowMessage(const std::string& text, const std::string& caption, UINT type) const
{
    return ShowMessageBox(m_hwnd, text, caption, type);
}

HBRUSH Dialog::ApplyColorRule(HDC dc, HWND control, UINT message)
{
    DefaultControlColor(dc, control, message);
    SetTextColor(dc, RGB(0, 0, 0));
    SetBkMode(dc, TRANSPARENT);
    return static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH));
}

HBRUSH Dialog::DefaultControlColor(HDC dc, HWND control, UINT message)
{
    if (AttachedControl* attached = AttachedControl::FromHandle(control)) {
        if (const HBRUSH brush = attached->OnReflectedControlColor(dc, message))
            return brush;
    }
    return reinterpret_cast<HBRUSH>(Default(message, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(control)));
}

LRESULT Dialog::Default(UINT message, WPARAM wParam, LPARAM lParam)
{
    const UINT outerMessage = std::exchange(m_defaultMessage, message);
    const bool outerInDefault = std::exchange(m_inDefault, true);
    const LRESULT result = DefDlgProcA(m_hwnd, message, wParam, lParam);
    m_defaultMessage = outerMessage;
    m_inDefault = outerInDefault;
    return result;
}

BOOL Dialog::OnInitDialog()
{
    UpdateData(false);
    return TRUE;
}

void Dialog::OnOK()
{
    UpdateData(true);
    EndDialog(IDOK);
}

void Dialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

void Dialog::DoDataExchange(DataExchange&) {}

bool Dialog::PreTranslateMessage(MSG&)
{
    return false;
}

std::span<const MessageMapEntry> Dialog::GetMessageMap() const
{
    return {};
}

INT_PTR CALLBACK Dialog::DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    Dialog* self = nullptr;
    if (message == WM_INITDIALOG) {
        self = reinterpret_cast<Dialog*>(lParam);
        self->m_hwnd = window;
        SetWindowLongPtrA(window, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
        self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(window, DWLP_USER));
    }
    if (!self)
        return FALSE;
    if (self->m_inDefault && message == self->m_defaultMessage)
        return FALSE;
    if (message == WM_NCDESTROY) {
        SetWindowLongPtrA(window, DWLP_USER, 0);
        self->m_hwnd = nullptr;
        self->m_ended = true;
        return FALSE;
    }
    try {
        return self->HandleMessage(message, wParam, lParam);
    } catch (...) {
        // Nothing escapes into the system. A handler that failed half-way leaves the
        // dialog in no state to store anything: the run ends as a cancel.
        self->EndDialog(IDCANCEL);
        return FALSE;
    }
}

INT_PTR Dialog::HandleMessage(UINT message, WPARAM wParam, LPARAM lParam)
{
    if (message == WM_INITDIALOG) {
        KeepSystemModalOnTop();
        return OnInitDialog();
    }
    if (message == WM_COMMAND && ReflectCommand(wParam, lParam))
        return TRUE;
    if (const MessageMapEntry* entry = FindEntry(message, wParam))
        return entry->invoke(*this, message, wParam, lParam);

    if (message == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        switch (LOWORD(wParam)) {
        case IDOK:
            OnOK();
            return TRUE;
        case IDCANCEL:
            OnCancel();
            return TRUE;
        default:
            break;
        }
    }
    if (IsControlColorMessage(message)) {
        // Without a row of its own the dialog still reflects the request to the control;
        // declining leaves the system's default colours.
        if (AttachedControl* attached = AttachedControl::FromHandle(reinterpret_cast<HWND>(lParam)))
            return reinterpret_cast<INT_PTR>(attached->OnReflectedControlColor(reinterpret_cast<HDC>(wParam), message));
    }
    return FALSE;
}

void Dialog::KeepSystemModalOnTop()
{
    // A system-modal template asks to stay above other windows; not every system makes
    // such a dialog topmost by itself.
    if (GetWindowLongPtrA(m_hwnd, GWL_STYLE) & DS_SYSMODAL)
        SetWindowPos(m_hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

bool Dialog::ReflectCommand(WPARAM wParam, LPARAM lParam)
{
    AttachedControl* control = AttachedControl::FromHandle(reinterpret_cast<HWND>(lParam));
    return control && control->OnReflectedCommand(HIWORD(wParam));
}

const MessageMapEntry* Dialog::FindEntry(UINT message, WPARAM wParam) const
{
    for (const MessageMapEntry& entry : GetMessageMap()) {
        switch (entry.route) {
        case MessageRoute::Command:
            if (message == WM_COMMAND && HIWORD(wParam) == entry.notification && LOWORD(wParam) == entry.id)
                return &entry;
            break;
        case MessageRoute::ControlColor:
            if (IsControlColorMessage(message))
                return &entry;
            break;
        case MessageRoute::Message:
            if (message == entry.message)
                return &entry;
            break;
        }
    }
    return nullptr;
}
