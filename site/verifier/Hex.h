#pragma once
// Hexadecimal digits as the site reads and writes them.

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
