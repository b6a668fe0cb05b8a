#!/usr/bin/python3
"""The readers' peer in the benchmarks: Pillow, on the same 4000 x 3000 pictures.

  pillow_peer.py make DIR           writes the pictures (once; existing files are kept)
  pillow_peer.py decode DIR NAME... prints "NAME SECONDS": Pillow's processor time to open
                                    and load each file, the best of several rounds
  pillow_peer.py convert DIR CLI    runs `CLI convert FILE OUT.bmp` on every picture next to
                                    Pillow's open + load + save as BMP, and prints processor
                                    times, their ratio and the peak memory of our process

Two pictures: a plasma fractal by ImageMagick, smooth with grain as a photo, for the formats
that photos are kept in, and a Mandelbrot set with two gradients by Pillow, whose runs come in
all lengths, for the run-length formats. Times are processor time (user + system), so that
other work on a busy machine counts as little as it can.
"""
import os
import subprocess
import sys
import time

from PIL import Image

WIDTH, HEIGHT = 4000, 3000
PICTURE_BYTES = WIDTH * HEIGHT * 3  # the 24-bit working picture (rows need no padding)

# name: (shell command that writes it from the two source pictures, what it holds)
PICTURES = {
    "deflate.tif": ("tiffcp -c zip plasma.tif deflate.tif", "TIFF deflate"),
    "packbits.tif": ("tiffcp -c packbits plasma.tif packbits.tif", "TIFF PackBits"),
    "lzw.tif": ("tiffcp -c lzw:2 plasma.tif lzw.tif", "TIFF LZW, predictor 2"),
    "tiled.tif": ("tiffcp -c zip -t -w 256 -l 256 plasma.tif tiled.tif", "TIFF tiled 256, deflate"),
    "g4.tif": ("/usr/bin/convert plasma.tif -colorspace gray -threshold 50% -type bilevel "
               "-compress Group4 g4.tif", "TIFF Group 4"),
    "picture.png": ("/usr/bin/convert plasma.tif picture.png", "PNG"),
    "picture.ppm": ("/usr/bin/convert plasma.tif picture.ppm", "PPM raw"),
    "rle.tga": ("/usr/bin/convert runs.ppm -compress RLE rle.tga", "Targa RLE"),
    "picture.sgi": ("pnmtosgi -rle runs.ppm > picture.sgi 2>/dev/null", "SGI RLE"),
    "picture.pcx": ("/usr/bin/python3 -c \"from PIL import Image; Image.open('runs.ppm').save('picture.pcx')\"",
                    "PCX RLE"),
    "picture.psd": ("/usr/bin/convert runs.ppm -compress RLE picture.psd", "PSD PackBits"),
}


def make(folder):
    os.makedirs(folder, exist_ok=True)
    os.chdir(folder)
    if not os.path.exists("plasma.tif"):
        subprocess.run(f"/usr/bin/convert -size {WIDTH}x{HEIGHT} -seed 11 plasma:fractal -depth 8 "
                       "-compress none plasma.tif", shell=True, check=True)
    if not os.path.exists("runs.ppm"):
        red = Image.effect_mandelbrot((WIDTH, HEIGHT), (-2.2, -1.2, 1.0, 1.2), 64)
        green = Image.linear_gradient("L").resize((WIDTH, HEIGHT))
        blue = Image.radial_gradient("L").resize((WIDTH, HEIGHT))
        Image.merge("RGB", (red, green, blue)).save("runs.ppm")
    for name, (command, _) in PICTURES.items():
        if not os.path.exists(name):
            subprocess.run(command, shell=True, check=True)


def best_seconds(work, rounds=5):
    best = None
    for _ in range(rounds):
        start = time.process_time()
        work()
        spent = time.process_time() - start
        best = spent if best is None else min(best, spent)
    return best


def pillow_decode(path):
    def work():
        with Image.open(path) as im:
            im.load()
    return best_seconds(work)


def pillow_convert(path, out):
    def work():
        with Image.open(path) as im:
            im.load()
            # as ours, the 24-bit picture is written, whatever the file held
            (im if im.mode == "RGB" else im.convert("RGB")).save(out, "BMP")
    return best_seconds(work)


def ours_convert(cli, path, out, rounds=5):
    """Best processor time (user + system) of the whole process, and its peak memory in bytes.
    The program runs under /usr/bin/time, which reports its peak (a direct child of this
    Python process would inherit Python's); the processor time is that of /usr/bin/time
    and its child, of which /usr/bin/time's own is a fraction of a millisecond."""
    best, peak = None, 0
    report = out + ".time"
    for _ in range(rounds):
        child = subprocess.Popen(["/usr/bin/time", "-o", report, "-f", "%M", cli, "convert", path, out],
                                 stdout=subprocess.DEVNULL)
        _, status, usage = os.wait4(child.pid, 0)
        if status != 0:
            raise SystemExit(f"{cli} convert {path} failed")
        spent = usage.ru_utime + usage.ru_stime
        best = spent if best is None else min(best, spent)
        with open(report) as f:
            peak = max(peak, int(f.read().split()[-1]) * 1024)
    return best, peak


def convert(folder, cli):
    out = os.path.join(folder, "out.bmp")
    # The memory a convert of a one-pixel picture takes: the program itself and its libraries.
    tiny = os.path.join(folder, "tiny.ppm")
    Image.new("RGB", (1, 1)).save(tiny)
    _, base = ours_convert(cli, tiny, out, 3)
    print(f"{'picture':24} {'ours ms':>8} {'Pillow ms':>9} {'ratio':>6} {'peak MB':>8} "
          f"{'x picture':>9} {'above base':>10}")
    for name, (_, what) in PICTURES.items():
        path = os.path.join(folder, name)
        ours, peak = ours_convert(cli, path, out)
        pillow = pillow_convert(path, out)
        print(f"{what:24} {ours * 1000:8.0f} {pillow * 1000:9.0f} {ours / pillow:6.2f} {peak / 1e6:8.1f} "
              f"{peak / PICTURE_BYTES:9.2f} {(peak - base) / PICTURE_BYTES:10.2f}")
    print(f"(peak memory of converting a one-pixel picture: {base / 1e6:.1f} MB; "
          f"24-bit picture: {PICTURE_BYTES / 1e6:.1f} MB)")


def main():
    if len(sys.argv) < 3:
        raise SystemExit(__doc__)
    mode, folder = sys.argv[1], os.path.abspath(sys.argv[2])
    make(folder)
    if mode == "decode":
        for name in sys.argv[3:]:
            print(name, pillow_decode(os.path.join(folder, name)))
    elif mode == "convert":
        convert(folder, os.path.abspath(sys.argv[3]))
    elif mode != "make":
        raise SystemExit(__doc__)


if __name__ == "__main__":
    main()
