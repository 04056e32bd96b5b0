#pragma once
// Modal dialogs built from a template of the program's resources, with data exchange
// between members and controls, a message map per class, notifications and colour requests
// reflected to attached controls, and a modal loop of their own so that PreTranslateMessage
// of the dialog and of its attached controls sees every message.
#include "framework/AttachedControl.h"
#include "framework/MessageMap.h"

#include <windows.h>

#include <span>
#include <string>

class Dialog;

// One direction of data exchange between a dialog's members and its controls.
class DataExchange {
public:
    DataExchange(HWND dialog, bool saving) noexcept : m_dialog(dialog), m_saving(saving) {}

    // True: controls -> members; false: members -> controls.
    bool Saving() const noexcept { return m_saving; }
    // False once an exchange named a control the dialog does not have.
    bool Succeeded() const noexcept { return m_succeeded; }

    // The control `id`, or null after recording the failure.
    HWND Control(int id) noexcept;
    void Fail() noexcept { m_succeeded = false; }

private:
    HWND m_dialog;
    bool m_saving;
    bool m_succeeded = true;
};

// A check box and a flag: loading checks the box for any non-zero flag and clears it for 0;
// saving gives 1 for a checked box and 0 for a cleared one.
void DDX_Check(DataExchange& exchange, int id, int& value);
// An edit box or any control with a text and a string: saving reads the whole text.
void DDX_Text(DataExchange& exchange, int id, std::string& value);
// Attaches control `id` to `control` the first time; later exchanges leave it as it is.
void DDX_Control(DataExchange& exchange, int id, AttachedControl& control);

class Dialog {
public:
    // The owner is `parent`; without one, DoModal picks the thread's active window, if any.
    explicit Dialog(int templateId, HWND parent = nullptr) noexcept;
    virtual ~Dialog();

    Dialog(const Dialog&) = delete;
    Dialog& operator=(const Dialog&) = delete;

    // Creates the dialog, disables its owner and runs the modal loop until EndDialog; then
    // re-enables the owner, destroys the window and returns EndDialog's result (IDOK or
    // IDCANCEL from the built-in handlers), or -1 when the window could not be created.
    // A quit message ends the run with IDCANCEL and is posted again for the outer loop.
    int DoModal();

    // Ends the modal run with `result` once the current message has been handled.
    void EndDialog(int result);

    // Runs DoDataExchange in one direction; false when a control was missing.
    bool UpdateData(bool save);

    HWND Handle() const noexcept { return m_hwnd; }
    HWND Item(int id) const noexcept { return GetDlgItem(m_hwnd, id); }

    // A message box owned by this dialog; blocks until dismissed and returns the button.
    int ShowMessage(const std::string& text, const std::string& caption, UINT type) const;

    // The colour rule every dialog of the program lists in its message map: the framework's
    // handling first (the control's reflected answer, else the default colours), then black
    // text on a transparent background and the stock white brush, whatever came before.
    HBRUSH ApplyColorRule(HDC dc, HWND control, UINT message);

protected:
    // members -> controls; TRUE lets the system put the focus on the first tab stop.
    virtual BOOL OnInitDialog();
    // OK button or Enter: controls -> members, then EndDialog(IDOK).
    virtual void OnOK();
    // Cancel button, Esc or the close box: EndDialog(IDCANCEL).
    virtual void OnCancel();
    virtual void DoDataExchange(DataExchange& exchange);
    // Offered each message of the modal loop after the attached controls it is aimed at.
    // True: the message is consumed. The default consumes nothing.
    virtual bool PreTranslateMessage(MSG& msg);
    // The rows for this class; searched before the built-in handling. Default: none.
    virtual std::span<const MessageMapEntry> GetMessageMap() const;

    // The framework's colour handling alone: the control's reflected answer, else the
    // system dialog's default colours.
    HBRUSH DefaultControlColor(HDC dc, HWND control, UINT message);
    // The system dialog's own handling of a message, e.g. to run it before a handler's work.
    LRESULT Default(UINT message, WPARAM wParam, LPARAM lParam);

private:
    static INT_PTR CALLBACK DialogProcedure(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    INT_PTR HandleMessage(UINT message, WPARAM wParam, LPARAM lParam);
    void KeepSystemModalOnTop();
    bool ReflectCommand(WPARAM wParam, LPARAM lParam);
    const MessageMapEntry* FindEntry(UINT message, WPARAM wParam) const;
    bool PreTranslateInLoop(MSG& msg);
    void RunModalLoop();

    int m_templateId;
    HWND m_parent;
    HWND m_hwnd = nullptr;
    bool m_ended = false;
    int m_result = IDCANCEL;
    // The message being passed to the system's default handling, which calls this
    // dialog's procedure again; that call must not be handled twice.
    UINT m_defaultMessage = 0;
    bool m_inDefault = false;
};

// The common colour rule as a message map row.
constexpr MessageMapEntry DialogColorRule()
{
    return OnControlColor<&Dialog::ApplyColorRule>();
}
