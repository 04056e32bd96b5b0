#include "site/command/AccountName.h"

#include "site/oidc/Utf8.h"

#include <algorithm>

namespace {

struct CodeRange {
    char32_t first;
    char32_t last;
};

// Characters that change how text around them looks or reads without showing themselves:
// controls, the format characters (the direction overrides and isolates among them) and the
// line and paragraph separators.
constexpr CodeRange kInvisible[] = {
    {0x0000, 0x001F},   {0x007F, 0x009F},   {0x00AD, 0x00AD},   {0x0600, 0x0605},   {0x061C, 0x061C},
    {0x06DD, 0x06DD},   {0x070F, 0x070F},   {0x0890, 0x0891},   {0x08E2, 0x08E2},   {0x180E, 0x180E},
    {0x200B, 0x200F},   {0x2028, 0x202E},   {0x2060, 0x2064},   {0x2066, 0x206F},   {0xFEFF, 0xFEFF},
    {0xFFF9, 0xFFFB},   {0x110BD, 0x110BD}, {0x110CD, 0x110CD}, {0x13430, 0x1343F}, {0x1BCA0, 0x1BCA3},
    {0x1D173, 0x1D17A}, {0xE0001, 0xE0001}, {0xE0020, 0xE007F},
};

bool IsInvisible(char32_t code)
{
    return std::any_of(std::begin(kInvisible), std::end(kInvisible),
                       [code](const CodeRange& range) { return code >= range.first && code <= range.last; });
}

} // namespace

bool IsValidAccount(std::string_view account)
{
    if (account.empty() || account.size() > kMaxAccountLength)
        return false;
    while (!account.empty()) {
        const auto code = TakeCodePoint(account);
        if (!code || IsInvisible(*code))
            return false;
    }
    return true;
}
