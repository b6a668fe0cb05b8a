// Transparent pictures of every kind come out of the picture chain laid on white, as Pillow
// (or, for what Pillow cannot read, ImageMagick) composites them on white.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "poster/Sources.h"
#include "poster/ReferenceRgb.h"
#include "support/TestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

// Writes the files, and beside each "NAME.rgb": "width height\n" and the RGB bytes of the
// picture composited on white by its writer's peer.
const char* const kMakeTransparentFiles = R"PY(
import subprocess, sys
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
)PY";

}  // namespace

TEST(TransparentPictures, AreLaidOnWhiteAsTheirPeersLayThem) {
    if (!HaveTool("/usr/bin/python3") || !HaveTool("/usr/bin/convert"))
        GTEST_SKIP() << "Python with Pillow or ImageMagick is not installed";
    const std::string dir = TempDir("transparent");
    std::ofstream(dir + "/make.py") << kMakeTransparentFiles;
    ASSERT_EQ(test::Run("/usr/bin/python3 " + dir + "/make.py " + dir + " 2>/dev/null"), 0);
    for (const char* name : {"palette.png", "grey8.png", "grey16.png", "planes.pcx", "rgba.pam"}) {
        std::unique_ptr<TDIB> picture = ReadPictureFile(dir + "/" + name);
        ASSERT_TRUE(picture) << name;
        EXPECT_TRUE(SameAsReference(*picture, ReadRgbDump(dir + "/" + name + ".rgb"), 1)) << name;
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
