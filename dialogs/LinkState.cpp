#include "dialogs/LinkState.h"

HoverChange HoverChangeForMove(bool hovering, bool pointerInside)
{
    if (!hovering) {
        return HoverChange::Enter;
    }
    return pointerInside ? HoverChange::None : HoverChange::Leave;
}

std::uint32_t LinkTextColor(const LinkColors& colors, bool hovering, bool visited)
{
    if (hovering) {
        return colors.hover;
    }
    return visited ? colors.visited : colors.link;
}
