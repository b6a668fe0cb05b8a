#!/usr/bin/env bash
# Remakes the fax fixtures of this folder with Pillow, Netpbm and libtiff's tools:
# picture.pbm, and each <name>.fax holding the one strip of <name>'s TIFF file.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
py=/usr/bin/python3

# 1900 x 32: text, a black bar longer than the widest A4 run (extended make-up codes),
# a full black row, thin lines and a band of noise.
$py - "$tmp" <<'PY'
import random, sys
from PIL import Image, ImageDraw, ImageOps
random.seed(7)
img = Image.new("1", (1900, 32), 1)
d = ImageDraw.Draw(img)
d.text((4, 2), "Tilvorn fax test 0123456789 ABCDEFGHIJKLMNOPQRSTUVWXYZ", fill=0)
d.rectangle((20, 14, 1880, 16), fill=0)
d.line((0, 18, 1899, 18), fill=0)
for x in range(0, 1900, 7):
    d.line((x, 20, x + 2, 20), fill=0)
for y in range(22, 31):
    for x in range(1200, 1900):
        if random.random() < 0.3:
            img.putpixel((x, y), 0)
img.save("picture.pbm")
# Pillow stores bilevel images as min-is-black: saving the negative gives strips whose bits
# are those of the picture (1 = black), as in the min-is-white files below.
negative = ImageOps.invert(img.convert("L")).convert("1", dither=Image.NONE)
negative.save(sys.argv[1] + "/mh.tif", compression="tiff_ccitt")
negative.save(sys.argv[1] + "/mhw.tif", compression="tiff_raw_16")
PY
pnmtotiff -miniswhite picture.pbm > "$tmp/picture.tif"
tiffcp -c g3:1d -r 1000 "$tmp/picture.tif" "$tmp/g3_1d.tif"
tiffcp -c g3:1d:fill -f lsb2msb -r 1000 "$tmp/picture.tif" "$tmp/g3_1d_fill_lsb.tif"
tiffcp -c g3:2d -r 1000 "$tmp/picture.tif" "$tmp/g3_2d.tif"
pbmtog3 -nofixedwidth picture.pbm > "$tmp/picture.g3"
fax2tiff -M -1 -X 1900 -5 -p -l -o "$tmp/fax2tiff_lsb.tif" "$tmp/picture.g3" 2>/dev/null

# The strip bytes, as a TIFF reader hands them to a decoder.
for name in mh mhw g3_1d g3_1d_fill_lsb g3_2d fax2tiff_lsb; do
  $py - "$tmp/$name.tif" "$name.fax" <<'PY'
import sys
from PIL import Image
tags = Image.open(sys.argv[1]).tag_v2
offsets, counts = tags[273], tags[279]
assert len(offsets) == 1, "one strip expected"
with open(sys.argv[1], "rb") as f:
    f.seek(offsets[0])
    data = f.read(counts[0])
open(sys.argv[2], "wb").write(data)
print(sys.argv[2], "compression", tags[259], "fill order", tags.get(266, 1), "T4Options", tags.get(292, 0), len(data), "bytes")
PY
done
