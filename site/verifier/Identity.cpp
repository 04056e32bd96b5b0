#include "site/verifier/Identity.h"

#include "logon/AuthenticatorText.h"

std::string FormatIdentity(const RomBytes& identity)
{
    return FormatHexBytes(identity);
}

std::optional<RomBytes> ParseIdentity(std::string_view text)
{
    return ParseHexBytes<std::tuple_size_v<RomBytes>>(text);
}
