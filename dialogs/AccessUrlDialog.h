#pragma once
// The "Conditional Access URL": shown as stored (or the default) when the dialog opens,
// put back to the default by a button, stored trimmed and non-empty on OK.
#include "framework/Dialog.h"

#include <string>

class AccessUrlDialog : public Dialog {
public:
    explicit AccessUrlDialog(HWND parent = nullptr);

    // The text of the edit box.
    std::string m_accessUrl;

protected:
    std::span<const MessageMapEntry> GetMessageMap() const override;
    void DoDataExchange(DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    void OnDefaults();
};
