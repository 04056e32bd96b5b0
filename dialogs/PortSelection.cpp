#include "dialogs/PortSelection.h"

#include <cstddef>

PortFlags PortFlagsFromMask(unsigned mask)
{
    PortFlags flags{};
    for (std::size_t i = 0; i < flags.size(); ++i)
        flags[i] = static_cast<int>((mask >> i) & 1u);
    return flags;
}

unsigned PortMaskFromFlags(const PortFlags& flags)
{
    unsigned mask = 0;
    for (std::size_t i = 0; i < flags.size(); ++i) {
        if (flags[i] != 0)
            mask |= 1u << i;
    }
    return mask;
}
