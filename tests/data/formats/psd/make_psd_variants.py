#!/usr/bin/python3
"""Derives Photoshop variants that no tool here writes from the ImageMagick-made grey file:
a duotone file (colour mode 8) whose colour mode data is not empty. Run from this folder:
/usr/bin/python3 make_psd_variants.py"""
import struct

data = open("psd-grey.psd", "rb").read()
assert struct.unpack(">I", data[26:30])[0] == 0
duotone = bytearray(data[:24]) + struct.pack(">H", 8)
mode_data = bytes(range(256)) * 2 + b"duotone data"  # opaque to readers; skipped by length
duotone += struct.pack(">I", len(mode_data)) + mode_data + data[30:]
with open("psd-duotone.psd", "wb") as f:
    f.write(duotone)
