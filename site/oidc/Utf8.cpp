#include "site/oidc/Utf8.h"

#include <cstdint>

std::optional<char32_t> TakeCodePoint(std::string_view& text)
{
    if (text.empty())
        return std::nullopt;
    const auto lead = static_cast<uint8_t>(text[0]);
    std::size_t length = 1;
    char32_t code = lead;
    char32_t least = 0;
    if (lead >= 0x80) {
        if ((lead & 0xE0) == 0xC0)
            length = 2, code = lead & 0x1F, least = 0x80;
        else if ((lead & 0xF0) == 0xE0)
            length = 3, code = lead & 0x0F, least = 0x800;
        else if ((lead & 0xF8) == 0xF0)
            length = 4, code = lead & 0x07, least = 0x10000;
        else
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

bool IsUtf8(std::string_view text)
{
    while (!text.empty()) {
        if (!TakeCodePoint(text))
            return false;
    }
    return true;
}

void AppendUtf8(std::string& text, char32_t code)
{
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xC0 | code >> 6);
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xE0 | code >> 12);
        text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    } else {
        text += static_cast<char>(0xF0 | code >> 18);
        text += static_cast<char>(0x80 | (code >> 12 & 0x3F));
        text += static_cast<char>(0x80 | (code >> 6 & 0x3F));
        text += static_cast<char>(0x80 | (code & 0x3F));
    }
}
