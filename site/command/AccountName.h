#pragma once
// Account names are shown on pages, in headers and printed one per line, so they are text a
// reader sees as it is: valid UTF-8 without control, format or direction-changing characters.
#include <cstddef>
#include <string_view>

inline constexpr std::size_t kMaxAccountLength = 64; // bytes

bool IsValidAccount(std::string_view account);

// Accounts beginning with '~' are the site's own: enrolment refuses them, so the probe's
// throwaway token can never be taken for anyone's.
inline constexpr std::string_view kProbeAccount = "~probe";
inline bool IsReservedAccount(std::string_view account)
{
    return account.starts_with('~');
}
