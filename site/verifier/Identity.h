#pragma once
// A token's identity as operators see it: its 8 ROM bytes as 16 hexadecimal digits, family
// code first (as authdecode prints it).
#include "logon/Authenticator.h"

#include <optional>
#include <string>
#include <string_view>

// Upper-case.
std::string FormatIdentity(const RomBytes& identity);

// Exactly 16 hexadecimal digits, either case.
std::optional<RomBytes> ParseIdentity(std::string_view text);
