#pragma once
// lampup's table of library calls over an object of a test whose member functions are named
// after the library's functions. The table holds plain functions, so they reach the object
// through one pointer per type: the object last given to TableOf.
#include "lampup/TokenLibraries.h"

namespace lampup {

template <typename Implementation>
Implementation*& CurrentImplementation()
{
    static Implementation* current = nullptr;
    return current;
}

// A plain function of the slot's type that calls Member on the current object.
template <typename Implementation, auto Member, typename Result, typename... Arguments>
constexpr auto Forwarder(Result (*)(Arguments...))
{
    return +[](Arguments... arguments) -> Result {
        return (CurrentImplementation<Implementation>()->*Member)(arguments...);
    };
}

template <typename Implementation>
TokenLibraries TableOf(Implementation& implementation)
{
    CurrentImplementation<Implementation>() = &implementation;
    TokenLibraries table;
#define FORWARDED_SLOT(function) table.function = Forwarder<Implementation, &Implementation::function>(table.function);
    TOKEN_LIBRARY_FUNCTIONS(FORWARDED_SLOT)
#undef FORWARDED_SLOT
    return table;
}

} // namespace lampup
