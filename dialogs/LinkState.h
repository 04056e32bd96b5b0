#pragma once
// The link label's small decisions: how a mouse move changes hovering, and which colour
// the text takes. Free of Win32 so they are checked on the host.
#include <cstdint>

enum class HoverChange {
    None,  // state stays as it is
    Enter, // start hovering: repaint, then take the capture
    Leave, // stop hovering: release the capture, then repaint
};

// A move while idle always starts hovering: without the capture, the label only sees moves
// that are over it.
HoverChange HoverChangeForMove(bool hovering, bool pointerInside);

struct LinkColors {
    std::uint32_t link;
    std::uint32_t visited;
    std::uint32_t hover;
};

// Hover wins over visited, visited over the plain link colour.
std::uint32_t LinkTextColor(const LinkColors& colors, bool hovering, bool visited);

// A shell launch code above 32 means the page was handed over.
constexpr bool OpenSucceeded(unsigned code)
{
    return code > 32;
}
