#include "logon/LogonFlow.h"

#include "profile/PortMask.h"

std::string ComposeLogonUrl(std::string_view accessUrl, std::string_view authenticator)
{
    std::string url;
    url.reserve(accessUrl.size() + authenticator.size());
    url.append(accessUrl);
    url.append(authenticator);
    return url;
}

LogonOkResult RunLogonOk(ProfileStore& profile, LogonActions& actions, int skipPrompt)
{
    // The choice is kept whatever the scan finds: it is about the prompt, not about the token.
    profile.SetSkipPrompt(skipPrompt);
    // The record is only read when the scan filled it.
    RomRecord record{};
    const int result = actions.ScanPorts(record);
    // None or several: the user can put the token right and press OK again.
    if (result < 0) {
        actions.ShowManyTokensDialog();
        return LogonOkResult::StayOpen;
    }
    if (result == 0) {
        actions.ShowNoTokenDialog();
        return LogonOkResult::StayOpen;
    }
    // The indicator belongs to the USB reader: without USB selected there is none to light.
    if ((profile.GetPortMask() & PortBit(Port::Usb)) != 0)
        actions.StartIndicatorProgram();
    const std::string url = ComposeLogonUrl(profile.GetAccessUrl(), actions.EncodeAuthenticator(record));
    actions.OpenWebPage(url);
    return LogonOkResult::CloseWithOk;
}
