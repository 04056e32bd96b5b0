#pragma once
// The two answers to a logon that did not find exactly one token. OK closes them; they
// store nothing.
#include "framework/Dialog.h"

#include <span>

class NoTokenDialog final : public Dialog {
public:
    NoTokenDialog();

protected:
    std::span<const MessageMapEntry> GetMessageMap() const override;
};

class ManyTokensDialog final : public Dialog {
public:
    ManyTokensDialog();

protected:
    std::span<const MessageMapEntry> GetMessageMap() const override;
};
