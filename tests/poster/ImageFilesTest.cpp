#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "poster/ImageFiles.h"
#include "core/Exceptions.h"
#include "readers/ImageReaders.h"
#include "support/TestSupport.h"

using namespace tilvorn;

namespace {

/// A reader of a tiny format of its own so these tests do not depend on any real reader:
/// "RDR1", width, height, bit count (one byte each), transparent flag and colour (R, G, B),
/// then the rows as the bitmap stores them (top first, padded to 32 bits).
class TFixtureGraphic : public TReaderGraphic {
public:
    static inline int living = 0;
    TFixtureGraphic() { ++living; }
    ~TFixtureGraphic() override { --living; }

    static const TGraphicClass& Class() {
        static const TGraphicClass value = MakeReaderClass<TFixtureGraphic>("TFixtureGraphic", TReaderGraphic::Class());
        return value;
    }
    const TGraphicClass& ClassType() const override { return Class(); }
    static bool ProbeStream(TStream& stream) {
        char magic[4] = {};
        return stream.Read(magic, 4) == 4 && std::memcmp(magic, "RDR1", 4) == 0;
    }
    bool ReadImageInfo(TStream& stream, uint32_t index) override {
        TReaderGraphic::ReadImageInfo(stream, index);
        uint8_t h[11];
        if (stream.Read(h, 11) != 11 || std::memcmp(h, "RDR1", 4) != 0) return false;
        Properties.ImageWidth = h[4];
        Properties.ImageHeight = h[5];
        Properties.PixelBits = h[6];
        Properties.Model = h[6] == 32 ? ColorModel::RGBA : h[6] == 24 ? ColorModel::RGB : ColorModel::Indexed;
        transparent_ = h[7] != 0;
        transparentColor_ = RGBColor(h[8], h[9], h[10]);
        return true;
    }
    void ReadImage(TStream& stream) override {
        ReleasePixels();
        StartPosition = uint32_t(stream.Position());
        if (!ReadImageInfo(stream, 0)) RaiseImageErrorFmt(readertext::InvalidImage, "RDR");
        const int bits = Properties.PixelBits;
        SetPixelFormat(bits == 32       ? BitmapPixelFormat::Bits32
                           : bits == 24 ? BitmapPixelFormat::Bits24
                           : bits == 16 ? BitmapPixelFormat::Bits15
                           : bits == 8  ? BitmapPixelFormat::Bits8
                                        : BitmapPixelFormat::Bits1);
        if (bits <= 8) SetPaletteEntries({{0, 0, 0}, {255, 255, 255}, {200, 10, 20}});
        SetImageSize(Properties.ImageWidth, Properties.ImageHeight);
        Transparent = transparent_;
        TransparentColor = transparentColor_;
        for (uint32_t y = 0; y < Properties.ImageHeight; ++y) stream.ReadBuffer(ScanLine(int(y)), RowBytes());
    }

private:
    bool transparent_ = false;
    TColor transparentColor_ = 0;
};

std::vector<uint8_t> FixtureFile(uint8_t width, uint8_t height, uint8_t bits, std::vector<uint8_t> rows,
                                 bool transparent = false, std::vector<uint8_t> colour = {0, 0, 0}) {
    std::vector<uint8_t> bytes = {'R', 'D', 'R', '1', width, height, bits, uint8_t(transparent)};
    bytes.insert(bytes.end(), colour.begin(), colour.end());
    bytes.insert(bytes.end(), rows.begin(), rows.end());
    return bytes;
}

std::vector<uint8_t> PictureRow(TDIB& picture, int y) {
    const uint8_t* row = picture.ScanLine(y);
    return std::vector<uint8_t>(row, row + picture.Width() * 3);
}

class ImageFiles : public ::testing::Test {
protected:
    void SetUp() override {
        if (GlobalFormatRegistry().IndexOfClass(TFixtureGraphic::Class()) == -1)
            GlobalFormatRegistry().AddFormat("rdr", "Fixture pictures", "", {FormatKind::Raster}, false,
                                             TFixtureGraphic::Class());
        dir_ = test::TempDir("image_files");
    }
    std::string Write(const std::string& name, const std::vector<uint8_t>& bytes) {
        test::WriteFileBytes(dir_ + "/" + name, bytes);
        return dir_ + "/" + name;
    }
    std::string dir_;
};

}  // namespace

