#!/usr/bin/env python3
"""Draws the agent's icons and bitmap: a token (a steel button with a blue face) and the
reader it is touched to. Writes 16-colour .ico and .bmp files next to this script.

    python3 resources/make_images.py
"""
import math
import os
import struct

# The standard 16-colour palette, as (r, g, b).
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0),
    (0, 0, 128), (128, 0, 128), (0, 128, 128), (192, 192, 192),
    (128, 128, 128), (255, 0, 0), (0, 255, 0), (255, 255, 0),
    (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
BLACK, DARK_RED, DARK_GREEN, OLIVE, NAVY, PURPLE, TEAL, SILVER = range(8)
GREY, RED, GREEN, YELLOW, BLUE, MAGENTA, CYAN, WHITE = range(8, 16)


class Canvas:
    """Palette indices; None is transparent."""

    def __init__(self, width, height, fill=None):
        self.width, self.height = width, height
        self.pixels = [[fill] * width for _ in range(height)]

    def put(self, x, y, colour):
        if 0 <= x < self.width and 0 <= y < self.height:
            self.pixels[y][x] = colour

    def disc(self, cx, cy, radius, colour):
        for y in range(self.height):
            for x in range(self.width):
                if math.hypot(x + 0.5 - cx, y + 0.5 - cy) <= radius:
                    self.put(x, y, colour)

    def rect(self, left, top, right, bottom, colour):
        for y in range(top, bottom):
            for x in range(left, right):
                self.put(x, y, colour)

    def ellipse(self, cx, cy, rx, ry, colour):
        for y in range(self.height):
            for x in range(self.width):
                dx, dy = (x + 0.5 - cx) / rx, (y + 0.5 - cy) / ry
                if dx * dx + dy * dy <= 1.0:
                    self.put(x, y, colour)


def token(canvas, cx, cy, radius):
    """A steel button: dark rim, silver body, blue face with a highlight."""
    canvas.disc(cx, cy, radius, BLACK)
    canvas.disc(cx, cy, radius - 1, GREY)
    canvas.disc(cx - 0.3, cy - 0.3, radius - 1.6, SILVER)
    canvas.disc(cx, cy, radius * 0.62, NAVY)
    canvas.disc(cx, cy, radius * 0.62 - 1, BLUE)
    canvas.disc(cx - radius * 0.22, cy - radius * 0.22, max(radius * 0.16, 0.8), CYAN)


def reader(canvas, cx, top, width, height):
    """A reader cup on a short grip, seen from the side, with its cable."""
    half = width // 2
    canvas.ellipse(cx, top + height * 0.18, half, height * 0.18, BLACK)
    canvas.ellipse(cx, top + height * 0.18, half - 1, height * 0.18 - 1, GREY)
    canvas.ellipse(cx, top + height * 0.18, half - 3, height * 0.18 - 3, BLACK)
    grip_left, grip_right = cx - half // 2, cx + half // 2
    canvas.rect(grip_left, int(top + height * 0.30), grip_right, int(top + height * 0.80), BLACK)
    canvas.rect(grip_left + 1, int(top + height * 0.30), grip_right - 1, int(top + height * 0.80) - 1, GREY)
    canvas.rect(grip_left + 2, int(top + height * 0.32), grip_left + 4, int(top + height * 0.78), SILVER)
    lamp_y = int(top + height * 0.40)
    canvas.rect(cx - 2, lamp_y, cx + 2, lamp_y + 3, GREEN)
    for y in range(int(top + height * 0.80), top + height):
        bend = int(3 * math.sin((y - top) / 6.0))
        canvas.rect(cx - 1 + bend, y, cx + 2 + bend, y + 1, BLACK)


def icon_image(canvas):
    """One icon directory entry's image: 4-bit colour plus the 1-bit transparency mask."""
    w, h = canvas.width, canvas.height
    header = struct.pack("<IiiHHIIiiII", 40, w, h * 2, 1, 4, 0, 0, 0, 0, 16, 0)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    colour_rows, mask_rows = [], []
    for y in reversed(range(h)):
        row = canvas.pixels[y]
        nibbles = [(c if c is not None else 0) for c in row]
        data = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, w, 2))
        colour_rows.append(data + b"\0" * ((4 - len(data) % 4) % 4))
        bits = 0
        mask = bytearray()
        for x, c in enumerate(row):
            bits = (bits << 1) | (1 if c is None else 0)
            if x % 8 == 7:
                mask.append(bits)
                bits = 0
        mask_rows.append(bytes(mask) + b"\0" * ((4 - len(mask) % 4) % 4))
    return header + palette + b"".join(colour_rows) + b"".join(mask_rows)


def write_icon(path, canvases):
    images = [icon_image(c) for c in canvases]
    out = struct.pack("<HHH", 0, 1, len(images))
    offset = 6 + 16 * len(images)
    for canvas, image in zip(canvases, images):
        out += struct.pack("<BBBBHHII", canvas.width % 256, canvas.height % 256, 16, 0, 1, 4, len(image), offset)
        offset += len(image)
    with open(path, "wb") as f:
        f.write(out + b"".join(images))


def write_bitmap(path, canvas, background=WHITE):
    w, h = canvas.width, canvas.height
    rows = []
    for y in reversed(range(h)):
        nibbles = [(c if c is not None else background) for c in canvas.pixels[y]]
        data = bytes((nibbles[i] << 4) | nibbles[i + 1] for i in range(0, w, 2))
        rows.append(data + b"\0" * ((4 - len(data) % 4) % 4))
    pixels = b"".join(rows)
    palette = b"".join(struct.pack("BBBB", b, g, r, 0) for r, g, b in PALETTE)
    info = struct.pack("<IiiHHIIiiII", 40, w, h, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
    offset = 14 + len(info) + len(palette)
    header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
    with open(path, "wb") as f:
        f.write(header + info + palette + pixels)


def main():
    here = os.path.dirname(os.path.abspath(__file__))

    # 129: the tray icon, a token alone.
    tray = Canvas(16, 16)
    token(tray, 8, 8, 7.5)
    write_icon(os.path.join(here, "tray.ico"), [tray])

    # 128: the program's icon, a token resting on a reader cup.
    agent = Canvas(16, 16)
    reader(agent, 8, 7, 14, 9)
    token(agent, 8, 5, 5)
    write_icon(os.path.join(here, "agent.ico"), [agent])

    # 130: the dialogs' picture, a token touching a reader.
    large = Canvas(32, 32)
    reader(large, 16, 14, 26, 18)
    token(large, 16, 9, 8.5)
    small = Canvas(16, 16)
    reader(small, 8, 7, 14, 9)
    token(small, 8, 5, 5)
    write_icon(os.path.join(here, "token.ico"), [large, small])

    # 180: the logon prompt's picture, a reader with a token held above it.
    picture = Canvas(64, 96)
    reader(picture, 32, 40, 56, 56)
    token(picture, 32, 16, 14)
    write_bitmap(os.path.join(here, "reader.bmp"), picture)


if __name__ == "__main__":
    main()
