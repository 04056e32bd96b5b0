#include "dialogs/TrimText.h"

bool IsTrimmedWhiteSpace(unsigned char byte)
{
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

std::string TrimWhiteSpace(std::string_view text, ansi::LeadBytePredicate isLeadByte)
{
    // One pass from the front, character by character: the trailing white space can only
    // be found this way, since a byte seen from the back may be a character's second half.
    std::size_t begin = text.size();
    std::size_t end = 0;
    for (std::size_t position = 0, next = 0; position < text.size(); position = next) {
        next = ansi::NextCharacter(text, position, isLeadByte);
        if (next - position == 2 || !IsTrimmedWhiteSpace(static_cast<unsigned char>(text[position]))) {
            if (begin == text.size())
                begin = position;
            end = next;
        }
    }
    if (begin >= end)
        return {};
    return std::string(text.substr(begin, end - begin));
}
