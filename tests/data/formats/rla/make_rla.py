#!/usr/bin/python3
"""Writes the small Wavefront RLA fixtures of this folder byte by byte from the file layout
(no tool here writes the format). Pictures come from ../ppm/source-colours.ppm and
../psd/source-alpha.png. Run from this folder: /usr/bin/python3 make_rla.py"""
import struct

from PIL import Image


def text(value, size):
    return value.encode().ljust(size, b"\0")


def header(w, h, bottom_up, mattes, gamma=b"2.2", channel_type="rgb"):
    bottom, top = (0, h - 1) if bottom_up else (h - 1, 0)
    head = struct.pack(">8h", 0, w - 1, 0, h - 1, 0, w - 1, bottom, top)
    head += struct.pack(">6h", 0, 0, 3, mattes, 0, -2)
    head += gamma.ljust(16, b"\0")
    head += text("0.670 0.330", 24) + text("0.210 0.710", 24) + text("0.140 0.080", 24)
    head += text("0.310 0.316", 24)
    head += struct.pack(">i", 0)
    head += text("fixture", 128) + text("", 128) + text("make_rla.py", 64) + text("", 32)
    head += text("", 32) + text("", 20) + text("", 24) + text("1.0", 8)
    head += text(channel_type, 32) + struct.pack(">h", 0) + text("", 12) + text("", 32)
    head += struct.pack(">5h", 8, 0, 8, 0, 0) + text("", 32) + text("", 36)
    head += struct.pack(">i", 0)
    assert len(head) == 740
    return head


def rle(data):
    """Runs: count n >= 0 repeats the next byte n + 1 times; n < 0 copies -n bytes."""
    out, i = bytearray(), 0
    while i < len(data):
        run = 1
        while i + run < len(data) and data[i + run] == data[i] and run < 128:
            run += 1
        if run >= 2:
            out += struct.pack(">bB", run - 1, data[i])
            i += run
            continue
        j = i
        while j < len(data) and j - i < 128 and not (j + 1 < len(data) and data[j] == data[j + 1]):
            j += 1
        out += struct.pack(">b", -(j - i)) + data[i:j]
        i = j
    return bytes(out)


def write(name, im, bottom_up, gamma=b"2.2", channel_type="rgb"):
    w, h = im.size
    bands = len(im.getbands())
    rows_top_down = []
    for y in range(h):
        chans = []
        for band in range(bands):
            row = bytes(im.getpixel((x, y))[band] for x in range(w))
            packed = rle(row)
            chans.append(struct.pack(">h", len(packed)) + packed)
        rows_top_down.append(b"".join(chans))
    stored = list(reversed(rows_top_down)) if bottom_up else rows_top_down
    head = header(w, h, bottom_up, bands - 3, gamma, channel_type)
    offset = len(head) + 4 * h
    table, body = b"", b""
    for row in stored:
        table += struct.pack(">i", offset + len(body))
        body += row
    with open(name, "wb") as f:
        f.write(head + table + body)


colours = Image.open("../ppm/source-colours.ppm").convert("RGB")
alpha = Image.open("../psd/source-alpha.png").convert("RGBA")
write("rla-rgb-bottomup.rla", colours, True, gamma=b"1.0")
write("rla-rgb-topdown.rpf", colours, False, gamma=b"not a number")
write("rla-rgba-bottomup.rla", alpha, True, gamma=b"1.0")
write("rla-rgb-gamma22.rla", colours, True, gamma=b"2.2")
write("rla-xyz.rla", colours, True, gamma=b"1.0", channel_type="xyz")
