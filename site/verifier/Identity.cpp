#include "site/verifier/Identity.h"

#include "site/verifier/Hex.h"

std::string FormatIdentity(const RomBytes& identity)
{
    std::string text;
    for (const uint8_t byte : identity) {
        text += kUpperHexDigits[byte >> 4];
        text += kUpperHexDigits[byte & 0x0F];
    }
    return text;
}

std::optional<RomBytes> ParseIdentity(std::string_view text)
{
    RomBytes identity{};
    if (text.size() != 2 * identity.size())
        return std::nullopt;
    for (std::size_t i = 0; i < identity.size(); ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        identity[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return identity;
}
