#include <filesystem>
#include <map>

#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "formats/AllFormats.h"
#include "formats/PSDImage.h"
#include "formats/ReaderChecks.h"
#include "formats/ReferencePixels.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::CorpusPath;
using test::DataPath;
using test::LoadWithImageMagick;
using test::LoadWithPillow;
using test::PictureOf;
using test::SamePixels;

struct TPsdCase {
    const char* File;
    const char* Reference;  // under tests/data/formats; empty: the file itself through ImageMagick
    int BitCount;
    bool Alpha;
};

class PSDFixtures : public ::testing::TestWithParam<TPsdCase> {};

TEST_P(PSDFixtures, DecodeToTheirReferencePicture) {
    TILVORN_REQUIRE_PILLOW();
    const TPsdCase& c = GetParam();
    RegisterStandardFormats();
    const std::string path = DataPath(std::string("formats/") + c.File);
    ASSERT_EQ(GlobalFormatRegistry().ClassForFile(path), &TPSDGraphic::Class());
    TPSDGraphic reader;
    reader.ReadImageFile(path);
    EXPECT_EQ(reader.BitCount(), c.BitCount);
    const test::TRgbaPicture expected =
        *c.Reference ? LoadWithPillow(DataPath(std::string("formats/") + c.Reference)) : LoadWithImageMagick(path);
    if (expected.Empty()) GTEST_SKIP() << "no reference decoder for " << c.File;
    EXPECT_TRUE(SamePixels(expected, PictureOf(reader), *c.Reference ? 0 : 1, c.Alpha));
}

INSTANTIATE_TEST_SUITE_P(Files, PSDFixtures,
                         ::testing::Values(TPsdCase{"psd/psd-rgb-rle.psd", "ppm/source-colours.ppm", 24, false},
                                           TPsdCase{"psd/psd-rgb-raw.psd", "ppm/source-colours.ppm", 24, false},
                                           TPsdCase{"psd/psd-rgb16.psd", "ppm/source-colours.ppm", 24, false},
                                           TPsdCase{"psd/psd-rgba-rle.psd", "psd/source-alpha.png", 32, true},
                                           TPsdCase{"psd/psd-grey.psd", "ppm/source-grey.pgm", 8, false},
                                           TPsdCase{"psd/psd-duotone.psd", "ppm/source-grey.pgm", 8, false},
                                           TPsdCase{"psd/psd-indexed.psd", "ppm/source-sixteen.ppm", 8, false},
                                           TPsdCase{"psd/psd-bitmap.psd", "ppm/source-mono.pbm", 1, false},
                                           TPsdCase{"psd/psd-cmyk.psd", "", 24, false}));

TEST(PSDReader, PackBitsAndRawDataGiveTheSamePixels) {
    TPSDGraphic packed, raw;
    packed.ReadImageFile(DataPath("formats/psd/psd-rgb-rle.psd"));
    raw.ReadImageFile(DataPath("formats/psd/psd-rgb-raw.psd"));
    EXPECT_EQ(packed.Properties.Coding, CompressionKind::PackBits);
    EXPECT_EQ(raw.Properties.Coding, CompressionKind::None);
    EXPECT_TRUE(SamePixels(PictureOf(raw), PictureOf(packed), 0));
}

/// A raw one-pixel file of the given colour mode whose channels hold the given samples.
std::vector<uint8_t> OnePixelFile(uint8_t mode, std::vector<uint8_t> samples) {
    std::vector<uint8_t> file = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0,   0, uint8_t(samples.size()),
                                 0,   0,   0,   1,   0, 0, 0, 1, 0, 8, 0, mode};
    file.insert(file.end(), 12, 0);  // three empty sections
    file.insert(file.end(), {0, 0});  // raw
    file.insert(file.end(), samples.begin(), samples.end());
    return file;
}

TEST(PSDReader, PackBitsPlanesAreOneStreamAcrossRowsAndPlanes) {
    // Two by two RGB pixels. One run fills the red plane and green's first row, literal
    // packets give green's second row and blue's first row with one byte of its second, and
    // a run without its value ends the data: the last blue sample stays 0.
    std::vector<uint8_t> file = {'8', 'B', 'P', 'S', 0, 1, 0, 0, 0, 0, 0, 0, 0, 3, 0, 0, 0, 2, 0, 0, 0, 2, 0, 8, 0, 3};
    file.insert(file.end(), 12, 0);  // three empty sections
    file.insert(file.end(), {0, 1});  // PackBits
    for (uint8_t count : {2, 2, 2, 2, 1, 1}) file.insert(file.end(), {0, count});  // ten bytes in all
    file.insert(file.end(), {0xFB, 10, 0x01, 20, 21, 0x02, 30, 31, 32, 0xFE});
    TCustomMemoryStream stream(file.data(), int64_t(file.size()));
    TPSDGraphic reader;
    reader.ReadImage(stream);
    EXPECT_EQ(GetStorePixel(*reader.Image(), 0, 0), RGBColor(10, 10, 30));
    EXPECT_EQ(GetStorePixel(*reader.Image(), 1, 0), RGBColor(10, 10, 31));
    EXPECT_EQ(GetStorePixel(*reader.Image(), 0, 1), RGBColor(10, 20, 32));
    EXPECT_EQ(GetStorePixel(*reader.Image(), 1, 1), RGBColor(10, 21, 0));
}

