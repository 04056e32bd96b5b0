#include "site/command/AccountName.h"

#include <algorithm>
#include <cstdint>
#include <optional>

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

// The next code point of strict UTF-8 (no overlong forms, no surrogates, nothing past U+10FFFF);
// nothing when the bytes are not that.
std::optional<char32_t> NextCodePoint(std::string_view& text)
{
    const auto lead = static_cast<uint8_t>(text[0]);
    std::size_t length = 0;
    char32_t code = 0;
    char32_t least = 0;
    if (lead < 0x80) {
        length = 1, code = lead;
    } else if ((lead & 0xE0) == 0xC0) {
        length = 2, code = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
        length = 3, code = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
        length = 4, code = lead & 0x07, least = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() < length)
        return std::nullopt;
    for (std::size_t i = 1; i < length; ++i) {
        const auto next = static_cast<uint8_t>(text[i]);
        if ((next & 0xC0) != 0x80)
            return std::nullopt;
        code = code << 6 | (next & 0x3F);
    }
    if (code < least || code > 0x10FFFF || (code >= 0xD800 && code <= 0xDFFF))
        return std::nullopt;
    text.remove_prefix(length);
    return code;
}

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
        const auto code = NextCodePoint(account);
        if (!code || IsInvisible(*code))
            return false;
    }
    return true;
}
