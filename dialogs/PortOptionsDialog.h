#pragma once
// The ports the agent scans for a token: one check box per port, loaded from the stored
// PortMask when the dialog opens and stored back on OK.
#include "framework/Dialog.h"

class PortOptionsDialog final : public Dialog {
public:
    // Always without a parent: the framework picks the owner.
    PortOptionsDialog();

    // One flag per check box, 0 or 1, in PortMask bit order.
    int m_com1 = 0;
    int m_com2 = 0;
    int m_com3 = 0;
    int m_com4 = 0;
    int m_lpt = 0;
    int m_usb = 0;

private:
    BOOL OnInitDialog() override;
    void DoDataExchange(DataExchange& exchange) override;
    // No port at all is refused with a warning, and the dialog stays open.
    void OnOK() override;
    std::span<const MessageMapEntry> GetMessageMap() const override;
    void OnSelectAll();
};
