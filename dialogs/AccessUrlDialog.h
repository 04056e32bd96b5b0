#pragma once
// The "Conditional Access URL": shown as stored (or the default) when the dialog opens,
// put back to the default by a button, stored trimmed and non-empty on OK.
#include "framework/Dialog.h"

#include <string>

class AccessUrlDialog final : public Dialog {
public:
    // Always without a parent: the framework picks the owner.
    AccessUrlDialog();

    // The text of the edit box.
    std::string m_accessUrl;

private:
    // Empty or white space alone is refused with a message, and the dialog stays open.
    void OnOK() override;
    BOOL OnInitDialog() override;
    void DoDataExchange(DataExchange& exchange) override;
    std::span<const MessageMapEntry> GetMessageMap() const override;
    void OnDefaults();
};