TEST_F(ImageFiles, ContentDecidesNotTheName) {
    // A file named .jpg that a registered reader recognises is read by that reader.
    const std::string file = Write("photo.jpg", FixtureFile(2, 1, 24, {1, 2, 3, 4, 5, 6, 0, 0}));
    TDIB picture;
    TReaderOutcome outcome = ReadPictureThroughReaders(file, picture);
    ASSERT_EQ(outcome.ReaderClass, &TFixtureGraphic::Class());
    EXPECT_EQ(outcome.Properties.ImageWidth, 2u);
    EXPECT_EQ(outcome.ReaderBitCount, 24);
    EXPECT_EQ(picture.BitCount(), 24);
    EXPECT_EQ(PictureRow(picture, 0), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(TFixtureGraphic::living, 0);
}

TEST_F(ImageFiles, UnrecognisedContentLeavesThePictureForTheExtensionTests) {
    const std::string file = Write("picture.gif", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0});
    TDIB picture;
    picture.SetSize(3, 3, 24);
    TReaderOutcome outcome = ReadPictureThroughReaders(file, picture);
    EXPECT_EQ(outcome.ReaderClass, nullptr);
    EXPECT_EQ(picture.Width(), 3);
    EXPECT_EQ(TFixtureGraphic::living, 0);
}

TEST_F(ImageFiles, AReadingErrorKeepsTheOldPictureAndReleasesTheReader) {
    const std::string file = Write("broken.rdr", FixtureFile(4, 4, 24, {1, 2, 3}));  // rows cut short
    TDIB picture;
    picture.SetSize(5, 1, 24);
    EXPECT_THROW(ReadPictureThroughReaders(file, picture), EReadError);
    EXPECT_EQ(picture.Width(), 5);
    EXPECT_EQ(TFixtureGraphic::living, 0);
    EXPECT_THROW(ReadPictureThroughReaders(dir_ + "/missing.rdr", picture), EFOpenError);
}

TEST_F(ImageFiles, PicturesAreLaidOnWhitePaper) {
    struct Case {
        const char* name;
        uint8_t bits;
        std::vector<uint8_t> row;  // one row of two pixels as stored, padded
        bool transparent;
        std::vector<uint8_t> colour;
        std::vector<uint8_t> expected;  // blue, green, red of both pixels
    };
    const std::vector<Case> cases = {
        {"opaque alpha", 32, {10, 20, 30, 255, 40, 50, 60, 255}, false, {0, 0, 0}, {10, 20, 30, 40, 50, 60}},
        {"clear and half", 32, {10, 20, 30, 0, 0, 0, 0, 128}, false, {0, 0, 0}, {255, 255, 255, 127, 127, 127}},
        {"alpha plane unused", 32, {10, 20, 30, 0, 40, 50, 60, 0}, false, {0, 0, 0}, {10, 20, 30, 40, 50, 60}},
        {"transparent colour", 24, {30, 20, 10, 1, 2, 3, 0, 0}, true, {10, 20, 30}, {255, 255, 255, 1, 2, 3}},
        {"transparent index colour", 8, {2, 0, 0, 0}, true, {200, 10, 20}, {255, 255, 255, 0, 0, 0}},
        {"indexed", 8, {2, 1, 0, 0}, false, {0, 0, 0}, {20, 10, 200, 255, 255, 255}},
        {"one bit", 1, {0x40, 0, 0, 0}, false, {0, 0, 0}, {0, 0, 0, 255, 255, 255}},
        {"5-5-5", 16, {0x00, 0x7C, 0x1F, 0x00}, false, {0, 0, 0}, {0, 0, 255, 255, 0, 0}},
    };
    for (const Case& c : cases) {
        const std::string file =
            Write(std::string(c.name) + ".rdr", FixtureFile(2, 1, c.bits, c.row, c.transparent, c.colour));
        TDIB picture;
        ASSERT_EQ(ReadPictureThroughReaders(file, picture).ReaderClass, &TFixtureGraphic::Class()) << c.name;
        ASSERT_EQ(picture.BitCount(), 24) << c.name;
        EXPECT_EQ(PictureRow(picture, 0), c.expected) << c.name;
    }
}

