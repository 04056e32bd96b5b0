#pragma once
// The verification API's signatures: base64 of HMAC-SHA256 under a client's key, over
// name=value fields sorted by name and joined with '&'.
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

// The text that is signed: the fields sorted by name, each name=value, joined with '&'.
std::string SignedText(Fields fields);
std::string Sign(const SigningKey& key, const Fields& fields);
// In time that does not depend on where the two differ.
bool SameSignature(std::string_view expected, std::string_view given);
