#include "dialogs/OutcomeDialogs.h"

#include "resources/resource.h"

NoTokenDialog::NoTokenDialog() : Dialog(IDD_NO_TOKEN) {}

std::span<const MessageMapEntry> NoTokenDialog::GetMessageMap() const
{
    static constexpr MessageMapEntry kMap[] = {
        DialogColorRule(),
    };
    return kMap;
}

ManyTokensDialog::ManyTokensDialog() : Dialog(IDD_MANY_TOKENS) {}

std::span<const MessageMapEntry> ManyTokensDialog::GetMessageMap() const
{
    static constexpr MessageMapEntry kMap[] = {
        DialogColorRule(),
    };
    return kMap;
}
