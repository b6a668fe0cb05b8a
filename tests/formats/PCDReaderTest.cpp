#include <cmath>
#include <cstring>
#include <functional>

#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "formats/AllFormats.h"
#include "formats/PCDImage.h"
#include "formats/ReferencePixels.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

using test::CorpusPath;
using test::LoadWithPillow;
using test::PictureOf;

constexpr size_t kSector = 2048;

/// An image pack built from the layout: 96 sectors of header and overview, then the Base
/// image as 256 row pairs (two luminance rows, one row of each chroma plane).
std::vector<uint8_t> ImagePack(uint8_t rotation, const std::function<uint8_t(int x, int y)>& luma, uint8_t c1,
                               uint8_t c2) {
    std::vector<uint8_t> pack(96 * kSector, 0);
    std::memcpy(&pack[kSector], "PCD_IPI", 7);
    pack[3586] = rotation;
    for (int row = 0; row < 512; row += 2) {
        for (int r = row; r < row + 2; ++r)
            for (int x = 0; x < 768; ++x) pack.push_back(luma(x, r));
        pack.insert(pack.end(), 384, c1);
        pack.insert(pack.end(), 384, c2);
    }
    return pack;
}

uint8_t Ramp(int x, int y) { return uint8_t((x + 3 * y) % 256); }

TEST(PCDReader, NeutralChromaGivesTheLuminanceAsGrey) {
    // The chroma centres of Photo YCC are 156 (first plane) and 137 (second).
    const std::vector<uint8_t> pack = ImagePack(0, Ramp, 156, 137);
    TCustomMemoryStream stream(pack.data(), int64_t(pack.size()));
    RegisterStandardFormats();
    EXPECT_EQ(GlobalFormatRegistry().ClassForStream(stream), &TPCDGraphic::Class());
    TPCDGraphic reader;
    reader.ReadImage(stream);
    ASSERT_EQ(reader.Width(), 768);
    ASSERT_EQ(reader.Height(), 512);
    ASSERT_EQ(reader.BitCount(), 24);
    for (auto [x, y] : {std::pair{0, 0}, std::pair{767, 0}, std::pair{100, 200}, std::pair{767, 511}}) {
        const uint8_t v = Ramp(x, y);
        EXPECT_EQ(GetStorePixel(*reader.Image(), x, y), RGBColor(v, v, v)) << x << "," << y;
    }
}

TEST(PCDReader, UniformPlanesGiveAUniformColour) {
    const std::vector<uint8_t> pack = ImagePack(
        0, [](int, int) { return uint8_t(120); }, 180, 100);
    TCustomMemoryStream stream(pack.data(), int64_t(pack.size()));
    TPCDGraphic reader;
    reader.ReadImage(stream);
    // Y + table values of the luma-chroma converter with the weights 0.2125, 0.7154, 0.0721.
    const int blue = 120 + int(std::nearbyint(1.8558f * (180 - 156)));
    const int red = 120 + int(std::nearbyint(1.575f * (100 - 137)));
    const TColor first = GetStorePixel(*reader.Image(), 0, 0);
    EXPECT_EQ(ColorBlue(first), blue);
    EXPECT_EQ(ColorRed(first), red);
    for (auto [x, y] : {std::pair{383, 255}, std::pair{767, 511}, std::pair{0, 511}})
        EXPECT_EQ(GetStorePixel(*reader.Image(), x, y), first);
}

TEST(PCDReader, PortraitImagesAreTurnedUpright) {
    struct TCase {
        uint8_t Rotation;
        int Column, RowOfFirstPixel, RowStep;
    };
    for (const TCase& c : {TCase{1, 0, 767, -1}, TCase{3, 511, 0, 1}}) {
        const std::vector<uint8_t> pack = ImagePack(c.Rotation, Ramp, 156, 137);
        TCustomMemoryStream stream(pack.data(), int64_t(pack.size()));
        TPCDGraphic reader;
        reader.ReadImage(stream);
        ASSERT_EQ(reader.Width(), 512);
        ASSERT_EQ(reader.Height(), 768);
        // The first stored row becomes a column.
        for (int i : {0, 1, 300, 767}) {
            const uint8_t v = Ramp(i, 0);
            EXPECT_EQ(GetStorePixel(*reader.Image(), c.Column, c.RowOfFirstPixel + c.RowStep * i), RGBColor(v, v, v))
                << int(c.Rotation) << ": pixel " << i;
        }
    }
}

