#include "lampup/Win32TokenLibraries.h"

#include <windows.h>

namespace lampup {

TokenLibraries LinkedTokenLibraries()
{
    TokenLibraries libraries;
#define LINKED_SLOT(function) libraries.function = &::function;
    TOKEN_LIBRARY_FUNCTIONS(LINKED_SLOT)
#undef LINKED_SLOT
    return libraries;
}

void Win32SystemPause::Sleep(uint32_t milliseconds)
{
    ::Sleep(milliseconds);
}

} // namespace lampup
