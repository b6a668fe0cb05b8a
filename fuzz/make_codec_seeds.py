#!/usr/bin/python3
"""Writes the seed inputs of the decoder fuzz targets into fuzz/corpus/<target>/.

Each seed is four header bytes (decoder parameter, target size in 64-byte steps and a
remainder, count mode; see targets/CodecFuzz.h) and then coded data: the packet examples of
the decoder tests, zlib streams from Python's zlib, and pieces of the fax and JPEG fixtures in
tests/data/codecs, which libtiff, Pillow and Netpbm wrote."""
import os
import struct
import zlib

root = os.path.dirname(os.path.abspath(__file__))
data = os.path.join(root, "..", "tests", "data", "codecs")


def seed(target, name, parameter, target_size, mode, coded):
    folder = os.path.join(root, "corpus", target)
    os.makedirs(folder, exist_ok=True)
    header = bytes([parameter, target_size // 64, target_size % 64, mode])
    with open(os.path.join(folder, name), "wb") as f:
        f.write(header + bytes(coded))


def fixture(name):
    with open(os.path.join(data, name), "rb") as f:
        return f.read()


seed("packbits", "examples", 0, 16, 0, [0x02, 65, 66, 67, 0xFE, 88, 0x80, 0x00, 81])
seed("packbits", "cut", 0, 16, 1, [0x05, 1, 2, 0xFD])
seed("pcx_rle", "examples", 0, 16, 0, [0xC3, 7, 0x3F, 0xC0, 5, 0xFF, 3])
seed("pcx_rle", "cut", 0, 70, 1, [0x01, 0xC4])
seed("targa_rle", "rgb", 3, 64, 0, [0x81, 1, 2, 3, 0x01, 1, 2, 3, 4, 5, 6, 0xFF, 9, 9, 9])
seed("targa_rle", "grey", 0, 8, 1, [0x83, 9, 0x00, 5, 0x7F])
seed("sgi_rle", "eight", 0, 16, 0, [0x83, 1, 2, 3, 0x05, 86, 0x00])
seed("sgi_rle", "sixteen", 1, 16, 0, [0x00, 0x82, 0x12, 0x34, 0x56, 0x78, 0x00, 0x02, 0xAB, 0xCD, 0, 0])
seed("cut_rle", "row", 0, 16, 0, [0x06, 0x00, 0x83, 9, 0x02, 1, 2, 0x00, 0x55])
seed("psp_rle", "examples", 0, 16, 0, [0x03, 1, 2, 3, 0x83, 86, 0xFF, 3])
seed("rla_rle", "examples", 0, 16, 0, [0x02, 86, 0xFE, 1, 2, 0x80, 1, 2])
text = b"Tilvorn turns one picture into a poster made of many printer sheets. " * 20
seed("lz77", "stream", 4 | 1, 1500, 0, zlib.compress(text))
seed("lz77", "stream_finish", 3, 1500, 0, zlib.compress(text, 9))
seed("lz77", "stream_short_target", 1, 100, 0, zlib.compress(text))
seed("lz77", "corrupt", 1, 200, 0, zlib.compress(text)[:40] + b"\x00\xff" * 8)
seed("thunder", "lines", 2, 8, 0, [0xC5, 0xC7, 0x03, 0x5E, 0x95, 0xA1, 0xC1, 0x3F, 0xC2])
seed("thunder", "odd", 0x83, 8, 0, [0xC1, 0xC2, 0xC3, 0xC4, 0xC5, 0xC6, 0x41, 0x81])
seed("fax_mh", "rows", 1 << 2, 8, 0, [0x83, 0x72, 0x7C, 0x00])  # width 30
seed("fax_mh", "word_aligned", 1, 8, 0, [0x7C, 0xAA, 0x83])
seed("fax_mh", "libtiff", 63 << 2, 3000, 0, fixture("mh.fax")[:600])  # width 1828
seed("fax_mh", "libtiff_word", (63 << 2) | 1, 3000, 0, fixture("mhw.fax")[:600])
seed("fax3", "rows", 0, 8, 0, [0x00, 0x18, 0x30, 0x00, 0x10, 0x1F])
seed("fax3", "libtiff", 146, 3000, 0, fixture("g3_1d.fax")[:600])  # width 1899
seed("fax3", "libtiff_reversed", 146 | 2, 3000, 0, fixture("g3_1d_fill_lsb.fax")[:600])
seed("fax3", "two_dimensional", 147, 3000, 0, fixture("g3_2d.fax")[:600])


def jpeg_seed(name, model_bits, file):
    raw = fixture(file)
    big = raw[:2] == b"MM"
    u16 = lambda at: struct.unpack((">" if big else "<") + "H", raw[at:at + 2])[0]
    u32 = lambda at: struct.unpack((">" if big else "<") + "I", raw[at:at + 4])[0]
    ifd = u32(4)
    tags = {}
    for i in range(u16(ifd)):
        e = ifd + 2 + 12 * i
        tag, typ, count = u16(e), u16(e + 2), u32(e + 4)
        size = {3: 2, 4: 4}.get(typ, 1)
        at = e + 8 if count * size <= 4 else u32(e + 8)
        tags[tag] = (at, count, size)
    def first(tag):
        at, count, size = tags[tag]
        return u16(at) if size == 2 else u32(at) if size == 4 else raw[at]
    tables = raw[tags[347][0]:tags[347][0] + tags[347][1]]
    strip = raw[first(273):first(273) + first(279)]
    width = first(256) - 1
    folder = os.path.join(root, "corpus", "tiff_jpeg")
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(bytes([model_bits, width >> 8, width & 0xFF, first(278) - 1, len(tables) >> 8, len(tables) & 0xFF]))
        f.write(tables + strip)


jpeg_seed("ycbcr", 0x38, "jpeg_ycbcr.tif")
jpeg_seed("rgb", 0x01, "jpeg_rgb.tif")
jpeg_seed("gray", 0x02, "jpeg_gray.tif")
jpeg_seed("ycbcr_small_target", 0x78, "jpeg_ycbcr.tif")
