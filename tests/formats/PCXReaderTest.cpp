#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "formats/AllFormats.h"
#include "formats/PCXImage.h"
#include "formats/ReaderChecks.h"
#include "formats/ReferencePixels.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::CorpusPath;
using test::DataPath;
using test::LoadWithPillow;
using test::PictureOf;
using test::SamePixels;

std::vector<uint8_t> PcxHeader(int width, int height, int bits, int planes, int bytesPerLine, int encoding = 1) {
    std::vector<uint8_t> h(128, 0);
    h[0] = 10;
    h[1] = 5;
    h[2] = uint8_t(encoding);
    h[3] = uint8_t(bits);
    h[8] = uint8_t(width - 1);
    h[10] = uint8_t(height - 1);
    h[12] = 150;  // 150 dpi
    h[14] = 75;
    h[65] = uint8_t(planes);
    h[66] = uint8_t(bytesPerLine);
    return h;
}

struct TPcxCase {
    const char* File;
    const char* Reference;  // under tests/data/formats
    int BitCount;
};

class PCXFixtures : public ::testing::TestWithParam<TPcxCase> {};

TEST_P(PCXFixtures, DecodeToTheirReferencePicture) {
    TILVORN_REQUIRE_PILLOW();
    const TPcxCase& c = GetParam();
    RegisterStandardFormats();
    const std::string path = DataPath(std::string("formats/") + c.File);
    ASSERT_EQ(GlobalFormatRegistry().ClassForFile(path), &TPCXGraphic::Class());
    TPCXGraphic reader;
    reader.ReadImageFile(path);
    EXPECT_EQ(reader.BitCount(), c.BitCount);
    EXPECT_TRUE(SamePixels(LoadWithPillow(DataPath(std::string("formats/") + c.Reference)), PictureOf(reader), 0));
}

INSTANTIATE_TEST_SUITE_P(Files, PCXFixtures,
                         ::testing::Values(TPcxCase{"pcx/pcx-24bit-rle.pcx", "ppm/source-colours.ppm", 24},
                                           TPcxCase{"pcx/pcx-24bit-offset.pcx", "ppm/source-colours.ppm", 24},
                                           TPcxCase{"pcx/pcx-24bit-pillow.pcx", "ppm/source-colours.ppm", 24},
                                           TPcxCase{"pcx/pcx-8bit-palette.pcx", "ppm/source-sixteen.ppm", 8},
                                           TPcxCase{"pcx/pcx-8bit-convert.pcx", "ppm/source-colours.ppm", 8},
                                           TPcxCase{"pcx/pcx-16colour-4planes.pcx", "ppm/source-sixteen.ppm", 4},
                                           TPcxCase{"pcx/pcx-4bit-packed.pcx", "pcx/pcx-4bit-packed.ref.ppm", 4},
                                           TPcxCase{"pcx/pcx-grey-pillow.pcx", "ppm/source-grey.pgm", 8},
                                           TPcxCase{"pcx/pcx-1bit-pillow.pcx", "ppm/source-mono.pbm", 1},
                                           TPcxCase{"pcx/pcx-version3.pcx", "pcx/pcx-version3.ref.ppm", 4},
                                           TPcxCase{"pcx/pcx-grey-nopalette.pcx", "pcx/pcx-grey-nopalette.ref.ppm",
                                                    8}));

// Public files with a picture of what they show beside them. Files whose look rests on
// rules this reader does not share are named with the reason.
TEST(PCXCorpus, KImageFormatsFilesMatchTheirPictures) {
    TILVORN_REQUIRE_PILLOW();
    const std::string dir = CorpusPath("kimageformats/pcx");
    if (dir.empty()) GTEST_SKIP() << "the picture corpus is not there";
    const std::map<std::string, std::string> differ = {
        {"CGA_FSD.pcx", "a CGA colour file: its header palette means a CGA mode, not colours"},
    };
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        if (entry.path().extension() != ".pcx") continue;
        const std::string name = entry.path().filename().string();
        if (differ.count(name)) continue;
        SCOPED_TRACE(name);
        TPCXGraphic reader;
        reader.ReadImageFile(entry.path().string());
        const bool alpha = reader.BitCount() == 32;
        EXPECT_TRUE(SamePixels(LoadWithPillow(std::filesystem::path(entry.path()).replace_extension(".png").string()),
                               PictureOf(reader), 1, alpha));
        ++compared;
    }
    EXPECT_GE(compared, 10);
}

