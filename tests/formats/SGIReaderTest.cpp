#include <filesystem>

#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "formats/AllFormats.h"
#include "formats/ReaderChecks.h"
#include "formats/ReferencePixels.h"
#include "formats/SGIImage.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::CorpusPath;
using test::DataPath;
using test::LoadWithPillow;
using test::PictureOf;
using test::SamePixels;

struct TSgiCase {
    const char* File;
    const char* Reference;  // under tests/data/formats
    int BitCount;
    bool Alpha;
};

class SGIFixtures : public ::testing::TestWithParam<TSgiCase> {};

TEST_P(SGIFixtures, DecodeToTheirReferencePicture) {
    TILVORN_REQUIRE_PILLOW();
    const TSgiCase& c = GetParam();
    RegisterStandardFormats();
    const std::string path = DataPath(std::string("formats/") + c.File);
    ASSERT_EQ(GlobalFormatRegistry().ClassForFile(path), &TSGIGraphic::Class());
    TSGIGraphic reader;
    reader.ReadImageFile(path);
    EXPECT_EQ(reader.BitCount(), c.BitCount);
    EXPECT_TRUE(
        SamePixels(LoadWithPillow(DataPath(std::string("formats/") + c.Reference)), PictureOf(reader), 1, c.Alpha));
}

INSTANTIATE_TEST_SUITE_P(Files, SGIFixtures,
                         ::testing::Values(TSgiCase{"sgi/sgi-rgb-rle.rgb", "ppm/source-colours.ppm", 24, false},
                                           TSgiCase{"sgi/sgi-rgb-verbatim.rgb", "ppm/source-colours.ppm", 24, false},
                                           TSgiCase{"sgi/sgi-rgb16-verbatim.sgi", "ppm/source-colours.ppm", 24, false},
                                           TSgiCase{"sgi/sgi-rgba-rle.sgi", "psd/source-alpha.png", 32, true},
                                           TSgiCase{"sgi/sgi-grey-rle.bw", "ppm/source-grey.pgm", 8, false},
                                           TSgiCase{"sgi/sgi-grey16-verbatim.bw", "ppm/source-grey.pgm", 8, false},
                                           TSgiCase{"sgi/sgi-grey-alpha.sgi", "sgi/sgi-grey-alpha.ref.ppm", 8, false}));

TEST(SGIReader, RunLengthAndVerbatimGiveTheSamePixelsBottomRowFirst) {
    TSGIGraphic rle, verbatim;
    rle.ReadImageFile(DataPath("formats/sgi/sgi-rgb-rle.rgb"));
    verbatim.ReadImageFile(DataPath("formats/sgi/sgi-rgb-verbatim.rgb"));
    EXPECT_EQ(rle.Properties.Coding, CompressionKind::RLE);
    EXPECT_EQ(verbatim.Properties.Coding, CompressionKind::None);
    EXPECT_TRUE(SamePixels(PictureOf(verbatim), PictureOf(rle), 0));
    // The first row stored (right after the 512-byte header) is the bottom row.
    const std::vector<uint8_t> bytes = test::ReadFileBytes(DataPath("formats/sgi/sgi-rgb-verbatim.rgb"));
    const int width = verbatim.Width(), height = verbatim.Height();
    const int plane = width * height;
    EXPECT_EQ(GetStorePixel(*verbatim.Image(), 2, height - 1),
              RGBColor(bytes[512 + 2], bytes[512 + plane + 2], bytes[512 + 2 * plane + 2]));
}

