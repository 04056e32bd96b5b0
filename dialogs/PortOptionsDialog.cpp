#include "dialogs/PortOptionsDialog.h"

#include "framework/Application.h"
#include "resources/resource.h"

// The check boxes in PortMask bit order.
constexpr std::array<int, kPortCount> kPortBoxes = {IDC_COM1, IDC_COM2, IDC_COM3, IDC_COM4, IDC_LPT, IDC_USB};

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
    for (std::size_t i = 0; i < kPortCount; ++i)
        DDX_Check(exchange, kPortBoxes[i], m_ports[i]);
}

BOOL PortOptionsDialog::OnInitDialog()
{
    m_ports = PortFlagsFromMask(TheApplication().Profile().GetPortMask());
    return Dialog::OnInitDialog();
}

void PortOptionsDialog::OnOK()
{
    UpdateData(true);
    const unsigned mask = PortMaskFromFlags(m_ports);
    if (mask == 0) {
        ShowMessage("You must select at least one port to scan", "Latchwell", MB_OK | MB_ICONWARNING);
        return;
    }
    TheApplication().Profile().SetPortMask(static_cast<int>(mask));
    Dialog::OnOK();
}

void PortOptionsDialog::OnSelectAll()
{
    m_ports.fill(1);
    UpdateData(false);
}
