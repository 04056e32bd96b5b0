#pragma once
// The agent's About box: product, maker and developer, with a link to each web site. A left
// click anywhere on it other than a link closes it as OK; there is no close box.
#include "dialogs/HyperLinkLabel.h"
#include "framework/Dialog.h"

#include <span>

class AboutDialog final : public Dialog {
public:
    AboutDialog();

    HyperLinkLabel vendorLink;
    HyperLinkLabel developerLink;

private:
    // Attaches the two link controls; the dialog has nothing else to exchange.
    void DoDataExchange(DataExchange& exchange) override;
    std::span<const MessageMapEntry> GetMessageMap() const override;
    void OnLButtonDown(WPARAM wParam, LPARAM lParam);
};
