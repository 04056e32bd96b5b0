#pragma once
// The authenticator: a token's 8 ROM bytes mixed with a fresh random key and filler into 64
// hexadecimal characters, different at every logon, which the web server can decode
// without any shared secret.
#include "discovery/RomRecord.h"
#include "logon/AuthenticatorText.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

using RomBytes = std::array<uint8_t, 8>;

// The 32 bytes as the encoder placed them before mixing: random filler, the key and the masked
// identity in their places. Byte i is the generator's draw i + 1, unless key or identity
// replaced it.
using AuthenticatorBlock = std::array<uint8_t, kAuthenticatorLength / 2>;

// Seeds this thread's generator with tickCount and encodes the low byte of each cell.
// Always 64 characters 0-9, A-F.
std::string EncodeAuthenticator(const RomRecord& rom, uint32_t tickCount);

// The block with the mixing undone, or nothing when text is not exactly 64 hexadecimal
// characters (either case).
std::optional<AuthenticatorBlock> UnmixAuthenticator(std::string_view text);

// The ROM bytes (family code first), or nothing when text is not exactly 64 hexadecimal
// characters (either case) or its key is not a positive 32-bit number.
std::optional<RomBytes> DecodeAuthenticator(std::string_view text);