// The channel after the grey one is its alpha, kept in 32-bit pixels so that the picture is
// laid on white by it; channels beyond it (spot colours) are not shown; grey alone stays 8-bit.
// Colours never darker than the white their alpha lets through were stored laid on white
// already (as Photoshop and ImageMagick store the merged picture): they show as stored.
TEST(PSDReader, GreyWithFurtherChannelsKeepsItsAlpha) {
    struct Case {
        std::vector<uint8_t> Samples;
        int BitCount;
        std::vector<uint8_t> Pixel;  // blue, green, red (and alpha)
    } cases[] = {{{200, 17}, 32, {200, 200, 200, 17}},
                 {{90, 255, 3}, 32, {90, 90, 90, 255}},
                 {{177, 78}, 32, {177, 177, 177, 255}},
                 {{77}, 8, {77}}};
    for (const Case& c : cases) {
        const std::vector<uint8_t> file = OnePixelFile(1, c.Samples);
        TCustomMemoryStream stream(file.data(), int64_t(file.size()));
        TPSDGraphic reader;
        reader.ReadImage(stream);
        ASSERT_EQ(reader.BitCount(), c.BitCount);
        const uint8_t* pixel = reader.ScanLine(0);
        if (c.BitCount == 8)
            EXPECT_EQ(GetStorePixel(*reader.Image(), 0, 0), RGBColor(77, 77, 77));
        else
            EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 4), c.Pixel);
    }
}

TEST(PSDReader, ColourModesWithTooFewChannelsAreRefused) {
    for (auto [mode, channels] : {std::pair{3, 2}, std::pair{4, 3}, std::pair{9, 2}, std::pair{7, 1}}) {
        const std::vector<uint8_t> file = OnePixelFile(uint8_t(mode), std::vector<uint8_t>(size_t(channels), 9));
        TCustomMemoryStream stream(file.data(), int64_t(file.size()));
        TPSDGraphic reader;
        try {
            reader.ReadImage(stream);
            ADD_FAILURE() << "mode " << mode << " with " << channels << " channels was read";
        } catch (const EInvalidGraphic& e) {
            EXPECT_STREQ(e.what(), "Invalid color format in PSD file.");
        }
    }
}

TEST(PSDReader, CmykWithoutInkIsWhite) {
    const std::vector<uint8_t> file = OnePixelFile(4, {255, 255, 255, 255});  // stored 255: no ink
    TCustomMemoryStream stream(file.data(), int64_t(file.size()));
    TPSDGraphic reader;
    reader.ReadImage(stream);
    EXPECT_EQ(reader.Properties.Model, ColorModel::CMYK);
    EXPECT_EQ(GetStorePixel(*reader.Image(), 0, 0), RGBColor(255, 255, 255));
}

TEST(PSDReader, PaletteAndGreyRampsFollowTheColourMode) {
    TPSDGraphic grey, bitmap;
    grey.ReadImageFile(DataPath("formats/psd/psd-grey.psd"));
    bitmap.ReadImageFile(DataPath("formats/psd/psd-bitmap.psd"));
    EXPECT_EQ(grey.Image()->ColorTable[0], (RGBQUAD{0, 0, 0, 0}));
    EXPECT_EQ(grey.Image()->ColorTable[255], (RGBQUAD{255, 255, 255, 0}));
    EXPECT_TRUE(bitmap.Properties.Flags.Contains(ImageFlag::MinIsWhite));
    EXPECT_EQ(bitmap.Image()->ColorTable[0], (RGBQUAD{255, 255, 255, 0}));  // 0 is white, 1 black
    EXPECT_EQ(bitmap.Image()->ColorTable[1], (RGBQUAD{0, 0, 0, 0}));
}

