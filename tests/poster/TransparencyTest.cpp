// Transparent pictures of every kind come out of the picture chain laid on white, as Pillow
// (or, for what Pillow cannot read, ImageMagick) composites them on white.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "poster/ImageFiles.h"
#include "poster/Sources.h"
#include "poster/ReferenceRgb.h"
#include "support/TestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

// Writes the files, and beside each "NAME.rgb": "width height\n" and the RGB bytes of the
// picture composited on white by its writer's peer.
const char* const kMakeTransparentFiles = R"PY(
import struct, subprocess, sys
from PIL import Image
out = sys.argv[1]
w, h = 40, 30
rgba = Image.new("RGBA", (w, h))
rgba.putdata([(x * 6, 250 - y * 8, 90, (x * 255 // (w - 1) + y * 3) % 256) for y in range(h) for x in range(w)])
rgba.save(out + "/rgba.png")

def on_white(im):
    return Image.alpha_composite(Image.new("RGBA", im.size, "white"), im.convert("RGBA")).convert("RGB")

def dump(name, im):
    with open(out + "/" + name + ".rgb", "wb") as f:
        f.write(b"%d %d\n" % im.size)
        f.write(im.tobytes())

# A palette with tRNS: entry i of 64 has alpha 4 i.
pal = Image.new("P", (w, h))
pal.putpalette([v for i in range(64) for v in (i * 4, 255 - i * 4, (i * 37) % 256)])
pal.putdata([(x + y) % 64 for y in range(h) for x in range(w)])
pal.save(out + "/palette.png", transparency=bytes(i * 4 for i in range(64)))
rgba.convert("LA").save(out + "/grey8.png")
subprocess.check_call(["/usr/bin/convert", out + "/rgba.png", "-colorspace", "gray", "-depth", "16",
                       "-define", "png:color-type=4", out + "/grey16.png"])
for name in ("palette.png", "grey8.png", "grey16.png"):
    dump(name, on_white(Image.open(out + "/" + name)))
# Pillow reads no PCX of four planes: ImageMagick writes it and lays it on white.
subprocess.check_call(["/usr/bin/convert", out + "/rgba.png", out + "/planes.pcx"])
subprocess.check_call(["/usr/bin/convert", out + "/planes.pcx", "-background", "white", "-flatten",
                       out + "/planes.ppm"])
dump("planes.pcx", Image.open(out + "/planes.ppm").convert("RGB"))
# An arbitrary map of colour with alpha from Netpbm; Pillow reads no PAM, so the PNG it came from is
# the reference.
with open(out + "/rgba.pam", "wb") as f:
    subprocess.check_call(["pngtopam", "-alphapam", out + "/rgba.png"], stdout=f)
dump("rgba.pam", on_white(rgba))

def convert(*args):
    subprocess.check_call(["/usr/bin/convert"] + [a.replace("@", out + "/") for a in args])

def magick_on_white(name):
    # The first picture of the file (a Photoshop file's merged one) as ImageMagick reads it,
    # laid on white by Pillow: ImageMagick's own flattening also draws the layers and writes
    # indexed pictures to PPM in wrong colours.
    convert("@" + name + "[0]", "PNG32:@" + name + ".png")
    dump(name, on_white(Image.open(out + "/" + name + ".png")))

# Grey and palette TIFFs with unassociated alpha, as Pillow writes them.
rgba.convert("LA").save(out + "/grey_alpha.tif")
pa = rgba.convert("RGB").quantize(60).convert("PA")
pa.putalpha(rgba.getchannel("A"))
pa.save(out + "/palette_alpha.tif")
for name in ("grey_alpha.tif", "palette_alpha.tif"):
    dump(name, on_white(Image.open(out + "/" + name)))
# What Pillow does not read ImageMagick writes and reads: 16-bit grey, 4-bit indices and
# associated (premultiplied) grey alpha.
convert("@rgba.png", "-colorspace", "gray", "-depth", "16", "@grey_alpha16.tif")
convert("@rgba.png", "-colors", "12", "-type", "PaletteAlpha", "@palette_alpha4.tif")
convert("@rgba.png", "-colorspace", "gray", "-define", "tiff:alpha=associated", "@grey_associated.tif")
for name in ("grey_alpha16.tif", "palette_alpha4.tif", "grey_associated.tif"):
    magick_on_white(name)
# ImageMagick stores the merged picture laid on white, as Photoshop does, but reads back the
# grey and alpha of its own file wrongly: the reference is the picture it was written from.
convert("@rgba.png", "-colorspace", "gray", "@grey_alpha.psd")
convert("@rgba.png", "-colorspace", "gray", "PNG32:@grey_alpha.png")
dump("grey_alpha.psd", on_white(Image.open(out + "/grey_alpha.png")))

def bmp(name, header_size, masks, im):
    # 32-bit bit fields, bottom row first; the masks in the header, or after a 40-byte one.
    shifts = [m.bit_length() - 8 if m else 0 for m in masks]
    rows = b"".join(struct.pack("<I", sum(c << s for c, s, m in zip(im.getpixel((x, y)), shifts, masks) if m))
                    for y in reversed(range(h)) for x in range(w))
    info = struct.pack("<IiiHHIIiiII", header_size, w, h, 1, 32, 3, len(rows), 2835, 2835, 0, 0)
    info += struct.pack("<4I", *masks)[: header_size - 40 if header_size > 40 else 12]
    info = info.ljust(header_size + (12 if header_size == 40 else 0), b"\0")
    with open(out + "/" + name, "wb") as f:
        f.write(b"BM" + struct.pack("<IHHI", 14 + len(info) + len(rows), 0, 0, 14 + len(info)) + info + rows)

# Bitmap files whose header carries an alpha mask: ImageMagick's version 5 header, a version 4
# header in red-first order and a version 3 header with alpha in the lowest byte.
convert("@rgba.png", "@im_v5.bmp")
bmp("rgba_v4.bmp", 108, (0xFF, 0xFF00, 0xFF0000, 0xFF000000), rgba)
for name in ("im_v5.bmp", "rgba_v4.bmp"):
    dump(name, on_white(Image.open(out + "/" + name)))
bmp("argb_v3.bmp", 56, (0xFF00, 0xFF0000, 0xFF000000, 0xFF), rgba)
dump("argb_v3.bmp", on_white(rgba))
# Shown with their colours alone: an alpha mask over alpha that is zero everywhere (as
# browsers show such files; Pillow would show white), 32-bit pixels without bit fields (as
# Pillow writes RGBA) and bit fields after a 40-byte header, which has no alpha mask.
zero = rgba.copy()
zero.putalpha(0)
bmp("zero_alpha_v5.bmp", 124, (0xFF0000, 0xFF00, 0xFF, 0xFF000000), zero)
rgba.save(out + "/plain32.bmp")
bmp("fields40.bmp", 40, (0xFF0000, 0xFF00, 0xFF, 0), rgba)
for name in ("zero_alpha_v5.bmp", "plain32.bmp", "fields40.bmp"):
    dump(name, rgba.convert("RGB"))
)PY";

}  // namespace

TEST(TransparentPictures, AreLaidOnWhiteAsTheirPeersLayThem) {
    if (!HaveTool("/usr/bin/python3") || !HaveTool("/usr/bin/convert"))
        GTEST_SKIP() << "Python with Pillow or ImageMagick is not installed";
    const std::string dir = TempDir("transparent");
    std::ofstream(dir + "/make.py") << kMakeTransparentFiles;
    ASSERT_EQ(test::Run("/usr/bin/python3 " + dir + "/make.py " + dir + " 2>/dev/null"), 0);
    for (const char* name :
         {"palette.png", "grey8.png", "grey16.png", "planes.pcx", "rgba.pam", "grey_alpha.tif", "palette_alpha.tif",
          "grey_alpha16.tif", "palette_alpha4.tif", "grey_associated.tif", "grey_alpha.psd", "im_v5.bmp", "rgba_v4.bmp",
          "argb_v3.bmp", "zero_alpha_v5.bmp", "plain32.bmp", "fields40.bmp"}) {
        std::unique_ptr<TDIB> picture = ReadPictureFile(dir + "/" + name);
        ASSERT_TRUE(picture) << name;
        // A bitmap file without alpha stays as stored; it shows its colours alone.
        TDIB shown;
        LayBitmapOnWhite(*picture, false, nullptr, shown);
        EXPECT_TRUE(SameAsReference(shown, ReadRgbDump(dir + "/" + name + ".rgb"), 1)) << name;
    }
}

// A grey map of a maximum below 255 is scaled, to the nearest value, as Pillow scales it.
TEST(SmallMaximum, GreyAndColourMapsAreScaledTo255) {
    const std::string dir = TempDir("small-maximum");
    struct Case {
        const char* name;
        std::string bytes;
        std::vector<uint8_t> expected;  // red, green, blue of the pixels, top-left first
    } cases[] = {
        {"grey4.pgm",
         std::string("P5 3 1 15\n") + char(0) + char(7) + char(15),
         {0, 0, 0, 119, 119, 119, 255, 255, 255}},
        {"text.pgm", "P2 2 1 3\n1 3\n", {85, 85, 85, 255, 255, 255}},
        {"colour.ppm", std::string("P6 1 1 100\n") + char(50) + char(100) + char(1), {128, 255, 3}},
    };
    for (const Case& c : cases) {
        const std::string file = dir + "/" + c.name;
        std::ofstream(file, std::ios::binary) << c.bytes;
        std::unique_ptr<TDIB> picture = ReadPictureFile(file);
        ASSERT_TRUE(picture) << c.name;
        const uint8_t* row = picture->ScanLine(0);
        std::vector<uint8_t> got;
        for (size_t i = 0; i < c.expected.size(); i += 3) got.insert(got.end(), {row[i + 2], row[i + 1], row[i]});
        EXPECT_EQ(got, c.expected) << c.name;
    }
}
