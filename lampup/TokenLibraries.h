#pragma once
// The seam between lampup's decisions and the maker's two token libraries (plus the one system
// call it makes): a table with one slot per library function, filled with the linked
// libraries' functions in the program and with a scripted fake's in tests.
#include "lampup/XobLibraryApi.h"

#include <cstdint>

namespace lampup {

struct TokenLibraries {
#define TOKEN_SLOT(function) decltype(&::function) function = nullptr;
    TOKEN_LIBRARY_FUNCTIONS(TOKEN_SLOT)
#undef TOKEN_SLOT
};

// The pause between failed command attempts, injectable so tests do not really wait.
class SystemPause {
public:
    virtual ~SystemPause() = default;
    virtual void Sleep(uint32_t milliseconds) = 0;
};

} // namespace lampup
