#include "dialogs/LinkGeometry.h"

#include <algorithm>
#include <cstdint>
#include <limits>

namespace {

// Window coordinates come from outside; widening keeps huge boxes or extents from
// overflowing, and the clamp keeps the result a valid rectangle value.
int ClampToInt(std::int64_t value)
{
    return static_cast<int>(
        std::clamp<std::int64_t>(value, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

struct Span {
    std::int64_t low;
    std::int64_t high;
};

Span CentreOn(Span span, std::int64_t length)
{
    // Integer division truncates toward zero, for spare room that is negative as well.
    const std::int64_t shift = ((span.high - span.low) - length) / 2;
    return {span.low + shift, span.high - shift};
}

} // namespace

LinkRect FitRectToText(const LinkRect& box, TextExtent text, std::uint32_t style)
{
    Span vertical{box.top, box.bottom};
    if (style & kLinkStyleCenterImage) {
        vertical = CentreOn(vertical, text.height);
    } else {
        vertical.high = vertical.low + text.height;
    }

    Span horizontal{box.left, box.right};
    if (style & kLinkStyleCenter) {
        horizontal = CentreOn(horizontal, text.width);
    } else if (style & kLinkStyleRight) {
        horizontal.low = horizontal.high - text.width;
    } else {
        horizontal.high = horizontal.low + text.width;
    }

    return {ClampToInt(horizontal.low), ClampToInt(vertical.low), ClampToInt(horizontal.high),
            ClampToInt(vertical.high)};
}

int InkedWidth(std::span<const std::uint32_t> pixels, int width, std::uint32_t background)
{
    if (width <= 0)
        return 0;
    int inked = 0;
    for (std::size_t i = 0; i < pixels.size(); ++i) {
        const int column = static_cast<int>(i % static_cast<std::size_t>(width));
        if (column >= inked && ((pixels[i] ^ background) & 0xFFFFFF) != 0)
            inked = column + 1;
    }
    return inked;
}

bool LinkRectContains(const LinkRect& rect, int x, int y)
{
    return x >= rect.left && x < rect.right && y >= rect.top && y < rect.bottom;
}
