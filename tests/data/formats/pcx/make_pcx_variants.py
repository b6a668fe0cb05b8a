#!/usr/bin/python3
"""Derives the PCX variants that no tool here writes from files Netpbm and Pillow wrote,
each with a reference picture (.ref.ppm). Run from this folder after the tool-made files
exist: /usr/bin/python3 make_pcx_variants.py"""
from PIL import Image

# The 16 colours a version 3 file (no palette information) is shown with.
DEFAULT_16 = [(0, 0, 0), (128, 0, 0), (0, 128, 0), (128, 128, 0), (0, 0, 128), (128, 0, 128),
              (0, 128, 128), (192, 192, 192), (128, 128, 128), (255, 0, 0), (0, 255, 0),
              (255, 255, 0), (0, 0, 255), (255, 0, 255), (0, 255, 255), (255, 255, 255)]


def patch(source, target, edits, drop_tail=0):
    data = bytearray(open(source, "rb").read())
    for offset, value in edits:
        data[offset] = value
    if drop_tail:
        data = data[:-drop_tail]
    with open(target, "wb") as f:
        f.write(data)


# Version 3: the header palette is not used.
patch("pcx-16colour-4planes.pcx", "pcx-version3.pcx", [(1, 3)])
indices = Image.open("pcx-16colour-4planes.pcx")
ref = Image.new("RGB", indices.size)
ref.putdata([DEFAULT_16[i] for i in indices.getdata()])
ref.save("pcx-version3.ref.ppm")

# Grey palette information (2) and no closing palette.
patch("pcx-grey-pillow.pcx", "pcx-grey-nopalette.pcx", [(68, 2), (69, 0)], drop_tail=769)
grey = Image.open("pcx-grey-pillow.pcx")
ref = Image.new("RGB", grey.size)
ref.putdata([(v, v, v) for v in grey.convert("L").getdata()])
ref.save("pcx-grey-nopalette.ref.ppm")
