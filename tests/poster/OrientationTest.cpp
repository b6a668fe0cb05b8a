// Photos that name their orientation (EXIF in JPEG files, TIFF's Orientation tag) come out
// of the picture chain upright, as Pillow's ImageOps.exif_transpose shows them.
#include <gtest/gtest.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "formats/AllFormats.h"
#include "poster/ImageFiles.h"
#include "poster/Sources.h"
#include "readers/JpegFile.h"
#include "poster/ReferenceRgb.h"
#include "support/TestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

// Writes, for every orientation code, a JPEG file with an Exif block and a TIFF file with
// the tag (the same stored picture, wider than tall, no two corners alike), and beside each
// the picture Pillow turns upright from it as "width height\n" and RGB bytes.
const char* const kMakeOrientedFiles = R"PY(
import sys
from PIL import Image, ImageOps
out = sys.argv[1]
w, h = 48, 30
im = Image.new("RGB", (w, h))
im.putdata([(x * 255 // (w - 1), y * 255 // (h - 1), 255 if x < 12 and y < 8 else 60) for y in range(h) for x in range(w)])
for o in range(1, 9):
    exif = Image.Exif()
    exif[274] = o
    im.save("%s/%d.jpg" % (out, o), quality=95, subsampling=0, exif=exif.tobytes())
    im.save("%s/%d.tif" % (out, o), tiffinfo={274: o})
    for ext in ("jpg", "tif"):
        name = "%s/%d.%s" % (out, o, ext)
        stored = Image.open(name)
        stored.load()
        # Pillow turns a TIFF upright while loading it (turning it again would undo that).
        upright = (stored if ext == "tif" else ImageOps.exif_transpose(stored)).convert("RGB")
        with open(name + ".rgb", "wb") as f:
            f.write(b"%d %d\n" % upright.size)
            f.write(upright.tobytes())
)PY";

class OrientedPhotos : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        RegisterStandardFormats();  // each test may run alone, before any picture file is read
        if (!HaveTool("/usr/bin/python3")) return;
        dir_ = TempDir("oriented");
        const std::string script = dir_ + "/make.py";
        std::ofstream(script) << kMakeOrientedFiles;
        made_ = test::Run("/usr/bin/python3 " + script + " " + dir_ + " 2>/dev/null") == 0;
    }
    void SetUp() override {
        if (!made_) GTEST_SKIP() << "Python with Pillow (python3-pil) is not installed";
    }
    static inline std::string dir_;
    static inline bool made_ = false;
};

}  // namespace

TEST_F(OrientedPhotos, EveryOrientationStandsUprightAsPillowTurnsIt) {
    for (int o = 1; o <= 8; ++o)
        for (const char* ext : {"jpg", "tif"}) {
            const std::string file = dir_ + "/" + std::to_string(o) + "." + ext;
            std::unique_ptr<TDIB> picture = ReadPictureFile(file);
            ASSERT_TRUE(picture) << file;
            // Both decode the same JPEG data with libjpeg; the TIFF holds the samples as they are.
            EXPECT_TRUE(SameAsReference(*picture, ReadRgbDump(file + ".rgb"), 1)) << file;
        }
}

TEST_F(OrientedPhotos, TheCodeIsFoundInTheJpegAndTheTiff) {
    for (int o = 1; o <= 8; ++o) {
        const std::vector<unsigned char> jpeg = ReadFileBytes(dir_ + "/" + std::to_string(o) + ".jpg");
        EXPECT_EQ(JpegOrientation(jpeg.data(), jpeg.size()), o);
        uint8_t found = 0;
        ReadJpegFile(dir_ + "/" + std::to_string(o) + ".jpg", &found);
        EXPECT_EQ(found, o);
        TDIB picture;
        EXPECT_EQ(ReadPictureThroughReaders(dir_ + "/" + std::to_string(o) + ".tif", picture).Properties.Orientation,
                  o);
    }
}

