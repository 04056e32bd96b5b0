#include "dialogs/AccessUrlDialog.h"

#include "dialogs/TrimText.h"
#include "framework/Application.h"
#include "resources/resource.h"

AccessUrlDialog::AccessUrlDialog() : Dialog(IDD_ACCESS_URL) {}

std::span<const MessageMapEntry> AccessUrlDialog::GetMessageMap() const
{
    static constexpr MessageMapEntry kMap[] = {
        OnCommand<&AccessUrlDialog::OnDefaults>(BN_CLICKED, IDC_DEFAULTS),
        DialogColorRule(),
    };
    return kMap;
}

void AccessUrlDialog::DoDataExchange(DataExchange& exchange)
{
    DDX_Text(exchange, IDC_ACCESS_URL, m_accessUrl);
}

BOOL AccessUrlDialog::OnInitDialog()
{
    m_accessUrl = TheApplication().Profile().GetAccessUrl();
    return Dialog::OnInitDialog();
}

void AccessUrlDialog::OnOK()
{
    UpdateData(true);
    m_accessUrl = TrimWhiteSpace(m_accessUrl, &ansi::IsLeadByte);
    if (m_accessUrl.empty()) {
        // The box keeps what the user typed; only the member was trimmed.
        ShowMessage("Conditional Access URL should not be empty", "Vantok Entravo", MB_OK | MB_ICONERROR);
        return;
    }
    TheApplication().Profile().SetAccessUrl(m_accessUrl);
    Dialog::OnOK();
}

void AccessUrlDialog::OnDefaults()
{
    m_accessUrl = ProfileStore::DefaultAccessUrl();
    UpdateData(false);
}
