#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "formats/AllFormats.h"
#include "formats/AutodeskImage.h"
#include "formats/ReferencePixels.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::DataPath;
using test::LoadWithPillow;
using test::PictureOf;
using test::SamePixels;

TEST(AutodeskReader, CelFileShowsItsPaletteWidenedToEightBits) {
    TILVORN_REQUIRE_PILLOW();
    RegisterStandardFormats();
    const std::string path = DataPath("formats/autodesk/autodesk-picture.cel");
    ASSERT_EQ(GlobalFormatRegistry().ClassForFile(path), &TAutodeskGraphic::Class());
    TAutodeskGraphic reader;
    reader.ReadImageFile(path);
    ASSERT_EQ(reader.BitCount(), 8);
    EXPECT_TRUE(
        SamePixels(LoadWithPillow(DataPath("formats/autodesk/autodesk-picture.ref.ppm")), PictureOf(reader), 0));
    // Entry 255 is stored as 63, 63, 63 at most: widened it is 252.
    EXPECT_EQ(reader.Image()->ColorTable[255].rgbBlue, 252);
}

TEST(AutodeskReader, CompressionByteFailsTheProbeButNotTheRead) {
    const std::string path = DataPath("formats/autodesk/autodesk-compression1.pic");
    TFileStream stream(path, FileMode::OpenRead);
    EXPECT_FALSE(TAutodeskGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
    TAutodeskGraphic compressed, plain;
    compressed.ReadImageFile(path);
    plain.ReadImageFile(DataPath("formats/autodesk/autodesk-picture.cel"));
    EXPECT_TRUE(SamePixels(PictureOf(plain), PictureOf(compressed), 0));
}

TEST(AutodeskReader, ShortFileKeepsTheRowsItHas) {
    std::vector<uint8_t> bytes = test::ReadFileBytes(DataPath("formats/autodesk/autodesk-picture.cel"));
    bytes.resize(800 + 13 * 4 + 5);  // four rows and a bit
    TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    TAutodeskGraphic reader;
    reader.ReadImage(stream);
    ASSERT_EQ(reader.Height(), 9);
    EXPECT_EQ(reader.ScanLine(3)[12], bytes[800 + 3 * 13 + 12]);
    EXPECT_EQ(reader.ScanLine(4)[4], bytes[800 + 4 * 13 + 4]);
}

TEST(AutodeskReader, WrongMagicGivesTheMessage) {
    std::vector<uint8_t> bytes = test::ReadFileBytes(DataPath("formats/autodesk/autodesk-picture.cel"));
    bytes[1] = 0x92;
    TCustomMemoryStream stream(bytes.data(), int64_t(bytes.size()));
    TAutodeskGraphic reader;
    try {
        reader.ReadImage(stream);
        ADD_FAILURE() << "read a file without the magic number";
    } catch (const EInvalidGraphic& e) {
        EXPECT_STREQ(e.what(), "Cannot load image. Invalid or unexpected Autodesk image format.");
    }
}

}  // namespace
}  // namespace tilvorn