TEST(PSDReader, SignatureCaseMattersOnlyToTheHeaderRead) {
    std::vector<uint8_t> file = test::ReadFileBytes(DataPath("formats/psd/psd-rgb-rle.psd"));
    std::copy_n("8bps", 4, file.begin());
    TCustomMemoryStream stream(file.data(), int64_t(file.size()));
    EXPECT_TRUE(TPSDGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    TPSDGraphic reader;
    EXPECT_FALSE(reader.ReadImageInfo(stream, 0));
    stream.SetPosition(0);
    try {
        reader.ReadImage(stream);
        ADD_FAILURE() << "read a file signed 8bps";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Cannot load image. Invalid or unexpected PSD or PDD image format.");
    }
}

TEST(PSDCorpus, PillowFilesMatchPillow) {
    TILVORN_REQUIRE_PILLOW();
    struct TCase {
        const char* Name;
        int ChannelCount;
        bool Alpha;
    };
    for (const TCase& c : {TCase{"hopper.psd", 3, false}, TCase{"hopper_merged.psd", 3, false},
                           TCase{"rgba.psd", 4, true}, TCase{"five_channels.psd", 3, false}}) {
        const std::string path = CorpusPath(std::string("pillow/Tests/images/") + c.Name);
        if (path.empty()) GTEST_SKIP() << "the picture corpus is not there";
        SCOPED_TRACE(c.Name);
        TPSDGraphic reader;
        reader.ReadImageFile(path);
        EXPECT_EQ(reader.Properties.ChannelCount, c.ChannelCount);
        EXPECT_LE(reader.Properties.SampleCount, 4);
        EXPECT_TRUE(SamePixels(LoadWithPillow(path), PictureOf(reader), 1, false));
    }
}

// The picture laid on white paper by its alpha, as the poster shows it.
test::TRgbaPicture OnWhite(test::TRgbaPicture picture) {
    for (size_t i = 0; i < picture.Rgba.size(); i += 4) {
        const int alpha = picture.Rgba[i + 3];
        for (size_t c = 0; c < 3; ++c)
            picture.Rgba[i + c] = uint8_t((picture.Rgba[i + c] * alpha + 255 * (255 - alpha) + 127) / 255);
        picture.Rgba[i + 3] = 255;
    }
    return picture;
}

TEST(PSDCorpus, KImageFormatsFilesMatchTheirPictures) {
    TILVORN_REQUIRE_PILLOW();
    const std::string dir = CorpusPath("kimageformats/psd");
    if (dir.empty()) GTEST_SKIP() << "the picture corpus is not there";
    // Files whose picture rests on rules this reader does not share, and why.
    const std::map<std::string, std::string> differ = {
        {"32bit-rgb.psd", "32-bit samples are beyond the colour manager (1 to 16 bits)"},
        {"32bit_grayscale.psd", "32-bit samples are beyond the colour manager"},
        {"cmyk16_testcard.psd", "the picture is colour-managed through an ICC profile"},
        {"cmyk8_testcard.psd", "the picture is colour-managed through an ICC profile"},
        {"cmyka-16bits.psd", "the picture is colour-managed through an ICC profile"},
        {"cmyka-8bits.psd", "the picture is colour-managed through an ICC profile"},
        {"laba_16bit.psd", "CIE Lab is converted with this program's own formula"},
        {"laba_8bit.psd", "CIE Lab is converted with this program's own formula"},
        {"mch-16bits.psd", "multichannel files are shown as RGB planes"},
        {"mch-8bits.psd", "multichannel files are shown as RGB planes"},
        {"mch1-16bits.psd", "one multichannel plane is no RGB picture"},
        {"mch1-8bits.psd", "one multichannel plane is no RGB picture"},
        {"mch2-16bits.psd", "two multichannel planes are no RGB picture"},
        {"mch2-8bits.psd", "two multichannel planes are no RGB picture"},
        {"ccbug182496.psd", "its fourth channel is a saved selection, not the picture's transparency"},
        {"argb16-raw-affinityphoto-1.8.5.psd", "16-bit colours are narrowed before they are laid on white"},
        {"testcard_graya32.psd", "32-bit samples are beyond the colour manager"},
    };
    int compared = 0;
    for (const auto& entry : std::filesystem::directory_iterator(dir)) {
        const std::string name = entry.path().filename().string();
        if (entry.path().extension() != ".psd" && entry.path().extension() != ".pdd") continue;
        const std::filesystem::path png = std::filesystem::path(entry.path()).replace_extension(".png");
        if (differ.count(name) || !std::filesystem::exists(png)) continue;
        SCOPED_TRACE(name);
        TPSDGraphic reader;
        try {
            reader.ReadImageFile(entry.path().string());
        } catch (const Exception& e) {
            ADD_FAILURE() << e.what();
            continue;
        }
        // What is seen: both laid on white by their alpha.
        EXPECT_TRUE(SamePixels(OnWhite(LoadWithPillow(png.string())), OnWhite(PictureOf(reader)), 1));
        ++compared;
    }
    EXPECT_GE(compared, 5);
}

TEST(PSDCorpus, DamagedFilesFailOrLoadWithoutHarm) {
    const std::string dir = CorpusPath("pillow/Tests/images");
    if (dir.empty()) GTEST_SKIP() << "the picture corpus is not there";
    for (const char* name : {"psd-oob-write.psd", "psd-oob-write-overflow.psd", "psd-oob-write-x.psd",
                             "psd-oob-write-y.psd", "negative_layer_count.psd", "negative_top_left_layer.psd",
                             "combined_larger_than_size.psd", "timeout-1ee28a249896e05b83840ae8140622de8e648ba9.psd",
                             "timeout-598843abc37fc080ec36a2699ebbd44f795d3a6f.psd",
                             "timeout-c8efc3fded6426986ba867a399791bae544f59bc.psd",
                             "timeout-dedc7a4ebd856d79b4359bbcc79e8ef231ce38f6.psd"}) {
        SCOPED_TRACE(name);
        TPSDGraphic reader;
        EXPECT_TRUE(test::ReadsOrFailsCleanly(reader, dir + "/" + name));
    }
}

}  // namespace
}  // namespace tilvorn