TEST(PCDReader, ImageInfoDescribesEachResolution) {
    const std::vector<uint8_t> pack = ImagePack(1, Ramp, 156, 137);
    struct TCase {
        uint32_t Index, Width, Height;
        CompressionKind Coding;
    };
    for (const TCase& c :
         {TCase{0, 128, 192, CompressionKind::None}, TCase{2, 512, 768, CompressionKind::None},
          TCase{4, 2048, 3072, CompressionKind::PCDHuffman}, TCase{9, 4096, 6144, CompressionKind::PCDHuffman}}) {
        TCustomMemoryStream stream(pack.data(), int64_t(pack.size()));
        TPCDGraphic reader;
        ASSERT_TRUE(reader.ReadImageInfo(stream, c.Index));
        EXPECT_EQ(reader.Properties.ImageWidth, c.Width) << c.Index;  // rotation 1: turned sideways
        EXPECT_EQ(reader.Properties.ImageHeight, c.Height) << c.Index;
        EXPECT_EQ(reader.Properties.Coding, c.Coding) << c.Index;
        EXPECT_EQ(reader.Properties.Model, ColorModel::PhotoYCC);
    }
}

TEST(PCDReader, OtherFilesLeaveTheBitmapEmptyAndShortPacksFail) {
    std::vector<uint8_t> other(8000, 'x');
    TCustomMemoryStream otherStream(other.data(), int64_t(other.size()));
    TPCDGraphic reader;
    EXPECT_NO_THROW(reader.ReadImage(otherStream));
    EXPECT_TRUE(reader.Empty());

    // Cut short by one byte or by half: refused before a row is read.
    struct TCountingStream : TCustomMemoryStream {
        using TCustomMemoryStream::TCustomMemoryStream;
        int64_t Read(void* buffer, int64_t count) override {
            rowReads += count == 768 || count == 384;
            return TCustomMemoryStream::Read(buffer, count);
        }
        int rowReads = 0;
    };
    for (size_t cut : {size_t(1), ImagePack(0, Ramp, 156, 137).size() / 2}) {
        std::vector<uint8_t> pack = ImagePack(0, Ramp, 156, 137);
        pack.resize(pack.size() - cut);
        TCountingStream shortStream(pack.data(), int64_t(pack.size()));
        EXPECT_THROW(reader.ReadImage(shortStream), EReadError);
        EXPECT_EQ(shortStream.rowReads, 0);
    }
}

// Photo CD decoders differ in how they scale Photo YCC (this program takes the samples as
// they are, others stretch luminance); the public pack must still show the same picture.
TEST(PCDCorpus, HopperLooksLikePillowsReading) {
    TILVORN_REQUIRE_PILLOW();
    const std::string path = CorpusPath("pillow/Tests/images/hopper.pcd");
    if (path.empty()) GTEST_SKIP() << "the picture corpus is not there";
    TPCDGraphic reader;
    reader.ReadImageFile(path);
    const test::TRgbaPicture ours = PictureOf(reader), pillow = LoadWithPillow(path);
    ASSERT_EQ(ours.Width, pillow.Width);
    ASSERT_EQ(ours.Height, pillow.Height);
    // Compare the luminance of both, as a correlation of the two pictures.
    double sumA = 0, sumB = 0, sumAB = 0, sumAA = 0, sumBB = 0;
    const size_t n = size_t(ours.Width) * ours.Height;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* a = &ours.Rgba[i * 4];
        const uint8_t* b = &pillow.Rgba[i * 4];
        const double la = 0.3 * a[0] + 0.59 * a[1] + 0.11 * a[2], lb = 0.3 * b[0] + 0.59 * b[1] + 0.11 * b[2];
        sumA += la, sumB += lb, sumAB += la * lb, sumAA += la * la, sumBB += lb * lb;
    }
    const double cov = sumAB / n - (sumA / n) * (sumB / n);
    const double correlation =
        cov / std::sqrt((sumAA / n - (sumA / n) * (sumA / n)) * (sumBB / n - (sumB / n) * (sumB / n)));
    EXPECT_GT(correlation, 0.95);
}

}  // namespace
}  // namespace tilvorn
