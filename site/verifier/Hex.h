#pragma once
// Hexadecimal digits as the site reads and writes them: identities, session tokens.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

inline constexpr char kUpperHexDigits[] = "0123456789ABCDEF";

// 0-15 for a digit of either case, -1 for anything else.
constexpr int HexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    return -1;
}

// Two upper-case digits a byte, high nibble first.
inline std::string FormatHexBytes(std::span<const uint8_t> bytes)
{
    std::string text;
    text.reserve(2 * bytes.size());
    for (const uint8_t byte : bytes) {
        text += kUpperHexDigits[byte >> 4];
        text += kUpperHexDigits[byte & 0x0F];
    }
    return text;
}

// Exactly 2 * N digits of either case, high nibble first; nothing otherwise.
template <std::size_t N>
std::optional<std::array<uint8_t, N>> ParseHexBytes(std::string_view text)
{
    std::array<uint8_t, N> bytes{};
    if (text.size() != 2 * N)
        return std::nullopt;
    for (std::size_t i = 0; i < N; ++i) {
        const int high = HexDigitValue(text[2 * i]);
        const int low = HexDigitValue(text[2 * i + 1]);
        if (high < 0 || low < 0)
            return std::nullopt;
        bytes[i] = static_cast<uint8_t>(high << 4 | low);
    }
    return bytes;
}
