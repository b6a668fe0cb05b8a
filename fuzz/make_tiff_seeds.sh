#!/bin/sh
# Writes the seed inputs of the LZW, T.6, 2-D T.4 and tiled-TIFF fuzz targets from small
# pictures that ImageMagick and libtiff's tiffcp write; the decoder seeds are the first strip
# of each file behind the four header bytes of targets/CodecFuzz.h.
set -e
here=$(cd "$(dirname "$0")" && pwd)
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
/usr/bin/convert -size 40x12 -seed 3 plasma:fractal -depth 8 "$tmp/in.ppm"
/usr/bin/convert "$tmp/in.ppm" -compress none "$tmp/in.tif"
/usr/bin/convert "$tmp/in.ppm" -monochrome pbm:- | pnmtotiff > "$tmp/bw.tif"
strip() {  # target name parameter rowbytes*rows tiff
    mkdir -p "$here/corpus/$1"
    /usr/bin/python3 - "$5" "$here/corpus/$1/$2" "$3" "$4" <<'PY'
import sys
from PIL import Image
im = Image.open(sys.argv[1])
at, count = im.tag_v2[273][0], im.tag_v2[279][0]
data = open(sys.argv[1], "rb").read()[at:at + count]
size = int(sys.argv[4])
open(sys.argv[2], "wb").write(bytes([int(sys.argv[3]), size // 64, size % 64, 0]) + data)
PY
}
tiffcp -c lzw "$tmp/in.tif" "$tmp/lzw.tif" && strip lzw rgb 0 1440 "$tmp/lzw.tif"
tiffcp -c lzw:2 "$tmp/in.tif" "$tmp/lzw2.tif" && strip lzw predictor 0 1440 "$tmp/lzw2.tif"
# Widths 1 + 7 (p >> 1): parameters 78 and 79 give 274 pixels, so the pictures are made 274 wide.
/usr/bin/convert "$tmp/in.ppm" -resize 274x12! -monochrome pbm:- | pnmtotiff > "$tmp/bw274.tif"
tiffcp -c g4 "$tmp/bw274.tif" "$tmp/g4.tif" && strip fax4 msb_first 78 420 "$tmp/g4.tif"
tiffcp -c g4 -f lsb2msb "$tmp/bw274.tif" "$tmp/g4r.tif" && strip fax4 lsb_first 79 420 "$tmp/g4r.tif"
tiffcp -c g3:2d "$tmp/bw274.tif" "$tmp/g32d.tif" && strip fax3_2d plain 78 420 "$tmp/g32d.tif"
tiffcp -c g3:2d:fill "$tmp/bw274.tif" "$tmp/g32df.tif" && strip fax3_2d fill 78 420 "$tmp/g32df.tif"
mkdir -p "$here/corpus/tiff_tiles"
tiffcp -t -w 16 -l 16 "$tmp/in.tif" "$here/corpus/tiff_tiles/plain.tif"
tiffcp -t -w 16 -l 16 -c lzw:2 "$tmp/in.tif" "$here/corpus/tiff_tiles/lzw.tif"
tiffcp -t -w 32 -l 16 -c zip -p separate "$tmp/in.tif" "$here/corpus/tiff_tiles/planes.tif"
tiffcp -t -w 16 -l 16 -c g4 "$tmp/bw.tif" "$here/corpus/tiff_tiles/group4.tif"
