#pragma once
// The ports the agent scans for a token: one check box per port, loaded from the stored
// PortMask when the dialog opens and stored back on OK.
#include "framework/Dialog.h"

class PortOptionsDialog : public Dialog {
public:
    explicit PortOptionsDialog(HWND parent = nullptr);

    // One flag per check box, 0 or 1, in PortMask bit order.
    int m_com1 = 0;
    int m_com2 = 0;
    int m_com3 = 0;
    int m_com4 = 0;
    int m_lpt = 0;
    int m_usb = 0;

protected:
    std::span<const MessageMapEntry> GetMessageMap() const override;
    void DoDataExchange(DataExchange& exchange) override;
    BOOL OnInitDialog() override;
    void OnOK() override;

private:
    void OnSelectAll();
};