TEST(PCXCorpus, PillowFilesMatchPillow) {
    TILVORN_REQUIRE_PILLOW();
    for (const char* name : {"pillow/Tests/images/pil184.pcx", "pillow/Tests/images/odd_stride.pcx"}) {
        const std::string path = CorpusPath(name);
        if (path.empty()) GTEST_SKIP() << "the picture corpus is not there";
        SCOPED_TRACE(name);
        TPCXGraphic reader;
        reader.ReadImageFile(path);
        EXPECT_TRUE(SamePixels(LoadWithPillow(path), PictureOf(reader), 1));
    }
}

TEST(PCXCorpus, DamagedPillowFilesFailOrShowTheirPlanes) {
    const std::string planes = CorpusPath("pillow/Tests/images/p_4_planes.pcx");
    if (planes.empty()) GTEST_SKIP() << "the picture corpus is not there";
    TPCXGraphic reader;
    reader.ReadImageFile(planes);  // one pixel with bits in planes 0 and 1: index 3, red
    EXPECT_EQ(GetStorePixel(*reader.Image(), 0, 0), RGBColor(255, 0, 0));
    // Lines of 12 bytes for 234 pixels of 8 bits: the header cannot be right.
    EXPECT_THROW(reader.ReadImageFile(CorpusPath("pillow/Tests/images/01r_00.pcx")), EInvalidGraphic);
}

TEST(PCXReader, FourPlanesOfOneBitMakeTheIndexFromPlaneBits) {
    // One row of 8 pixels: pixel 0 has bit 7 set in planes 0 and 2 (index 5), pixel 1 in
    // plane 3 only (index 8), the rest are 0. Stored, not run-length coded.
    std::vector<uint8_t> file = PcxHeader(8, 1, 1, 4, 1, 0);
    for (int i = 0; i < 16; ++i) {  // header palette: entry i = (i, 2i, 3i)
        file[16 + 3 * i] = uint8_t(i);
        file[17 + 3 * i] = uint8_t(2 * i);
        file[18 + 3 * i] = uint8_t(3 * i);
    }
    for (uint8_t plane : {0x80, 0x00, 0x80, 0x40}) file.push_back(plane);
    TMemoryStream stream;
    stream.WriteBuffer(file.data(), int64_t(file.size()));
    stream.SetPosition(0);
    TPCXGraphic reader;
    reader.ReadImage(stream);
    ASSERT_EQ(reader.BitCount(), 4);
    EXPECT_EQ(reader.ScanLine(0)[0], 0x58);  // indices 5 and 8
    EXPECT_EQ(GetStorePixel(*reader.Image(), 0, 0), RGBColor(5, 10, 15));
    EXPECT_EQ(reader.Properties.DpiX, 150);
    EXPECT_EQ(reader.Properties.DpiY, 75);
}

TEST(PCXReader, RunsGoOnAcrossLineEndsAndStopWhereTheDataEnd) {
    // Three pixels a line in three planes: one run of 12 bytes fills line 0 and the red plane
    // of line 1; line 1's green and blue planes follow as single bytes.
    std::vector<uint8_t> file = PcxHeader(3, 2, 8, 3, 3);
    for (uint8_t b : {0xCC, 7, 1, 2, 3, 4, 5, 6}) file.push_back(b);
    TCustomMemoryStream stream(file.data(), int64_t(file.size()));
    TPCXGraphic reader;
    reader.ReadImage(stream);
    ASSERT_EQ(reader.BitCount(), 24);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(GetStorePixel(*reader.Image(), x, 0), RGBColor(7, 7, 7)) << x;
        EXPECT_EQ(GetStorePixel(*reader.Image(), x, 1), RGBColor(7, uint8_t(1 + x), uint8_t(4 + x))) << x;
    }
    // Data that end on a run's count, before its value: the rest of the picture is black.
    std::vector<uint8_t> cut = PcxHeader(3, 2, 8, 3, 3);
    for (uint8_t b : {0xC9, 7, 0xC5}) cut.push_back(b);
    TCustomMemoryStream cutStream(cut.data(), int64_t(cut.size()));
    TPCXGraphic cutReader;
    cutReader.ReadImage(cutStream);
    for (int x = 0; x < 3; ++x) {
        EXPECT_EQ(GetStorePixel(*cutReader.Image(), x, 0), RGBColor(7, 7, 7)) << x;
        EXPECT_EQ(GetStorePixel(*cutReader.Image(), x, 1), RGBColor(0, 0, 0)) << x;
    }
}

