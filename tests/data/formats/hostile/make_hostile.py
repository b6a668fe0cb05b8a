#!/usr/bin/env python3
"""Writes the damaged files of this folder: each is a small file whose header lies."""
import struct, zlib, pathlib

here = pathlib.Path(__file__).parent


def psd_no_channels():
    # Greyscale, 16 x 16, 8 bits, PackBits, but 0 channels: no row-count table at all.
    header = b"8BPS" + struct.pack(">H6xHIIHH", 1, 0, 16, 16, 8, 1)
    body = struct.pack(">III", 0, 0, 0) + struct.pack(">H", 1)
    return (header + body).ljust(94, b"\0")


def psd_no_rows():
    # RGB, 8 bits, uncompressed, 0 rows of 268435469 pixels.
    header = b"8BPS" + struct.pack(">H6xHIIHH", 1, 3, 0, 0x1000000D, 8, 3)
    return header + struct.pack(">III", 0, 0, 0) + struct.pack(">H", 0)


def psd_no_rows_indexed():
    # Indexed, 16 bits, uncompressed, 0 rows of 218300416 pixels, an empty colour table.
    header = b"8BPS" + struct.pack(">H6xHIIHH", 1, 1, 0, 0x0D030000, 16, 2)
    return header + struct.pack(">III", 0, 0, 0) + struct.pack(">H", 0)


def targa_map(entry_bits, entries):
    # Colour-mapped, 1 x 1, 8-bit indices, a map of the given entry size.
    header = struct.pack("<BBBHHBHHHHBB", 0, 1, 1, 0, entries, entry_bits, 0, 0, 1, 1, 8, 0)
    return header + bytes(entries * ((entry_bits + 7) // 8))


def png_chunk(kind, data, length=None):
    crc = zlib.crc32(kind + data)
    return struct.pack(">I", len(data) if length is None else length) + kind + data + struct.pack(">I", crc)


def png_huge_chunk():
    # A 32 x 64 grey picture, pixel (x, y) = (7x + 13y) mod 256, its rows deflated as stored
    # blocks; the only IDAT chunk claims 0xFFFFFFF0 bytes and the file ends after 1500 of them.
    ihdr = png_chunk(b"IHDR", struct.pack(">IIBBBBB", 32, 64, 8, 0, 0, 0, 0))
    rows = b"".join(b"\0" + bytes((7 * x + 13 * y) % 256 for x in range(32)) for y in range(64))
    packer = zlib.compressobj(level=0)
    pixels = (packer.compress(rows) + packer.flush())[:1500]
    idat = struct.pack(">I", 0xFFFFFFF0) + b"IDAT" + pixels
    return b"\x89PNG\r\n\x1a\n" + ihdr + idat


def tiff(width, height, compression, bits, samples, strip, byte_counts=True):
    # A little-endian TIFF of one strip right after its directory.
    photometric = 2 if samples == 3 else 0
    tags = [(256, 4, width), (257, 4, height), (258, 3, bits), (259, 3, compression), (262, 3, photometric),
            (273, 4, 0), (277, 3, samples), (278, 4, height)] + ([(279, 4, len(strip))] if byte_counts else [])
    directory_size = 2 + 12 * len(tags) + 4
    strip_offset = 8 + directory_size
    entries = b"".join(struct.pack("<HHII", tag, kind, 1, strip_offset if tag == 273 else value)
                       for tag, kind, value in tags)
    return b"II*\0" + struct.pack("<I", 8) + struct.pack("<H", len(tags)) + entries + b"\0\0\0\0" + strip


def eps_huge_preview():
    # A binary EPS whose TIFF preview declares 25000 x 26400 RGB pixels (1.98 GB) in 1000 bytes.
    preview = tiff(25000, 26400, 1, 8, 3, bytes(1000))
    postscript = b"%!PS-Adobe-3.0 EPSF-3.0\n%%BoundingBox: 0 0 10 10\n"
    header = struct.pack("<IIIIIIIH", 0xC6D3D0C5, 30 + len(preview), len(postscript), 0, 0, 30, len(preview),
                         0xFFFF)
    return header + preview + postscript


def tiff_fax_huge():
    # A T.6 fax TIFF of 60000 x 60000 white pixels: every row is one V0 code, 7.5 KB in all.
    return tiff(60000, 60000, 4, 1, 1, b"\xff" * 7500)


def tiff_lzw_huge():
    # An LZW TIFF of 20000 x 20000 grey pixels in 200 bytes: a code stands for 4096 bytes at most.
    return tiff(20000, 20000, 5, 8, 1, b"\x80" + bytes(199))


def tiff_fax_rows():
    # A T.6 fax TIFF of 1728 x 200000 pixels in 100 bytes: a row takes one bit at least.
    return tiff(1728, 200000, 4, 1, 1, b"\xff" * 100)


def tiff_raw_no_counts():
    # An uncompressed RGB TIFF of 5000 x 5000 pixels without strip byte counts, in 300 bytes.
    return tiff(5000, 5000, 1, 8, 3, bytes(300), byte_counts=False)


def tiff_tall_tile():
    # A 16 x 16 RGB picture in one uncompressed tile of 65536 x 65536 pixels (12.9 GB stored
    # whole); the file holds the first 16 pixels of the tile's first row, all red.
    pixels = b"\xff\0\0" * 16
    tags = [(256, 4, 16), (257, 4, 16), (258, 3, 8), (259, 3, 1), (262, 3, 2), (277, 3, 3),
            (322, 4, 65536), (323, 4, 65536), (324, 4, 0), (325, 4, len(pixels))]
    tile_offset = 8 + 2 + 12 * len(tags) + 4
    entries = b"".join(struct.pack("<HHII", tag, kind, 1, tile_offset if tag == 324 else value)
                       for tag, kind, value in tags)
    return b"II*\0" + struct.pack("<I", 8) + struct.pack("<H", len(tags)) + entries + b"\0\0\0\0" + pixels


files = {
    "psd-no-channels.psd": psd_no_channels(),
    "psd-no-rows.psd": psd_no_rows(),
    "psd-no-rows-indexed.psd": psd_no_rows_indexed(),
    "targa-map-entry-0.tga": targa_map(0, 4),
    "targa-map-entry-8.tga": targa_map(8, 4),
    "png-huge-chunk.png": png_huge_chunk(),
    "eps-huge-preview.eps": eps_huge_preview(),
    "fax-60000.tif": tiff_fax_huge(),
    "lzw-huge.tif": tiff_lzw_huge(),
    "fax-rows.tif": tiff_fax_rows(),
    "raw-no-counts.tif": tiff_raw_no_counts(),
    "tall-tile.tif": tiff_tall_tile(),
}
for name, data in files.items():
    (here / name).write_bytes(data)
