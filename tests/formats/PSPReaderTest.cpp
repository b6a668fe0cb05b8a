#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "formats/AllFormats.h"
#include "formats/PSPImage.h"
#include "formats/ReaderChecks.h"
#include "formats/ReferencePixels.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::DataPath;
using test::LoadWithPillow;
using test::PictureOf;
using test::SamePixels;

struct TPspCase {
    const char* File;
    const char* Reference;  // under tests/data/formats
    int BitCount;
    bool Alpha;
};

class PSPFixtures : public ::testing::TestWithParam<TPspCase> {};

TEST_P(PSPFixtures, DecodeToTheirReferencePicture) {
    TILVORN_REQUIRE_PILLOW();
    const TPspCase& c = GetParam();
    RegisterStandardFormats();
    const std::string path = DataPath(std::string("formats/") + c.File);
    ASSERT_EQ(GlobalFormatRegistry().ClassForFile(path), &TPSPGraphic::Class());
    TPSPGraphic reader;
    reader.ReadImageFile(path);
    EXPECT_EQ(reader.BitCount(), c.BitCount);
    EXPECT_TRUE(
        SamePixels(LoadWithPillow(DataPath(std::string("formats/") + c.Reference)), PictureOf(reader), 0, c.Alpha));
}

INSTANTIATE_TEST_SUITE_P(Files, PSPFixtures,
                         ::testing::Values(TPspCase{"psp/psp-rgb-rle.psp", "ppm/source-colours.ppm", 24, false},
                                           TPspCase{"psp/psp-rgb-lz77.psp", "ppm/source-colours.ppm", 24, false},
                                           TPspCase{"psp/psp-rgb-v3-raw.psp", "ppm/source-colours.ppm", 24, false},
                                           TPspCase{"psp/psp-rgb-vector-first.psp", "ppm/source-colours.ppm", 24,
                                                    false},
                                           TPspCase{"psp/psp-rgb-odd-channel.psp", "ppm/source-colours.ppm", 32, false},
                                           TPspCase{"psp/psp-rgba-rle.psp", "psd/source-alpha.png", 32, true},
                                           TPspCase{"psp/psp-indexed8.psp", "psp/psp-indexed8.ref.ppm", 8, false},
                                           TPspCase{"psp/psp-indexed4.psp", "psp/psp-indexed4.ref.ppm", 4, false},
                                           TPspCase{"psp/psp-indexed1.psp", "psp/psp-indexed1.ref.ppm", 1, false},
                                           TPspCase{"psp/psp-grey8.psp", "ppm/source-grey.pgm", 8, false}));

TEST(PSPReader, HeaderGivesSizeResolutionAndCoding) {
    TPSPGraphic reader;
    TFileStream stream(DataPath("formats/psp/psp-rgb-rle.psp"), FileMode::OpenRead);
    ASSERT_TRUE(reader.ReadImageInfo(stream, 0));
    EXPECT_EQ(reader.Properties.FormatVersion, 5u);
    EXPECT_EQ(reader.Properties.ImageWidth, 13u);
    EXPECT_EQ(reader.Properties.ImageHeight, 9u);
    EXPECT_FLOAT_EQ(reader.Properties.DpiX, 254.0f);  // 100 per centimetre
    EXPECT_FLOAT_EQ(reader.Properties.DpiY, 254.0f);
    EXPECT_EQ(reader.Properties.Coding, CompressionKind::RLE);
    EXPECT_EQ(reader.Properties.Model, ColorModel::RGB);
}

std::vector<uint8_t> Patched(const char* file, size_t offset, std::vector<uint8_t> bytes) {
    std::vector<uint8_t> data = test::ReadFileBytes(DataPath(file));
    std::copy(bytes.begin(), bytes.end(), data.begin() + long(offset));
    return data;
}

std::string ReadError(const std::vector<uint8_t>& data) {
    TCustomMemoryStream stream(data.data(), int64_t(data.size()));
    TPSPGraphic reader;
    try {
        reader.ReadImage(stream);
    } catch (const Exception& e) {
        return e.what();
    }
    return "no error";
}

TEST(PSPReader, BadFilesGiveTheirMessages) {
    // Attributes start at 36 (file header) + 10 (block header) + 4 (chunk length).
    const size_t attributes = 50;
    struct TCase {
        size_t Offset;
        std::vector<uint8_t> Bytes;
        const char* Error;
    };
    for (const TCase& c :
         {TCase{0, {'X'}, "Cannot load image. Invalid or unexpected PSP image format."},
          TCase{32, {2, 0}, "Cannot load image. Invalid or unexpected PSP image format."},
          TCase{attributes + 19, {16, 0}, "Invalid color format in PSP file."},
          TCase{attributes + 19, {32, 0}, "Invalid color format in PSP file."},
          TCase{attributes + 17, {3, 0}, "Cannot load image. The compression scheme is not supported for PSP files."},
          TCase{attributes + 0,
                {0xFF, 0xFF, 0xFF, 0x7F},
                "Cannot load image. Invalid or unexpected PSP image format."}}) {
        EXPECT_EQ(ReadError(Patched("formats/psp/psp-rgb-rle.psp", c.Offset, c.Bytes)), c.Error) << c.Offset;
    }
}

TEST(PSPReader, SignatureIgnoresLetterCase) {
    std::vector<uint8_t> data = Patched("formats/psp/psp-rgb-rle.psp", 0, {'p', 'A', 'I', 'N', 'T'});
    TCustomMemoryStream stream(data.data(), int64_t(data.size()));
    EXPECT_TRUE(TPSPGraphic::ProbeStream(stream));
    EXPECT_EQ(stream.Position(), 0);
}

TEST(PSPReader, EveryTruncationLoadsOrFailsCleanly) {
    for (const char* name :
         {"formats/psp/psp-rgb-lz77.psp", "formats/psp/psp-indexed8.psp", "formats/psp/psp-rgb-v3-raw.psp"}) {
        const std::vector<uint8_t> bytes = test::ReadFileBytes(DataPath(name));
        for (size_t size = 0; size < bytes.size(); size += 5) {
            TCustomMemoryStream stream(bytes.data(), int64_t(size));
            TPSPGraphic reader;
            EXPECT_TRUE(test::ReadsOrFailsCleanly(reader, stream)) << name << ", " << size << " bytes";
        }
    }
}

}  // namespace
}  // namespace tilvorn
