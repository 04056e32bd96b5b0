#include "logon/AuthenticatorText.h"

#include <algorithm>

std::string FormatHexBytes(std::span<const uint8_t> bytes)
{
    std::string text;
    text.reserve(2 * bytes.size());
    for (const uint8_t byte : bytes) {
        text += kUpperHexDigits[byte >> 4];
        text += kUpperHexDigits[byte & 0x0F];
    }
    return text;
}

std::string_view TrimBlanks(std::string_view text)
{
    constexpr std::string_view kBlanks = " \t\r\n";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}

std::optional<std::string> NormalizedAuthenticator(std::string_view text)
{
    if (text.size() != kAuthenticatorLength || !std::all_of(text.begin(), text.end(), IsHexDigit))
        return std::nullopt;
    std::string upper(text.size(), '0');
    std::transform(text.begin(), text.end(), upper.begin(), [](char c) { return kUpperHexDigits[HexDigitValue(c)]; });
    return upper;
}
