#pragma once
// Strict UTF-8: what JSON carries and what every text the provider echoes must be.
#include <optional>
#include <string>
#include <string_view>

// The next code point, taken off the front of text: no overlong forms, no surrogates, nothing
// past U+10FFFF; nothing (and text untouched) when the bytes are not that.
std::optional<char32_t> TakeCodePoint(std::string_view& text);

bool IsUtf8(std::string_view text);

void AppendUtf8(std::string& text, char32_t code);

// C0 controls, DEL and the C1 controls.
constexpr bool IsControl(char32_t code)
{
    return code < 0x20 || (code >= 0x7F && code <= 0x9F);
}
