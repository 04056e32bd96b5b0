#pragma once
// Text in the program's ANSI code page, walked byte by byte. In a double-byte code page a lead
// byte and the byte after it are one character, and that second byte may well be a backslash,
// a quote or a blank: every walk over such text steps with NextCharacter, never byte by byte.
#include <cstddef>
#include <string_view>

namespace ansi {

// Tells whether a byte opens a two-byte character.
using LeadBytePredicate = bool (*)(unsigned char byte);

// For single-byte code pages: no byte leads.
inline bool NoLeadBytes(unsigned char)
{
    return false;
}

// The lead bytes of the code page the program runs with. Windows only.
bool IsLeadByte(unsigned char byte);

// Where the character after the one starting at `at` starts. A lead byte at the very end, with
// no byte after it, is a character of its own.
constexpr std::size_t NextCharacter(std::string_view text, std::size_t at, LeadBytePredicate isLeadByte)
{
    const bool pair = at + 1 < text.size() && isLeadByte(static_cast<unsigned char>(text[at]));
    return at + (pair ? 2 : 1);
}

} // namespace ansi
