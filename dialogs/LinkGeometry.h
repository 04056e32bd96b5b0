#pragma once
// Where a link label goes once it has been shrunk to its text, and whether a point lies on it.
// Kept free of Win32 so the arithmetic is checked on the host.
#include <cstdint>
#include <span>

struct LinkRect {
    int left = 0;
    int top = 0;
    int right = 0;
    int bottom = 0;

    friend bool operator==(const LinkRect&, const LinkRect&) = default;
};

struct TextExtent {
    int width = 0;
    int height = 0;
};

// The static-control style bits that decide how the text sits in its box.
inline constexpr std::uint32_t kLinkStyleCenter = 0x0001;
inline constexpr std::uint32_t kLinkStyleRight = 0x0002;
inline constexpr std::uint32_t kLinkStyleCenterImage = 0x0200;

// The box of a static control fitted around its text. Centred axes keep their centre: each
// edge moves by half the spare room, truncated toward zero, outwards when the text is the
// larger. Other axes keep the edge the text is aligned to. Coordinates stay within int.
LinkRect FitRectToText(const LinkRect& box, TextExtent text, std::uint32_t style);

// How wide a drawing is: one past the rightmost column of a row-major picture, width pixels a
// row, holding a pixel whose colour (the low 24 bits) is not the background's; 0 when none.
int InkedWidth(std::span<const std::uint32_t> pixels, int width, std::uint32_t background);

// Left and top edges belong to the rectangle, right and bottom edges do not.
bool LinkRectContains(const LinkRect& rect, int x, int y);
