#!/usr/bin/python3
"""Writes the SGI layouts no tool here writes, byte by byte: a verbatim grey-and-alpha file
(two channels) with its reference picture. Run from this folder:
/usr/bin/python3 make_sgi_variants.py"""
import struct

from PIL import Image

grey = Image.open("../ppm/source-grey.pgm").convert("L")
w, h = grey.size
header = struct.pack(">HBBHHHH", 474, 0, 1, 3, w, h, 2).ljust(512, b"\0")
planes = b""
for value in (lambda x, y: grey.getpixel((x, y)), lambda x, y: (x * 19 + y) % 256):
    for y in reversed(range(h)):  # the bottom row comes first
        planes += bytes(value(x, y) for x in range(w))
with open("sgi-grey-alpha.sgi", "wb") as f:
    f.write(header + planes)
grey.convert("RGB").save("sgi-grey-alpha.ref.ppm")
