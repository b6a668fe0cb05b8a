#!/usr/bin/python3
"""Writes the Autodesk Animator CEL/PIC fixtures of this folder byte by byte from the file
layout (no tool here writes the format), each with a reference picture (.ref.ppm).
Run from this folder: /usr/bin/python3 make_autodesk.py"""
import struct

from PIL import Image

W, H = 13, 9


def index_at(x, y):
    return (x * 23 + y * 11) % 256


def colour6(i):
    """Components of 0..63, entry 255 the brightest."""
    return ((i * 5) % 64, (i // 4) % 64, 63 if i == 255 else (i * 13) % 64)


def write(name, compression):
    head = struct.pack("<HHHhhBBI", 0x9119, W, H, 0, 0, 8, compression, W * H).ljust(32, b"\0")
    palette = b"".join(bytes(colour6(i)) for i in range(256))
    pixels = bytes(index_at(x, y) for y in range(H) for x in range(W))
    with open(name, "wb") as f:
        f.write(head + palette + pixels)


write("autodesk-picture.cel", 0)
write("autodesk-compression1.pic", 1)
ref = Image.new("RGB", (W, H))
ref.putdata([tuple(c * 4 for c in colour6(index_at(x, y))) for y in range(H) for x in range(W)])
ref.save("autodesk-picture.ref.ppm")
