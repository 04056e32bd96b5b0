#include "TrimText.h"

bool IsTrimmedWhiteSpace(unsigned char byte)
{
    return byte == ' ' || (byte >= '\t' && byte <= '\r');
}

std::string TrimWhiteSpace(std::string_view text, LeadByteTest isLeadByte)
{
    // One pass from the front, character by character: the trailing white space can only
    // be found this way, since a byte seen from the back may be a character's second half.
    std::size_t begin = text.size();
    std::size_t end = 0;
    std::size_t position = 0;
    while (position < text.size()) {
        const auto byte = static_cast<unsigned char>(text[position]);
        const std::size_t length = isLeadByte(byte) && position + 1 < text.size() ? 2 : 1;
        if (length == 2 || !IsTrimmedWhiteSpace(byte)) {
            if (begin == text.size())
                begin = position;
            end = position + length;
        }
        position += length;
    }
    if (begin >= end)
        return {};
    return std::string(text.substr(begin, end - begin));
}
