#pragma once
// A C++ object attached to an existing control of a dialog template by subclassing it: the
// object sees the control's own messages, the notifications and colour requests its parent
// reflects back to it, and the messages of the owning dialog's modal loop aimed at it.
#include <windows.h>

#include <optional>

class AttachedControl {
public:
    AttachedControl() = default;
    // Detaches: the control keeps working with its original procedure.
    virtual ~AttachedControl();

    AttachedControl(const AttachedControl&) = delete;
    AttachedControl& operator=(const AttachedControl&) = delete;

    // Attaches to control `id` of `dialog`. PreSubclassWindow runs first, with Handle()
    // already set, then the control's procedure is replaced. False when there is no such
    // control or this object is already attached.
    bool SubclassDlgItem(int id, HWND dialog);
    bool SubclassWindow(HWND control);
    // Puts the original procedure back; returns the control, or null if none was attached.
    HWND Detach();

    HWND Handle() const noexcept { return m_hwnd; }

    // The object attached to a control, or null.
    static AttachedControl* FromHandle(HWND control) noexcept;

    // Offered each message of the owning dialog's modal loop that is aimed at this control
    // or at one of its children, before the dialog's keyboard handling. True: the message
    // is consumed. The default consumes nothing.
    virtual bool PreTranslateMessage(MSG& msg);

    // A WM_COMMAND notification (its code) that the control sent to its parent. True: this
    // object handled it and the parent's own handlers do not see it. The default declines.
    virtual bool OnReflectedCommand(UINT notification);

    // A WM_CTLCOLOR* request (the message) that the parent received for this control. A
    // brush answers it; null declines and lets the parent's default colours apply.
    virtual HBRUSH OnReflectedControlColor(HDC dc, UINT message);

protected:
    // Runs when the object is attached, before the control's procedure is replaced.
    virtual void PreSubclassWindow();

    // The control's own messages. A value answers the message; nothing passes it to the
    // original procedure. Handlers that need the default first call DefaultProcedure.
    virtual std::optional<LRESULT> HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);

    LRESULT DefaultProcedure(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static LRESULT CALLBACK SubclassProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

    HWND m_hwnd = nullptr;
    WNDPROC m_original = nullptr;
};
