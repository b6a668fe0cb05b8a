#!/usr/bin/python3
"""Writes the Dr. Halo CUT and PAL fixtures of this folder byte by byte from the file layout
(no tool here writes the format), each with a reference picture (.ref.ppm) of what it shows.
Run from this folder: /usr/bin/python3 make_cut.py"""
import struct

from PIL import Image

W, H = 13, 9


def index_at(x, y):
    return (x * 17 + y * 41 + (x * y) % 7) % 256


def rle_row(row):
    """Packets: 0x80 | n repeats the next byte n times; n (< 0x80) copies n bytes; 0 ends."""
    out, i = bytearray(), 0
    while i < len(row):
        run = 1
        while i + run < len(row) and row[i + run] == row[i] and run < 127:
            run += 1
        if run >= 3:
            out += bytes([0x80 | run, row[i]])
            i += run
            continue
        j = i
        while j < len(row) and j - i < 127 and not (j + 2 < len(row) and row[j] == row[j + 1] == row[j + 2]):
            j += 1
        out += bytes([j - i]) + bytes(row[i:j])
        i = j
    out += b"\0"
    return struct.pack("<H", len(out)) + bytes(out)


def rows():
    result = []
    for y in range(H):
        row = [index_at(x, y) for x in range(W)]
        if y == 4:
            row = [200] * W  # a whole row in one run
        result.append(row)
    return result


def colour(i):
    return ((i * 3) % 256, (255 - i) % 256, (i * 7 + 11) % 256)


def palette_file(count, highest):
    """Entries of 6 bytes from offset 40; none crosses a 512-byte block."""
    head = b"AH" + struct.pack("<HHBBHH", 0x300, 512, 0x0A, 0, 0, 0)
    head += struct.pack("<HHHH", highest, 255, 255, 255) + b"Dr. Halo".ljust(20, b"\0")
    assert len(head) == 40
    blocks, block = [], bytearray(head)
    for i in range(count):
        if len(block) > 506:
            blocks.append(bytes(block).ljust(512, b"\0"))
            block = bytearray()
        r, g, b = colour(i)
        block += struct.pack("<HHH", r, g, b)
    blocks.append(bytes(block).ljust(512, b"\0"))
    return b"".join(blocks)


def write_cut(name):
    data = struct.pack("<HHH", W, H, 0) + b"".join(rle_row(r) for r in rows())
    with open(name, "wb") as f:
        f.write(data)


def reference(name, lookup):
    im = Image.new("RGB", (W, H))
    im.putdata([lookup(i) for r in rows() for i in r])
    im.save(name)


write_cut("cut-picture.cut")
with open("cut-picture.pal", "wb") as f:
    f.write(palette_file(256, 255))
reference("cut-picture.ref.ppm", colour)
reference("cut-grey.ref.ppm", lambda i: (i, i, i))
write_cut("cut-overfull.cut")
with open("cut-overfull.pal", "wb") as f:  # names index 299: more entries than a palette holds
    f.write(palette_file(300, 299))
