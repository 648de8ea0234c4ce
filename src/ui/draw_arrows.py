#!/usr/bin/env python3
"""Draws header_arrows.bmp, the two sort arrows of the terms list's column header: a 28 x 14,
16-colour strip of two 14 x 14 images on silver (the image list's mask colour). Left: the
ascending arrow (pointing up), right: the descending one. Run it after changing a drawing."""
import struct, pathlib

# g = grey edge, w = white edge, . = silver (transparent)
UP = [
    "..............",
    "..............",
    "..............",
    "......gw......",
    "......gw......",
    ".....g..w.....",
    ".....g..w.....",
    "....g....w....",
    "....g....w....",
    "...g......w...",
    "...wwwwwwwww..",
    "..............",
    "..............",
    "..............",
]
DOWN = [
    "..............",
    "..............",
    "..............",
    "...gggggggggg.",
    "...g.......w..",
    "....g......w..",
    "....g.....w...",
    ".....g....w...",
    ".....g...w....",
    "......g..w....",
    "......g.w.....",
    ".......gw.....",
    "..............",
    "..............",
]

# The standard 16-colour palette (BGRX); indices: 7 silver, 8 grey, 15 white.
PALETTE = [
    (0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
    (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
    (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255),
]
INDEX = {".": 7, "g": 8, "w": 15}

width, height = 28, 14
rows = [UP[y] + DOWN[y] for y in range(height)]
stride = ((width * 4 + 31) // 32) * 4
pixels = bytearray()
for row in reversed(rows):  # bottom-up
    line = bytearray()
    for x in range(0, width, 2):
        line.append(INDEX[row[x]] << 4 | INDEX[row[x + 1]])
    pixels += line + bytes(stride - len(line))
palette = b"".join(struct.pack("<BBBB", b, g, r, 0) for (r, g, b) in PALETTE)
offset = 14 + 40 + len(palette)
header = struct.pack("<2sIHHI", b"BM", offset + len(pixels), 0, 0, offset)
info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 4, 0, len(pixels), 2835, 2835, 16, 0)
out = pathlib.Path(__file__).with_name("header_arrows.bmp")
out.write_bytes(header + info + palette + pixels)