TEST(PCXReader, FilesLargerThanTheReadingWindowMatchPillow) {
    // Several windows of stored bytes, with runs and single bytes in every plane, so that
    // window ends fall inside runs and lines alike.
    TILVORN_REQUIRE_PILLOW();
    const std::string dir = test::TempDir("pcx_window");
    const std::string path = dir + "/large.pcx";
    ASSERT_EQ(test::Run("/usr/bin/python3 -c \"from PIL import Image; s = (701, 303); "
                        "Image.merge('RGB', (Image.effect_mandelbrot(s, (-2.2, -1.2, 1.0, 1.2), 64), "
                        "Image.effect_noise(s, 60), Image.linear_gradient('L').resize(s))).save('" +
                        path + "')\""),
              0);
    ASSERT_GT(test::ReadFileBytes(path).size(), 3u * 64 * 1024);
    TPCXGraphic reader;
    reader.ReadImageFile(path);
    EXPECT_TRUE(SamePixels(LoadWithPillow(path), PictureOf(reader), 0));
}

TEST(PCXReader, ProbeLooksAtTheHeaderAndLeavesThePosition) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(DataPath("formats/pcx/pcx-24bit-rle.pcx"));
    struct TCase {
        size_t Offset;
        uint8_t Value;
        bool Accepted;
    };
    for (const TCase& c : {TCase{0, 10, true}, TCase{0, 12, true}, TCase{0, 11, false}, TCase{1, 4, false},
                           TCase{1, 0, true}, TCase{2, 2, false}}) {
        std::vector<uint8_t> data(7 + bytes.size(), 0xEE);  // the header starts at 7
        std::copy(bytes.begin(), bytes.end(), data.begin() + 7);
        data[7 + c.Offset] = c.Value;
        TCustomMemoryStream stream(data.data(), int64_t(data.size()));
        stream.SetPosition(7);
        EXPECT_EQ(TPCXGraphic::ProbeStream(stream), c.Accepted) << c.Offset << "=" << int(c.Value);
        EXPECT_EQ(stream.Position(), 7);
    }
    TCustomMemoryStream headerOnly(bytes.data(), 128);
    EXPECT_FALSE(TPCXGraphic::ProbeStream(headerOnly));
}

TEST(PCXReader, ForeignManufacturerLeavesTheBitmapEmpty) {
    std::vector<uint8_t> file = test::ReadFileBytes(DataPath("formats/pcx/pcx-24bit-rle.pcx"));
    file[0] = 11;
    TCustomMemoryStream stream(file.data(), int64_t(file.size()));
    TPCXGraphic reader;
    EXPECT_NO_THROW(reader.ReadImage(stream));
    EXPECT_TRUE(reader.Empty());
}

TEST(PCXReader, LayoutsWithoutABitmapFormatAreRefused) {
    struct TCase {
        int Bits, Planes;
    };
    for (const TCase& c : {TCase{2, 2}, TCase{2, 3}, TCase{4, 2}, TCase{16, 1}, TCase{8, 2}}) {
        std::vector<uint8_t> file = PcxHeader(4, 2, c.Bits, c.Planes, 8);
        file.resize(file.size() + 64, 0x01);
        TCustomMemoryStream stream(file.data(), int64_t(file.size()));
        TPCXGraphic reader;
        try {
            reader.ReadImage(stream);
            ADD_FAILURE() << c.Bits << " bits x " << c.Planes << " planes was read";
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), "Invalid color format in PCX file.") << c.Bits << "x" << c.Planes;
        }
    }
}

TEST(PCXReader, LinesTooShortForTheWidthAreRefused) {
    std::vector<uint8_t> file = PcxHeader(40, 2, 8, 3, 4);  // 40 pixels in 4-byte lines
    file.resize(file.size() + 64, 0x01);
    TCustomMemoryStream stream(file.data(), int64_t(file.size()));
    TPCXGraphic reader;
    EXPECT_THROW(reader.ReadImage(stream), EInvalidGraphic);
}

TEST(PCXReader, EveryTruncationLoadsOrFailsCleanly) {
    for (const char* name : {"formats/pcx/pcx-8bit-palette.pcx", "formats/pcx/pcx-16colour-4planes.pcx",
                             "formats/pcx/pcx-24bit-rle.pcx"}) {
        const std::vector<uint8_t> bytes = test::ReadFileBytes(DataPath(name));
        for (size_t size = 0; size < bytes.size(); size += 7) {
            TCustomMemoryStream stream(bytes.data(), int64_t(size));
            TPCXGraphic reader;
            EXPECT_TRUE(test::ReadsOrFailsCleanly(reader, stream)) << name << ", " << size << " bytes";
        }
    }
}

}  // namespace
}  // namespace tilvorn
