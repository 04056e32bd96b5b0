#include "logon/LogonFlow.h"

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
    // 2.
    profile.SetSkipPrompt(skipPrompt);
    // 3. The record is only read when the scan filled it.
    RomRecord record{};
    const int result = actions.ScanPorts(record);
    // 4.
    if (result < 0) {
        actions.ShowManyTokensDialog();
        return LogonOkResult::StayOpen;
    }
    // 5.
    if (result == 0) {
        actions.ShowNoTokenDialog();
        return LogonOkResult::StayOpen;
    }
    // 6.1
    if ((profile.GetPortMask() & kUsbPortBit) != 0)
        actions.StartIndicatorProgram();
    // 6.2
    const std::string url = ComposeLogonUrl(profile.GetAccessUrl(), actions.EncodeAuthenticator(record));
    // 6.3
    actions.OpenWebPage(url);
    // 6.4
    return LogonOkResult::CloseWithOk;
}
