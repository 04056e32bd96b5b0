#include "platform/AnsiText.h"

#include <windows.h>

namespace ansi {

bool IsLeadByte(unsigned char byte)
{
    return IsDBCSLeadByte(byte) != FALSE;
}

} // namespace ansi