namespace {

// A JPEG start with one APP1 block holding a TIFF structure of one directory entry.
std::vector<uint8_t> JpegWithExif(bool bigEndian, uint16_t tag, uint16_t type, uint32_t count, uint16_t value,
                                  size_t cutAt = 0) {
    std::vector<uint8_t> tiff;
    auto put16 = [&](uint16_t v) {
        if (bigEndian)
            tiff.insert(tiff.end(), {uint8_t(v >> 8), uint8_t(v)});
        else
            tiff.insert(tiff.end(), {uint8_t(v), uint8_t(v >> 8)});
    };
    auto put32 = [&](uint32_t v) {
        if (bigEndian) {
            put16(uint16_t(v >> 16));
            put16(uint16_t(v));
        } else {
            put16(uint16_t(v));
            put16(uint16_t(v >> 16));
        }
    };
    tiff.insert(tiff.end(),
                bigEndian ? std::initializer_list<uint8_t>{'M', 'M'} : std::initializer_list<uint8_t>{'I', 'I'});
    put16(42);
    put32(8);
    put16(1);
    put16(tag);
    put16(type);
    put32(count);
    put16(value);
    put16(0);
    put32(0);
    std::vector<uint8_t> block = {'E', 'x', 'i', 'f', 0, 0};
    block.insert(block.end(), tiff.begin(), tiff.end());
    if (cutAt) block.resize(cutAt);
    const size_t length = block.size() + 2;
    std::vector<uint8_t> jpeg = {0xFF,
                                 0xD8,
                                 0xFF,
                                 0xE0,
                                 0x00,
                                 0x04,
                                 'J',
                                 'F',  // an APP0 before it
                                 0xFF,
                                 0xE1,
                                 uint8_t(length >> 8),
                                 uint8_t(length)};
    jpeg.insert(jpeg.end(), block.begin(), block.end());
    jpeg.insert(jpeg.end(), {0xFF, 0xDA, 0x00, 0x02, 0xFF, 0xD9});
    return jpeg;
}

}  // namespace

TEST(JpegOrientation, ReadsBothByteOrdersAndRefusesWhatIsNotAnOrientation) {
    struct Case {
        const char* what;
        std::vector<uint8_t> bytes;
        uint8_t expected;
    } cases[] = {
        {"little-endian", JpegWithExif(false, 0x0112, 3, 1, 6), 6},
        {"big-endian", JpegWithExif(true, 0x0112, 3, 1, 8), 8},
        {"another tag", JpegWithExif(false, 0x0100, 3, 1, 6), 0},
        {"not a SHORT", JpegWithExif(false, 0x0112, 4, 1, 6), 0},
        {"code 9", JpegWithExif(true, 0x0112, 3, 1, 9), 0},
        {"code 0", JpegWithExif(true, 0x0112, 3, 1, 0), 0},
        {"block cut in the entry", JpegWithExif(false, 0x0112, 3, 1, 6, 20), 0},
        {"block cut in the header", JpegWithExif(false, 0x0112, 3, 1, 6, 9), 0},
        {"no JPEG", {'P', '6', '\n', '1'}, 0},
        {"nothing", {}, 0},
    };
    for (const Case& c : cases) EXPECT_EQ(JpegOrientation(c.bytes.data(), c.bytes.size()), c.expected) << c.what;
    // A block length past the end of the data is not followed.
    std::vector<uint8_t> cut = JpegWithExif(false, 0x0112, 3, 1, 6);
    cut.resize(20);
    EXPECT_EQ(JpegOrientation(cut.data(), cut.size()), 0);
}

TEST(OrientUpright, LeavesPicturesWithoutATurnAlone) {
    TDIB picture;
    picture.PixelFormat = pf888;
    picture.SetSize(3, 2, 24);
    for (int y = 0; y < 2; ++y)
        for (int i = 0; i < 9; ++i) picture.ScanLine(y)[i] = uint8_t(y * 9 + i);
    const std::vector<uint8_t> before(picture.ScanLine(0), picture.ScanLine(0) + 9);
    for (uint8_t code : {0, 1, 9, 255}) {
        OrientUpright(picture, code);
        EXPECT_EQ(picture.Width(), 3);
        EXPECT_EQ(std::vector<uint8_t>(picture.ScanLine(0), picture.ScanLine(0) + 9), before) << int(code);
    }
    OrientUpright(picture, 6);
    EXPECT_EQ(picture.Width(), 2);
    EXPECT_EQ(picture.Height(), 3);
    // Turned a quarter clockwise: the top row starts with the stored bottom-left pixel.
    EXPECT_EQ(picture.ScanLine(0)[0], 9);
    EXPECT_EQ(picture.ScanLine(0)[3], 0);
}
