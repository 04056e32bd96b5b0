#include "dialogs/LogonPromptDialog.h"

#include "dialogs/PortOptionsDialog.h"
#include "discovery/BusLibrary.h"
#include "framework/Application.h"
#include "logon/AuthenticatorClock.h"
#include "logon/WebPageOpener.h"
#include "resources/resource.h"

namespace {

// The answers to a logon that did not find exactly one token, none or several. OK closes them;
// they store nothing.
class OutcomeDialog final : public Dialog {
public:
    explicit OutcomeDialog(int templateId) : Dialog(templateId) {}

private:
    std::span<const MessageMapEntry> GetMessageMap() const override
    {
        static constexpr MessageMapEntry kMap[] = {DialogColorRule()};
        return kMap;
    }
};

} // namespace

LogonPromptDialog::LogonPromptDialog() : Dialog(IDD_LOGON_PROMPT) {}

std::span<const MessageMapEntry> LogonPromptDialog::GetMessageMap() const
{
    static constexpr MessageMapEntry kMap[] = {
        OnCommand<&LogonPromptDialog::OnPortOptions>(BN_CLICKED, IDC_PORT_OPTIONS),
        DialogColorRule(),
    };
    return kMap;
}

void LogonPromptDialog::DoDataExchange(DataExchange& exchange)
{
    DDX_Check(exchange, IDC_SKIP_PROMPT, skipPrompt);
}

BOOL LogonPromptDialog::OnInitDialog()
{
    skipPrompt = TheApplication().Profile().GetSkipPrompt();
    const BOOL result = Dialog::OnInitDialog();
    // The dialog is not visible yet; when the logon ends it, it never will be.
    if (skipPrompt != 0)
        OnOK();
    return result;
}

void LogonPromptDialog::OnOK()
{
    // A check box cannot fail to exchange.
    UpdateData(true);
    if (RunLogonOk(TheApplication().Profile(), *this, skipPrompt) == LogonOkResult::CloseWithOk)
        Dialog::OnOK();
}

void LogonPromptDialog::OnPortOptions()
{
    PortOptionsDialog ports;
    ports.DoModal();
}

int LogonPromptDialog::ScanPorts(RomRecord& record)
{
    return ScanBoundBus(TheApplication().Profile().GetPortMask(), record);
}

void LogonPromptDialog::ShowManyTokensDialog()
{
    OutcomeDialog(IDD_MANY_TOKENS).DoModal();
}

void LogonPromptDialog::ShowNoTokenDialog()
{
    OutcomeDialog(IDD_NO_TOKEN).DoModal();
}

void LogonPromptDialog::StartIndicatorProgram()
{
    // The bare name: the system's program search looks in the agent's folder first.
    WinExec(std::string(kIndicatorProgram).c_str(), SW_SHOW);
}

std::string LogonPromptDialog::EncodeAuthenticator(const RomRecord& record)
{
    return ::EncodeAuthenticator(record);
}

void LogonPromptDialog::OpenWebPage(const std::string& url)
{
    ::OpenWebPage(url, SW_SHOW);
}