TEST(SGIReader, RowsStoredInAnyOrderAndFarApartAreFoundByTheirTable) {
    // Two by two pixels, run-length coded: plane 1's rows share their bytes, plane 2's come
    // in reverse order and plane 0's lie beyond a gap larger than what is read at once.
    std::vector<uint8_t> file(512, 0);
    auto put16 = [&](size_t at, uint16_t v) { file[at] = uint8_t(v >> 8), file[at + 1] = uint8_t(v); };
    put16(0, 474);
    file[2] = 1;  // run-length
    file[3] = 1;  // one byte a sample
    put16(4, 3), put16(6, 2), put16(8, 2), put16(10, 3);
    file.resize(512 + 48, 0);
    const std::vector<std::vector<uint8_t>> rows = {
        {0x02, 50, 0x00},  // plane 1, both rows
        {0x82, 70, 71, 0x00},  // plane 2, row 1
        {0x82, 60, 61, 0x00},  // plane 2, row 0
        {0x82, 10, 11, 0x00},  // plane 0, row 0, after the gap
        {0x82, 20, 21, 0x00},  // plane 0, row 1
    };
    std::vector<uint32_t> at;
    for (size_t i = 0; i < rows.size(); ++i) {
        if (i == 3) file.resize(file.size() + 300000, 0);
        at.push_back(uint32_t(file.size()));
        file.insert(file.end(), rows[i].begin(), rows[i].end());
    }
    // Table entry plane × height + row: offsets first, then lengths.
    const size_t entryRow[6] = {3, 4, 0, 0, 2, 1};
    for (size_t e = 0; e < 6; ++e) {
        for (int b = 0; b < 4; ++b) {
            file[512 + 4 * e + b] = uint8_t(at[entryRow[e]] >> (24 - 8 * b));
            file[512 + 24 + 4 * e + b] = uint8_t(rows[entryRow[e]].size() >> (24 - 8 * b));
        }
    }
    TCustomMemoryStream stream(file.data(), int64_t(file.size()));
    TSGIGraphic reader;
    reader.ReadImage(stream);
    for (int x = 0; x < 2; ++x) {  // the first row stored is the bottom row
        EXPECT_EQ(GetStorePixel(*reader.Image(), x, 1), RGBColor(uint8_t(10 + x), 50, uint8_t(60 + x))) << x;
        EXPECT_EQ(GetStorePixel(*reader.Image(), x, 0), RGBColor(uint8_t(20 + x), 50, uint8_t(70 + x))) << x;
    }
}

TEST(SGIReader, HeaderChecks) {
    std::vector<uint8_t> bytes = test::ReadFileBytes(DataPath("formats/sgi/sgi-rgb-rle.rgb"));
    struct TCase {
        size_t Offset;
        uint8_t Value;
        bool Probed;
    };
    for (const TCase& c :
         {TCase{3, 2, true}, TCase{3, 3, false}, TCase{5, 0, false}, TCase{5, 4, false}, TCase{1, 0xDB, false}}) {
        std::vector<uint8_t> data = bytes;
        data[c.Offset] = c.Value;
        TCustomMemoryStream stream(data.data(), int64_t(data.size()));
        EXPECT_EQ(TSGIGraphic::ProbeStream(stream), c.Probed) << c.Offset;
        EXPECT_EQ(stream.Position(), 0);
    }
    bytes[1] = 0xDB;
    TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    TSGIGraphic reader;
    try {
        reader.ReadImage(stream);
        ADD_FAILURE() << "read a file without the magic number";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Cannot load image. Invalid or unexpected sgi, bw or rgb(a) image format.");
    }
}

TEST(SGICorpus, PillowFilesMatchPillow) {
    TILVORN_REQUIRE_PILLOW();
    for (const char* name :
         {"hopper.rgb", "hopper.sgi", "hopper.bw", "hopper16.rgb", "tv.rgb", "tv16.sgi", "transparent.sgi"}) {
        const std::string path = CorpusPath(std::string("pillow/Tests/images/") + name);
        if (path.empty()) GTEST_SKIP() << "the picture corpus is not there";
        SCOPED_TRACE(name);
        TSGIGraphic reader;
        reader.ReadImageFile(path);
        EXPECT_TRUE(SamePixels(LoadWithPillow(path), PictureOf(reader), 1, reader.BitCount() == 32));
    }
}

TEST(SGICorpus, CrashFilesFailOrLoadWithoutHarm) {
    const std::string dir = CorpusPath("pillow/Tests/images");
    if (dir.empty()) GTEST_SKIP() << "the picture corpus is not there";
    int read = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".sgi" || (name.rfind("crash-", 0) != 0 && name.rfind("ossfuzz", 0) != 0))
            continue;
        SCOPED_TRACE(name);
        TSGIGraphic reader;
        EXPECT_TRUE(test::ReadsOrFailsCleanly(reader, entry.path().string()));
        ++read;
    }
    EXPECT_GE(read, 8);
}

}  // namespace
}  // namespace tilvorn
