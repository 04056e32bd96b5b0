#pragma once
// The ports the agent scans for a token: one check box per port, loaded from the stored
// PortMask when the dialog opens and stored back on OK.
#include "dialogs/PortSelection.h"
#include "framework/Dialog.h"

class PortOptionsDialog final : public Dialog {
public:
    // Always without a parent: the framework picks the owner.
    PortOptionsDialog();

    // One flag per check box, 0 or 1, in PortMask bit order.
    PortFlags m_ports{};

private:
    BOOL OnInitDialog() override;
    void DoDataExchange(DataExchange& exchange) override;
    // No port at all is refused with a warning, and the dialog stays open.
    void OnOK() override;
    std::span<const MessageMapEntry> GetMessageMap() const override;
    void OnSelectAll();
};
