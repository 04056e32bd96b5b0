#pragma once
// Account names are shown on pages, in headers and printed one per line, so they are text a
// reader sees as it is: valid UTF-8 without control, format or direction-changing characters.
#include <cstddef>
#include <string_view>

inline constexpr std::size_t kMaxAccountLength = 64; // bytes

bool IsValidAccount(std::string_view account);
