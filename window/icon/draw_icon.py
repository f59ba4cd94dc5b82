#!/usr/bin/env python3
"""Draws the program's icon: a directory tree (a root entry and three children) on a blue tile.

The design is laid out on a grid of 32 units. Writes Quindral.ico (one 32 x 32 image in 256
colours, for the Windows executable and window), quindral.png (the same image, for the Linux
window), and for the desktop's icon theme the design at every size it asks for,
hicolor/<N>x<N>/apps/quindral.png, and as a scalable hicolor/scalable/apps/quindral.svg. Run it
from anywhere; the files land beside this script.
"""
import os
import struct
import zlib

SIZE = 32
TRANSPARENT, TILE, EDGE, NODE, LINE, ROOT = range(6)
PALETTE = {
    TRANSPARENT: (0, 0, 0),
    TILE: (32, 92, 168),
    EDGE: (18, 56, 112),
    NODE: (250, 250, 250),
    LINE: (200, 220, 245),
    ROOT: (255, 196, 40),
}


THEME_SIZES = (16, 22, 24, 32, 48, 64, 128, 256)
# The tile's corners are arcs about (4.5, 4.5) from each corner, and its edge is one unit wide.
CORNER_CENTRE, CORNER_RADIUS_SQUARED = 4.5, 17
# The tree, as boxes of whole units (left, top, right, bottom, all inclusive) drawn in order.
BOXES = [
    (15, 9, 16, 15, LINE),   # trunk from the root down
    (7, 15, 24, 16, LINE),   # branch
    (7, 15, 8, 20, LINE),    # down to each child
    (15, 15, 16, 20, LINE),
    (23, 15, 24, 20, LINE),
    (11, 4, 20, 9, ROOT),    # the root entry
    (4, 20, 11, 26, NODE),   # its children
    (12, 20, 19, 26, NODE),
    (20, 20, 27, 26, NODE),
]


def colour_at(u, v):
    """The colour of the design at (u, v), in units of the grid."""
    cx = min(u, SIZE - u)
    cy = min(v, SIZE - v)
    if (cx < CORNER_CENTRE - 0.5 and cy < CORNER_CENTRE - 0.5 and
            (CORNER_CENTRE - cx) ** 2 + (CORNER_CENTRE - cy) ** 2 > CORNER_RADIUS_SQUARED):
        return TRANSPARENT
    colour = EDGE if cx < 1 or cy < 1 else TILE
    for left, top, right, bottom, box in BOXES:
        if left <= u < right + 1 and top <= v < bottom + 1:
            colour = box
    return colour


def draw(size=SIZE):
    """The design at size x size pixels, each pixel the colour at its centre."""
    scale = SIZE / size
    return [[colour_at((x + 0.5) * scale, (y + 0.5) * scale) for x in range(size)]
            for y in range(size)]


def write_svg(path):
    def rgb(colour):
        return "#%02x%02x%02x" % PALETTE[colour]

    shapes = [
        '<rect width="32" height="32" rx="4.5" fill="%s"/>' % rgb(EDGE),
        '<rect x="1" y="1" width="30" height="30" rx="3.5" fill="%s"/>' % rgb(TILE),
    ] + ['<rect x="%d" y="%d" width="%d" height="%d" fill="%s"/>' %
         (left, top, right + 1 - left, bottom + 1 - top, rgb(box))
         for left, top, right, bottom, box in BOXES]
    with open(path, "w") as out:
        out.write('<svg xmlns="http://www.w3.org/2000/svg" width="32" height="32" '
                  'viewBox="0 0 32 32">\n  ' + "\n  ".join(shapes) + "\n</svg>\n")


def write_png(path, pixels):
    rows = b""
    for row in pixels:
        rows += b"\x00" + b"".join(
            bytes(PALETTE[c]) + (b"\x00" if c == TRANSPARENT else b"\xff") for c in row)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", len(pixels[0]), len(pixels), 8, 6, 0, 0, 0)
    with open(path, "wb") as out:
        out.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", header) +
                  chunk(b"IDAT", zlib.compress(rows, 9)) + chunk(b"IEND", b""))


def write_ico(path, pixels):
    palette = b"".join(bytes((b, g, r, 0)) for r, g, b in
                       (PALETTE.get(i, (0, 0, 0)) for i in range(256)))
    xor = b"".join(bytes(row) for row in reversed(pixels))
    mask = b""
    for row in reversed(pixels):
        bits = 0
        for x, c in enumerate(row):
            if c == TRANSPARENT:
                bits |= 1 << (31 - x)
        mask += struct.pack(">I", bits)
    info = struct.pack("<IiiHHIIiiII", 40, SIZE, SIZE * 2, 1, 8, 0, len(xor) + len(mask),
                       0, 0, 256, 0)
    image = info + palette + xor + mask
    directory = struct.pack("<HHH", 0, 1, 1) + struct.pack(
        "<BBBBHHII", SIZE, SIZE, 0, 0, 1, 8, len(image), 6 + 16)
    with open(path, "wb") as out:
        out.write(directory + image)


if __name__ == "__main__":
    here = os.path.dirname(os.path.abspath(__file__))
    image = draw()
    write_png(os.path.join(here, "quindral.png"), image)
    write_ico(os.path.join(here, "Quindral.ico"), image)
    for size in THEME_SIZES:
        folder = os.path.join(here, "hicolor", "%dx%d" % (size, size), "apps")
        os.makedirs(folder, exist_ok=True)
        write_png(os.path.join(folder, "quindral.png"), draw(size))
    folder = os.path.join(here, "hicolor", "scalable", "apps")
    os.makedirs(folder, exist_ok=True)
    write_svg(os.path.join(folder, "quindral.svg"))
