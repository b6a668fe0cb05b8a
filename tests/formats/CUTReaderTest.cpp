#include <filesystem>

#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "formats/AllFormats.h"
#include "formats/CUTImage.h"
#include "formats/ReaderChecks.h"
#include "formats/ReferencePixels.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::DataPath;
using test::LoadWithImageMagick;
using test::LoadWithPillow;
using test::PictureOf;
using test::SamePixels;

TEST(CUTReader, ColoursComeFromThePaletteFileBeside) {
    TILVORN_REQUIRE_PILLOW();
    TCUTGraphic reader;
    reader.ReadImageFile(DataPath("formats/cut/cut-picture.cut"));
    ASSERT_EQ(reader.BitCount(), 8);
    const test::TRgbaPicture expected = LoadWithPillow(DataPath("formats/cut/cut-picture.ref.ppm"));
    EXPECT_TRUE(SamePixels(expected, PictureOf(reader), 0));
    // ImageMagick reads the pair to the same colours.
    const test::TRgbaPicture magick = LoadWithImageMagick(DataPath("formats/cut/cut-picture.cut"));
    if (!magick.Empty()) {
        EXPECT_TRUE(SamePixels(magick, PictureOf(reader), 0));
    }
    // 256 entries: 78 in the first 512-byte block, the rest from the start of the next.
    EXPECT_EQ(reader.Image()->ColorTable[77], (RGBQUAD{uint8_t(77 * 7 + 11), uint8_t(255 - 77), uint8_t(77 * 3), 0}));
    EXPECT_EQ(reader.Image()->ColorTable[78], (RGBQUAD{uint8_t(78 * 7 + 11), uint8_t(255 - 78), uint8_t(78 * 3), 0}));
    EXPECT_EQ(reader.Image()->ColorTable[255], (RGBQUAD{uint8_t(255 * 7 + 11), uint8_t(0), uint8_t(255 * 3), 0}));
}

TEST(CUTReader, WithoutPaletteFileOrFromAStreamThePictureIsGrey) {
    TILVORN_REQUIRE_PILLOW();
    const std::string dir = test::TempDir("cut-alone");
    std::filesystem::copy_file(DataPath("formats/cut/cut-picture.cut"), dir + "/alone.cut");
    const test::TRgbaPicture grey = LoadWithPillow(DataPath("formats/cut/cut-grey.ref.ppm"));
    TCUTGraphic alone;
    alone.ReadImageFile(dir + "/alone.cut");
    EXPECT_TRUE(SamePixels(grey, PictureOf(alone), 0));

    TCUTGraphic streamed;
    TFileStream stream(DataPath("formats/cut/cut-picture.cut"), FileMode::OpenRead);
    streamed.ReadImage(stream);
    EXPECT_TRUE(SamePixels(grey, PictureOf(streamed), 0));
    EXPECT_TRUE(streamed.PaletteFileName().empty());
}

TEST(CUTReader, PaletteNeverHoldsMoreThan256Entries) {
    TCUTGraphic reader;
    reader.ReadImageFile(DataPath("formats/cut/cut-overfull.cut"));
    EXPECT_EQ(reader.Width(), 13);
    EXPECT_EQ(reader.Image()->ColorTable[255], (RGBQUAD{uint8_t(255 * 7 + 11), uint8_t(0), uint8_t(255 * 3), 0}));
}

TEST(CUTReader, ShortPaletteFileGivesTheReadError) {
    const std::string dir = test::TempDir("cut-short-palette");
    std::filesystem::copy_file(DataPath("formats/cut/cut-picture.cut"), dir + "/short.cut");
    std::vector<uint8_t> palette = test::ReadFileBytes(DataPath("formats/cut/cut-picture.pal"));
    palette.resize(600);  // the second block is cut off
    test::WriteFileBytes(dir + "/short.pal", palette);
    TCUTGraphic reader;
    EXPECT_THROW(reader.ReadImageFile(dir + "/short.cut"), EReadError);
}

TEST(CUTReader, ContentProbingNeverChoosesIt) {
    RegisterStandardFormats();
    TFileStream stream(DataPath("formats/cut/cut-picture.cut"), FileMode::OpenRead);
    EXPECT_FALSE(TCUTGraphic::ProbeStream(stream));
    EXPECT_NE(GlobalFormatRegistry().ClassForFile(DataPath("formats/cut/cut-picture.cut")), &TCUTGraphic::Class());
    EXPECT_EQ(GlobalFormatRegistry().ClassForExtension("cut"), &TCUTGraphic::Class());
}

TEST(CUTReader, EveryTruncationLoadsOrFailsCleanly) {
    const std::vector<uint8_t> bytes = test::ReadFileBytes(DataPath("formats/cut/cut-picture.cut"));
    for (size_t size = 0; size < bytes.size(); ++size) {
        TCustomMemoryStream stream(bytes.data(), int64_t(size));
        TCUTGraphic reader;
        EXPECT_TRUE(test::ReadsOrFailsCleanly(reader, stream)) << size << " bytes";
    }
}

}  // namespace
}  // namespace tilvorn
