#pragma once
// Base64 with the URL alphabet and without padding, as JSON Web Tokens, keys and PKCE write it.
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

std::string Base64Url(std::span<const uint8_t> bytes);
std::string Base64Url(std::string_view text);

// Strict: only the one spelling Base64Url gives (no padding, no blanks, no other alphabet, no
// stray bits in the last character); nothing for anything else.
std::optional<std::vector<uint8_t>> FromBase64Url(std::string_view text);
std::optional<std::string> TextFromBase64Url(std::string_view text);
