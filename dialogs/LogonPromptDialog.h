#pragma once
// The logon prompt: OK looks for the one token on the selected ports and opens the logon page
// with its authenticator; otherwise it says what it found and stays open for another try.
#include "framework/Dialog.h"
#include "logon/LogonFlow.h"

#include <span>
#include <string>

class LogonPromptDialog final : public Dialog, private LogonActions {
public:
    // Always without a parent: the framework picks the owner.
    LogonPromptDialog();

    // "Do not display this dialog again".
    int skipPrompt = 0;

private:
    // With the box ticked earlier, the logon runs before the prompt is ever shown.
    BOOL OnInitDialog() override;
    void OnOK() override;
    void DoDataExchange(DataExchange& exchange) override;
    std::span<const MessageMapEntry> GetMessageMap() const override;
    void OnPortOptions();

    int ScanPorts(RomRecord& record) override;
    void ShowManyTokensDialog() override;
    void ShowNoTokenDialog() override;
    void StartIndicatorProgram() override;
    std::string EncodeAuthenticator(const RomRecord& record) override;
    void OpenWebPage(const std::string& url) override;
};
