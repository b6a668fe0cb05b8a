#!/usr/bin/python3
"""Writes the Paint Shop Pro fixtures of this folder byte by byte from the file layout
(no tool here writes the format). Pictures come from ../ppm/source-*.ppm and
../psd/source-alpha.png; pictures that exist nowhere else get a reference .ppm beside them.
Run from this folder: /usr/bin/python3 make_psp.py"""
import struct
import zlib

from PIL import Image

SIGNATURE = b"Paint Shop Pro Image File\n\x1a".ljust(32, b"\0")


def pixels(path):
    im = Image.open(path)
    return im, im.width, im.height


def block(version, block_id, data):
    head = b"~BK\0" + struct.pack("<H", block_id)
    if version == 3:
        head += struct.pack("<I", len(data))
    return head + struct.pack("<I", len(data)) + data


def chunk(version, body):
    return (struct.pack("<I", len(body) + 4) + body) if version > 3 else body


def attributes(version, w, h, depth, compression, grey=0, res=72.0, metric=1):
    body = struct.pack("<iidBHHHIBIiHI", w, h, res, metric, compression, depth, 1,
                       256 if depth == 8 else 0, grey, 0, 0, 1, 0)
    assert len(body) == 42
    return chunk(version, body)


def rle(data):
    out, i = bytearray(), 0
    while i < len(data):
        run = 1
        while i + run < len(data) and data[i + run] == data[i] and run < 127:
            run += 1
        if run > 2:
            out += bytes([128 + run, data[i]])
            i += run
        else:
            lit = data[i:i + min(127, len(data) - i)]
            # stop the literal where a run of three begins
            for k in range(len(lit) - 2):
                if lit[k] == lit[k + 1] == lit[k + 2]:
                    lit = lit[:max(k, 1)]
                    break
            out += bytes([len(lit)]) + lit
            i += len(lit)
    return bytes(out)


def channel(version, plane, channel_type, compression, bitmap_type=0):
    if compression == 1:
        stored = rle(plane)
    elif compression == 2:
        stored = zlib.compress(plane)
    else:
        stored = plane
    body = struct.pack("<IIHH", len(stored), len(plane), bitmap_type, channel_type)
    return block(version, 5, chunk(version, body) + stored)


def layer(version, layer_type, channels, name=b"Layer"):
    info = bytes([layer_type]) + bytes(114)
    if version == 3:
        head = name.ljust(256, b"\0") + info
        bitmap = struct.pack("<HH", 1, len(channels))
    else:
        head = chunk(version, struct.pack("<H", len(name)) + name + info)
        bitmap = chunk(version, struct.pack("<HH", 1, len(channels)))
    return block(version, 4, head + bitmap + b"".join(channels))


def header(version):
    return SIGNATURE + struct.pack("<HH", version, 0)


def planes_rgb(im):
    im = im.convert("RGB")
    return [bytes(im.getdata(band=b)) for b in range(3)]


def packed_rows(indices, w, h, bits):
    row_len = {1: (w + 7) // 8, 4: w // 2 + 1, 8: w}[bits]
    out = bytearray()
    for y in range(h):
        row = bytearray(row_len)
        for x in range(w):
            v = indices[y * w + x]
            bit = x * bits
            row[bit // 8] |= v << (8 - bits - bit % 8)
        out += row
    return bytes(out)


def write(name, data):
    with open(name, "wb") as f:
        f.write(data)


def rgb_file(version, compression, name, res=72.0, metric=1, first_vector=False,
             odd_channel=False):
    im, w, h = pixels("../ppm/source-colours.ppm")
    r, g, b = planes_rgb(im)
    chans = [channel(version, r, 1, compression), channel(version, g, 2, compression),
             channel(version, b, 3, compression)]
    if odd_channel:  # a channel of a type this reader does not know, stored first
        chans.insert(0, channel(version, bytes(range(40)), 7, compression))
    layers = []
    if first_vector:
        layers.append(layer(version, 2, [channel(version, bytes(w * h), 1, compression)]))
    layers.append(layer(version, 0 if version == 3 else 1, chans))
    data = header(version) + block(version, 0, attributes(version, w, h, 24, compression,
                                                          res=res, metric=metric))
    data += block(version, 1, b"creator block, skipped")
    data += block(version, 3, b"".join(layers))
    write(name, data)


def rgba_file(name):
    im = Image.open("../psd/source-alpha.png").convert("RGBA")
    w, h = im.size
    bands = [bytes(im.getdata(band=k)) for k in range(4)]
    chans = [channel(5, bands[0], 1, 1), channel(5, bands[1], 2, 1), channel(5, bands[2], 3, 1),
             channel(5, bands[3], 0, 1, bitmap_type=1)]
    data = header(5) + block(5, 0, attributes(5, w, h, 24, 1))
    data += block(5, 3, layer(5, 1, chans))
    write(name, data)


def indexed_file(name, bits, compression):
    im = Image.open("../ppm/source-sixteen.ppm").convert("RGB")
    w, h = im.size
    colours = sorted(set(im.getdata()))
    if bits == 1:
        colours = [(20, 40, 60), (230, 220, 210)]
        indices = [((x * 7 + y * 3) // 5) % 2 for y in range(h) for x in range(w)]
    else:
        indices = [colours.index(p) for p in im.getdata()]
    palette = struct.pack("<I", len(colours)) + b"".join(bytes([b, g, r, 0]) for r, g, b in colours)
    data = header(5) + block(5, 0, attributes(5, w, h, bits, compression))
    data += block(5, 2, chunk(5, palette))
    data += block(5, 3, layer(5, 1, [channel(5, packed_rows(indices, w, h, bits), 0, compression)]))
    write(name, data)
    ref = Image.new("RGB", (w, h))
    ref.putdata([colours[i] for i in indices])
    ref.save(name.rsplit(".", 1)[0] + ".ref.ppm")


def grey_file(name):
    im = Image.open("../ppm/source-grey.pgm")
    w, h = im.size
    data = header(5) + block(5, 0, attributes(5, w, h, 8, 1, grey=1))
    data += block(5, 3, layer(5, 1, [channel(5, bytes(im.getdata()), 0, 1)]))
    write(name, data)


rgb_file(5, 1, "psp-rgb-rle.psp", res=100.0, metric=2)
rgb_file(5, 2, "psp-rgb-lz77.psp")
rgb_file(3, 0, "psp-rgb-v3-raw.psp")
rgb_file(5, 1, "psp-rgb-vector-first.psp", first_vector=True)
rgb_file(5, 1, "psp-rgb-odd-channel.psp", odd_channel=True)
rgba_file("psp-rgba-rle.psp")
indexed_file("psp-indexed8.psp", 8, 1)
indexed_file("psp-indexed4.psp", 4, 0)
indexed_file("psp-indexed1.psp", 1, 2)
grey_file("psp-grey8.psp")