TEST_F(ImageFiles, BitmapsWithoutAlphaModelKeepTheirFourthByte) {
    TFixtureGraphic reader;
    reader.SetPixelFormat(BitmapPixelFormat::Bits32);
    reader.SetImageSize(1, 1);
    uint8_t* p = reader.ScanLine(0);
    p[0] = 9, p[1] = 8, p[2] = 7, p[3] = 1;  // a CMYK picture's untouched fourth byte
    reader.Properties.Model = ColorModel::CMYK;
    TDIB picture;
    LayReaderOnWhite(reader, picture);
    EXPECT_EQ(PictureRow(picture, 0), (std::vector<uint8_t>{9, 8, 7}));
}

TEST_F(ImageFiles, TwentyFourBitBitmapsAreHandedOverNotCopied) {
    TFixtureGraphic reader;
    reader.SetPixelFormat(BitmapPixelFormat::Bits24);
    reader.SetImageSize(2, 1);
    uint8_t* p = reader.ScanLine(0);
    for (int i = 0; i < 6; ++i) p[i] = uint8_t(i + 1);
    TDIB picture;
    LayReaderOnWhite(reader, picture);
    EXPECT_EQ(picture.Image(), reader.Image());  // the same pixels, not a second picture
    EXPECT_EQ(PictureRow(picture, 0), (std::vector<uint8_t>{1, 2, 3, 4, 5, 6}));
    picture.ScanLine(0)[0] = 99;  // a write makes the picture its own
    EXPECT_EQ(reader.ScanLine(0)[0], 1);

    // A transparent colour is laid on white in a picture of its own.
    reader.Transparent = true;
    reader.TransparentColor = RGBColor(3, 2, 1);
    TDIB laid;
    LayReaderOnWhite(reader, laid);
    EXPECT_NE(laid.Image(), reader.Image());
    EXPECT_EQ(PictureRow(laid, 0), (std::vector<uint8_t>{255, 255, 255, 4, 5, 6}));

    // Read from a file, the picture is the only owner of its pixels once the reader is gone.
    const std::string file = Write("plain.rdr", FixtureFile(2, 1, 24, {30, 20, 10, 1, 2, 3, 0, 0}, false, {0, 0, 0}));
    TDIB read;
    ASSERT_EQ(ReadPictureThroughReaders(file, read).ReaderClass, &TFixtureGraphic::Class());
    EXPECT_EQ(read.Image()->RefCount, 1);
    EXPECT_EQ(PictureRow(read, 0), (std::vector<uint8_t>{30, 20, 10, 1, 2, 3}));
}

TEST(ImageFileBranch, ExtensionsDecideWhatNoReaderTook) {
    struct Case {
        const char* name;
        TExtensionBranch branch;
    };
    const Case cases[] = {
        {"a.jpg", TExtensionBranch::JPEG},
        {"B.JPEG", TExtensionBranch::JPEG},
        {"c.JpG", TExtensionBranch::JPEG},
        {"d.bmp", TExtensionBranch::Bitmap},
        {"/x.y/E.BMP", TExtensionBranch::Bitmap},
        {"f.gif", TExtensionBranch::Document},
        {"g.jpe", TExtensionBranch::Document},
        {"h.dib", TExtensionBranch::Document},
        {"/dir.bmp/noext", TExtensionBranch::Document},
        {"report.pdf", TExtensionBranch::Document},
    };
    for (const Case& c : cases) EXPECT_EQ(ExtensionBranch(c.name), c.branch) << c.name;
}
