#pragma once
// The verification API's signatures: base64 of HMAC-SHA256 under a client's key, over the
// fields sorted by name, each name=value, joined with '&'. Version 2 percent-encodes every name
// and value first (RFC 3986: A-Za-z0-9-._~ kept, every other byte %XX in upper-case hex), so
// that an '&' or '=' inside a value can never move the boundary between two fields; version 1
// writes them as they are.
#include <array>
#include <cstdint>

#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

using Fields = std::vector<std::pair<std::string, std::string>>;
using SigningKey = std::array<uint8_t, 32>;

std::string Base64(std::span<const uint8_t> bytes);
// Standard base64 with its padding; nothing for anything else.
std::optional<std::vector<uint8_t>> FromBase64(std::string_view text);

enum class SignatureVersion { One, Two };

// Every byte but A-Za-z0-9-._~ as %XX, upper-case hexadecimal.
std::string PercentEncoded(std::string_view text);
// The text that is signed.
std::string SignedText(Fields fields, SignatureVersion version);
std::string Sign(const SigningKey& key, const Fields& fields, SignatureVersion version);
// In time that does not depend on where the two differ.
bool SameSignature(std::string_view expected, std::string_view given);
