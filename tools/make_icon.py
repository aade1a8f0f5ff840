#!/usr/bin/env python3
"""Draws the program's icon, a small application window, and writes it as a
.ico file: one 32x32 image with 16 colours (4 bits per pixel).

    python3 tools/make_icon.py resources/app.ico

The picture: a blue title bar with caption buttons, a grey menu strip with
dark marks for its items, and a white client area inside a grey edge, all in
a dark outline; the pixels around the window are transparent.
"""
import struct
import sys

SIZE = 32

# The 16 standard colours, as (red, green, blue), in their usual order.
PALETTE = [
    (0x00, 0x00, 0x00), (0x80, 0x00, 0x00), (0x00, 0x80, 0x00), (0x80, 0x80, 0x00),
    (0x00, 0x00, 0x80), (0x80, 0x00, 0x80), (0x00, 0x80, 0x80), (0xC0, 0xC0, 0xC0),
    (0x80, 0x80, 0x80), (0xFF, 0x00, 0x00), (0x00, 0xFF, 0x00), (0xFF, 0xFF, 0x00),
    (0x00, 0x00, 0xFF), (0xFF, 0x00, 0xFF), (0x00, 0xFF, 0xFF), (0xFF, 0xFF, 0xFF),
]
BLACK, NAVY, SILVER, GREY, BLUE, WHITE = 0, 4, 7, 8, 12, 15
TRANSPARENT = None

# The window's outer edge, in pixels (inclusive), top-left origin.
LEFT, TOP, RIGHT, BOTTOM = 1, 3, 30, 28


def draw():
    """Returns the picture as rows (top first) of palette indexes or TRANSPARENT."""
    rows = [[TRANSPARENT] * SIZE for _ in range(SIZE)]

    def fill(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                rows[y][x] = colour

    fill(LEFT, TOP, RIGHT, BOTTOM, BLACK)                 # outline
    fill(LEFT + 1, TOP + 1, RIGHT - 1, TOP + 5, BLUE)     # title bar
    fill(LEFT + 2, TOP + 2, LEFT + 8, TOP + 2, WHITE)     # caption text
    fill(LEFT + 2, TOP + 4, LEFT + 5, TOP + 4, WHITE)
    for right in (RIGHT - 2, RIGHT - 6):                  # caption buttons
        fill(right - 2, TOP + 2, right, TOP + 4, SILVER)
        fill(right - 1, TOP + 3, right - 1, TOP + 3, BLACK)
    fill(LEFT + 1, TOP + 6, RIGHT - 1, TOP + 9, SILVER)   # menu strip
    for x0 in (LEFT + 2, LEFT + 8, LEFT + 14):            # menu items
        fill(x0, TOP + 7, x0 + 3, TOP + 8, BLACK)
    fill(LEFT + 1, TOP + 10, RIGHT - 1, BOTTOM - 1, GREY)  # client edge
    fill(LEFT + 2, TOP + 11, RIGHT - 2, BOTTOM - 2, WHITE)  # client area
    fill(LEFT + 2, TOP + 11, RIGHT - 2, TOP + 11, NAVY)   # edge shadow
    return rows


def icon_image(rows):
    """The image as it is stored: header, palette, colour pixels, mask."""
    # Height 64: the colour pixels and the mask stacked, as icons count it.
    header = struct.pack('<IiiHHIIiiII', 40, SIZE, 2 * SIZE, 1, 4, 0,
                         SIZE * SIZE // 2 + SIZE * SIZE // 8, 0, 0, 0, 0)
    palette = b''.join(struct.pack('BBBB', b, g, r, 0) for r, g, b in PALETTE)
    pixels = bytearray()
    mask = bytearray()
    for row in reversed(rows):  # bottom row first
        colours = [BLACK if c is TRANSPARENT else c for c in row]
        pixels += bytes((colours[x] << 4) | colours[x + 1] for x in range(0, SIZE, 2))
        bits = 0
        for c in row:
            bits = (bits << 1) | (1 if c is TRANSPARENT else 0)
        mask += bits.to_bytes(SIZE // 8, 'big')
    image = header + palette + bytes(pixels) + bytes(mask)
    assert len(image) == 744, len(image)
    return image


def icon_file(image):
    """A .ico file holding the one image."""
    directory = struct.pack('<HHH', 0, 1, 1)
    entry = struct.pack('<BBBBHHII', SIZE, SIZE, 16, 0, 1, 4, len(image), 6 + 16)
    return directory + entry + image


def main():
    if len(sys.argv) != 2:
        sys.exit('usage: make_icon.py OUTPUT.ico')
    with open(sys.argv[1], 'wb') as out:
        out.write(icon_file(icon_image(draw())))


if __name__ == '__main__':
    main()
