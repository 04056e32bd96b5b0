#include "dialogs/PortOptionsDialog.h"

#include "dialogs/PortSelection.h"
#include "framework/Application.h"
#include "resources/resource.h"

PortOptionsDialog::PortOptionsDialog() : Dialog(IDD_PORT_OPTIONS) {}

std::span<const MessageMapEntry> PortOptionsDialog::GetMessageMap() const
{
    static constexpr MessageMapEntry kMap[] = {
        OnCommand<&PortOptionsDialog::OnSelectAll>(BN_CLICKED, IDC_SELECT_ALL),
        DialogColorRule(),
    };
    return kMap;
}

void PortOptionsDialog::DoDataExchange(DataExchange& exchange)
{
    DDX_Check(exchange, IDC_COM1, m_com1);
    DDX_Check(exchange, IDC_COM2, m_com2);
    DDX_Check(exchange, IDC_COM3, m_com3);
    DDX_Check(exchange, IDC_COM4, m_com4);
    DDX_Check(exchange, IDC_LPT, m_lpt);
    DDX_Check(exchange, IDC_USB, m_usb);
}

BOOL PortOptionsDialog::OnInitDialog()
{
    const PortFlags flags = PortFlagsFromMask(TheApplication().Profile().GetPortMask());
    m_com1 = flags[0];
    m_com2 = flags[1];
    m_com3 = flags[2];
    m_com4 = flags[3];
    m_lpt = flags[4];
    m_usb = flags[5];
    return Dialog::OnInitDialog();
}

void PortOptionsDialog::OnOK()
{
    UpdateData(true);
    const unsigned mask = PortMaskFromFlags({m_com1, m_com2, m_com3, m_com4, m_lpt, m_usb});
    if (mask == 0) {
        ShowMessage("You must select at least one port to scan", "Latchwell", MB_OK | MB_ICONWARNING);
        return;
    }
    TheApplication().Profile().SetPortMask(static_cast<int>(mask));
    Dialog::OnOK();
}

void PortOptionsDialog::OnSelectAll()
{
    m_com1 = m_com2 = m_com3 = m_com4 = m_lpt = m_usb = 1;
    UpdateData(false);
}
