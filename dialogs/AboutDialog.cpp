#include "dialogs/AboutDialog.h"

#include "resources/resource.h"

AboutDialog::AboutDialog() : Dialog(IDD_ABOUT) {}

void AboutDialog::DoDataExchange(DataExchange& exchange)
{
    DDX_Control(exchange, IDC_VENDOR_LINK, vendorLink);
    DDX_Control(exchange, IDC_DEVELOPER_LINK, developerLink);
}

std::span<const MessageMapEntry> AboutDialog::GetMessageMap() const
{
    static constexpr MessageMapEntry kMap[] = {
        OnMessage<&AboutDialog::OnLButtonDown>(WM_LBUTTONDOWN),
        DialogColorRule(),
    };
    return kMap;
}

void AboutDialog::OnLButtonDown(WPARAM wParam, LPARAM lParam)
{
    Default(WM_LBUTTONDOWN, wParam, lParam);
    EndDialog(IDOK);
}
