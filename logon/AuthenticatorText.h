#pragma once
// The authenticator as text, for everything that writes or reads it: hexadecimal digits
// (upper case when written, either case when read) and the one rule for a string someone
// pasted, so that the agent, the operator's tools and the site agree on what is the same string.
#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

inline constexpr std::size_t kAuthenticatorLength = 64;
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

constexpr bool IsHexDigit(char c)
{
    return HexDigitValue(c) >= 0;
}

// Two upper-case digits a byte, high nibble first.
std::string FormatHexBytes(std::span<const uint8_t> bytes);

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

// Blanks and line ends around a pasted text come from where it was copied, not from it.
std::string_view TrimBlanks(std::string_view text);

// A string copied through a mail or a chat may come back in lower or mixed case: it is the same
// string. Exactly 64 hex digits of either case give the encoder's upper case; else nothing.
std::optional<std::string> NormalizedAuthenticator(std::string_view text);
