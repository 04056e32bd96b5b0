#pragma once
// What an operator pastes (an authenticator, a query, a logon URL) often carries blanks or a
// line end around it from the place it was copied; they are not part of it.
#include <string_view>

inline std::string_view TrimBlanks(std::string_view text)
{
    constexpr std::string_view kBlanks = " \t\r\n";
    const auto first = text.find_first_not_of(kBlanks);
    if (first == std::string_view::npos)
        return {};
    return text.substr(first, text.find_last_not_of(kBlanks) - first + 1);
}
