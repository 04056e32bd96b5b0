#pragma once
// What the logon prompt's OK does, in order, without Windows: store the choice, scan, and
// either name the outcome dialog or start the indicator and open the logon page.
#include "profile/ProfileStore.h"
#include "discovery/RomRecord.h"

#include <string>
#include <string_view>

inline constexpr std::string_view kIndicatorProgram = "lampup.exe";

// The steps of a logon that reach outside the flow.
class LogonActions {
public:
    virtual ~LogonActions() = default;
    // -1 more than one token, 0 none, 1 exactly one (and the record filled).
    virtual int ScanPorts(RomRecord& record) = 0;
    virtual void ShowManyTokensDialog() = 0;
    virtual void ShowNoTokenDialog() = 0;
    // Started by bare name and not waited for; a failure goes unnoticed.
    virtual void StartIndicatorProgram() = 0;
    virtual std::string EncodeAuthenticator(const RomRecord& record) = 0;
    // The result is not examined: a page that does not open is not reported here.
    virtual void OpenWebPage(const std::string& url) = 0;
};

enum class LogonOkResult {
    StayOpen,    // an outcome dialog was shown; the user may try again
    CloseWithOk, // the logon page was handed to the browser
};

// skipPrompt is the check box as the user left it; it is stored whatever the scan finds.
LogonOkResult RunLogonOk(ProfileStore& profile, LogonActions& actions, int skipPrompt);

// The access URL followed directly by the authenticator: no separator, no escaping.
std::string ComposeLogonUrl(std::string_view accessUrl, std::string_view authenticator);
