// Small damaged files whose headers lie about what follows: every reader ends with one of its
// errors or with what the file really holds, never past its buffers and never asking for
// memory the file cannot back.
#include <algorithm>
#include <string>

#include <gtest/gtest.h>

#include "core/Exceptions.h"
#include "core/PictureMemory.h"
#include "core/Streams.h"
#include "formats/HEIFImage.h"
#include "formats/PNGImage.h"
#include "formats/PSDImage.h"
#include "formats/TIFFImage.h"
#include "formats/TargaImage.h"
#include "support/TestSupport.h"

namespace tilvorn {
namespace {

std::string Hostile(const std::string& name) { return test::DataPath("formats/hostile/" + name); }

template <typename Reader>
std::string ReadError(const std::string& name) {
    Reader reader;
    try {
        reader.ReadImageFile(Hostile(name));
    } catch (const Exception& e) {
        EXPECT_TRUE(reader.Empty()) << name << ": no picture is left behind";
        return e.Message();
    }
    return "(read without an error)";
}

TEST(HostileInput, LyingHeadersEndInTheReadersOwnErrors) {
    struct Case {
        const char* File;
        std::string (*Read)(const std::string&);
        std::string Message;
    };
    const Case cases[] = {
        {"psd-no-channels.psd", ReadError<TPSDGraphic>,
         "Cannot load image. Invalid or unexpected PSD or PDD image format."},
        {"targa-map-entry-0.tga", ReadError<TTargaGraphic>, "Cannot load image. Palette in Targa file is invalid."},
        {"targa-map-entry-8.tga", ReadError<TTargaGraphic>, "Cannot load image. Palette in Targa file is invalid."},
        {"eps-huge-preview.eps", ReadError<TEPSGraphic>,
         "Cannot load image. Invalid or unexpected TIF/TIFF image format."},
        // What the strips can decode to is bounded by the file, per coding, with or without
        // byte counts: refused before the bitmap is made or a row is walked.
        {"lzw-huge.tif", ReadError<TTIFFGraphic>, "Cannot load image. Invalid or unexpected TIF/TIFF image format."},
        {"fax-rows.tif", ReadError<TTIFFGraphic>, "Cannot load image. Invalid or unexpected TIF/TIFF image format."},
        {"raw-no-counts.tif", ReadError<TTIFFGraphic>,
         "Cannot load image. Invalid or unexpected TIF/TIFF image format."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.File);
        EXPECT_EQ(c.Read(c.File), c.Message);
    }
}

/// A memory stream that notes the largest single read asked of it.
class TReadRecordingStream : public TCustomMemoryStream {
public:
    explicit TReadRecordingStream(const std::vector<unsigned char>& bytes)
        : TCustomMemoryStream(bytes.data(), int64_t(bytes.size())) {}
    int64_t Read(void* buffer, int64_t count) override {
        LargestRead = std::max(LargestRead, count);
        return TCustomMemoryStream::Read(buffer, count);
    }
    int64_t LargestRead = 0;
};

TEST(HostileInput, PngChunkIsReadAsItsBytesArriveNotAsItsLengthClaims) {
    const std::vector<unsigned char> bytes = test::ReadFileBytes(Hostile("png-huge-chunk.png"));
    TReadRecordingStream stream(bytes);
    TPNGGraphic reader;
    reader.ReadImage(stream);
    EXPECT_LE(stream.LargestRead, int64_t(bytes.size())) << "a read beyond what the file holds";
    ASSERT_EQ(reader.Width(), 32);
    ASSERT_EQ(reader.Height(), 64);
    ASSERT_EQ(reader.BitCount(), 8);
    // The rows the 1500 bytes hold are there; the later ones keep the background.
    for (int y = 0; y < 40; ++y) {
        const auto* row = static_cast<const uint8_t*>(reader.ScanLine(y));
        for (int x = 0; x < 32; ++x) ASSERT_EQ(row[x], (7 * x + 13 * y) % 256) << x << "," << y;
    }
}

TEST(HostileInput, PictureBeyondTheMemoryLimitIsRefusedNamingItsSize) {
    SetPictureMemoryLimit(uint64_t(2) << 30);
    TTIFFGraphic reader;
    try {
        reader.ReadImageFile(Hostile("fax-60000.tif"));
        ADD_FAILURE() << "a picture of 10.8 GB was read";
    } catch (const EOutOfMemory& e) {
        EXPECT_EQ(e.Message(),
                  "The picture is 60000 × 60000 pixels, 10.8 GB at 24 bits; one picture may take at most 2.1 GB.");
    }
    EXPECT_TRUE(reader.Empty());
    SetPictureMemoryLimit(0);
}

// A tile is decoded only as far down as the picture reaches, and what a band of tiles needs
// beside the bitmap is held to the same limit as the bitmap.
TEST(HostileInput, TileFarLargerThanThePictureTakesOnlyThePicturesRows) {
    SetPictureMemoryLimit(uint64_t(64) << 20);
    TTIFFGraphic reader;
    reader.ReadImageFile(Hostile("tall-tile.tif"));
    ASSERT_EQ(reader.Width(), 16);
    ASSERT_EQ(reader.Height(), 16);
    const auto* top = static_cast<const uint8_t*>(reader.ScanLine(0));
    for (int x = 0; x < 16; ++x) EXPECT_EQ(top[3 * x + 2], 0xFF) << "red at " << x;

    SetPictureMemoryLimit(uint64_t(1) << 20);
    TTIFFGraphic refusing;
    try {
        refusing.ReadImageFile(Hostile("tall-tile.tif"));
        ADD_FAILURE() << "16 rows of a 65536-pixel tile were held beside a 1 MB limit";
    } catch (const EOutOfMemory& e) {
        EXPECT_EQ(
            e.Message(),
            "Reading the picture of 16 × 16 pixels at 24 bits takes 3.1 MB; one picture may take at most 1.0 MB.");
    }
    EXPECT_TRUE(refusing.Empty());
    SetPictureMemoryLimit(0);
}

// A picture of no rows holds nothing to read, however wide its header makes the rows.
TEST(HostileInput, PhotoshopFileWithoutRowsReadsAsAnEmptyPicture) {
    SetPictureMemoryLimit(uint64_t(1) << 20);
    for (const char* file : {"psd-no-rows.psd", "psd-no-rows-indexed.psd"}) {
        TPSDGraphic reader;
        EXPECT_NO_THROW(reader.ReadImageFile(Hostile(file))) << file;
        EXPECT_TRUE(reader.Empty()) << file;
    }
    SetPictureMemoryLimit(0);
}

// libheif makes a grid's canvas as large as the grid declares: a canvas no picture within the
// memory limit could be is refused before it is allocated, naming its size.
TEST(HostileInput, HeifGridCanvasBeyondTheMemoryLimitIsRefused) {
    for (const uint64_t limit : {uint64_t(0), uint64_t(64) << 10}) {
        SetPictureMemoryLimit(limit);
        const std::string message = ReadError<THEIFGraphic>("heif-grid-huge.heic");
        EXPECT_NE(message.find("Image size 24950x25459 exceeds the maximum image size"), std::string::npos) << message;
        EXPECT_EQ(message.back(), '.') << message;
    }
    SetPictureMemoryLimit(0);
}

}  // namespace
}  // namespace tilvorn
