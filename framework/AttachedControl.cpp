#include "framework/AttachedControl.h"

namespace {
// The window property that leads from a control to its object.
constexpr char kObjectProperty[] = "AttachedControl.Object";
} // namespace

AttachedControl::~AttachedControl()
{
    Detach();
}

bool AttachedControl::SubclassDlgItem(int id, HWND dialog)
{
    return SubclassWindow(GetDlgItem(dialog, id));
}

bool AttachedControl::SubclassWindow(HWND control)
{
    if (m_hwnd || !control || !IsWindow(control) || FromHandle(control))
        return false;
    m_hwnd = control;
    try {
        PreSubclassWindow();
    } catch (...) {
        m_hwnd = nullptr;
        throw;
    }
    if (!SetPropA(control, kObjectProperty, this)) {
        m_hwnd = nullptr;
        return false;
    }
    m_original = reinterpret_cast<WNDPROC>(
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(&SubclassProcedure)));
    if (!m_original) {
        RemovePropA(control, kObjectProperty);
        m_hwnd = nullptr;
        return false;
    }
    return true;
}

HWND AttachedControl::Detach()
{
    const HWND control = m_hwnd;
    if (!control)
        return nullptr;
    if (m_original && IsWindow(control)) {
        SetWindowLongPtrA(control, GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(m_original));
        RemovePropA(control, kObjectProperty);
    }
    m_hwnd = nullptr;
    m_original = nullptr;
    return control;
}

AttachedControl* AttachedControl::FromHandle(HWND control) noexcept
{
    if (!control)
        return nullptr;
    return static_cast<AttachedControl*>(GetPropA(control, kObjectProperty));
}

bool AttachedControl::PreTranslateMessage(MSG&)
{
    return false;
}

bool AttachedControl::OnReflectedCommand(UINT)
{
    return false;
}

HBRUSH AttachedControl::OnReflectedControlColor(HDC, UINT)
{
    return nullptr;
}

void AttachedControl::PreSubclassWindow() {}

std::optional<LRESULT> AttachedControl::HandleMessage(UINT, WPARAM, LPARAM)
{
    return std::nullopt;
}

LRESULT AttachedControl::DefaultProcedure(UINT message, WPARAM wParam, LPARAM lParam)
{
    return CallWindowProcA(m_original, m_hwnd, message, wParam, lParam);
}

LRESULT CALLBACK AttachedControl::SubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    AttachedControl* self = FromHandle(window);
    if (!self)
        return DefWindowProcA(window, message, wParam, lParam);

    if (message == WM_NCDESTROY) {
        // The control is going away: let it finish with its own procedure, then let go.
        const WNDPROC original = self->m_original;
        self->Detach();
        return CallWindowProcA(original, window, message, wParam, lParam);
    }
    try {
        if (const std::optional<LRESULT> result = self->HandleMessage(message, wParam, lParam))
            return *result;
        return self->DefaultProcedure(message, wParam, lParam);
    } catch (...) {
        // Nothing may escape into the system; the message counts as answered.
        return 0;
    }
}
