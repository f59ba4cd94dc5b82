#!/usr/bin/env python3
"""Draws the program's icon: a directory tree (a root entry and three children) on a blue tile.

Writes Quindral.ico (one 32 x 32 image in 256 colours, for the Windows executable and window) and
quindral.png (the same image, for the Linux window and the desktop entry). Run it from anywhere;
the files land beside this script.
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


def draw():
    pixels = [[TRANSPARENT] * SIZE for _ in range(SIZE)]
    # A tile with rounded corners and a darker edge.
    for y in range(SIZE):
        for x in range(SIZE):
            cx = min(x, SIZE - 1 - x)
            cy = min(y, SIZE - 1 - y)
            if cx < 4 and cy < 4 and (4 - cx) ** 2 + (4 - cy) ** 2 > 17:
                continue
            pixels[y][x] = EDGE if cx == 0 or cy == 0 else TILE

    def box(x0, y0, x1, y1, colour):
        for y in range(y0, y1 + 1):
            for x in range(x0, x1 + 1):
                pixels[y][x] = colour

    box(15, 9, 16, 15, LINE)        # trunk from the root down
    box(7, 15, 24, 16, LINE)        # branch
    for x in (7, 15, 23):
        box(x, 15, x + 1, 20, LINE)  # down to each child
    box(11, 4, 20, 9, ROOT)         # the root entry
    for x in (4, 12, 20):
        box(x, 20, x + 7, 26, NODE)  # its children
    return pixels


def write_png(path, pixels):
    rows = b""
    for row in pixels:
        rows += b"\x00" + b"".join(
            bytes(PALETTE[c]) + (b"\x00" if c == TRANSPARENT else b"\xff") for c in row)

    def chunk(kind, data):
        body = kind + data
        return struct.pack(">I", len(data)) + body + struct.pack(">I", zlib.crc32(body))

    header = struct.pack(">IIBBBBB", SIZE, SIZE, 8, 6, 0, 0, 0)
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
