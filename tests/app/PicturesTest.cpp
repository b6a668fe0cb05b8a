// Picture sources and the preview, without a window.
#include <gtest/gtest.h>

#include <QGuiApplication>
#include <QImage>
#include <cstdlib>
#include <cstring>

#include "readers/JpegFile.h"
#include "poster/Preview.h"
#include "app/Clipboard.h"
#include "app/MainForm.h"
#include "platform/Dialogs.h"
#include "readers/ReaderWarnings.h"
#include "poster/Sources.h"
#include "core/Exceptions.h"
#include "image/DIB.h"
#include "support/TestSupport.h"

namespace tilvorn::test {
namespace {

TColor Pixel(TDIB& image, int x, int y) { return GetStorePixel(*image.Image(), x, y); }

// The mean absolute difference per channel between our decode and ImageMagick's.
double DifferenceToImageMagick(const std::string& file, TDIB& ours) {
    std::string ppm = TempDir("jpegref") + "/ref.ppm";
    EXPECT_EQ(Run("/usr/bin/convert '" + file + "' -colorspace sRGB -depth 8 ppm:" + ppm), 0);
    std::vector<unsigned char> bytes = ReadFileBytes(ppm);
    // P6\nW H\n255\n
    size_t at = 0;
    for (int fields = 0; fields < 4 && at < bytes.size(); ++at)
        if (bytes[at] == '\n' || bytes[at] == ' ') ++fields;
    double sum = 0;
    for (int y = 0; y < ours.Height(); ++y)
        for (int x = 0; x < ours.Width(); ++x) {
            const unsigned char* p = &bytes[at + (size_t(y) * ours.Width() + x) * 3];
            TColor c = Pixel(ours, x, y);
            sum += std::abs(p[0] - ColorRed(c)) + std::abs(p[1] - ColorGreen(c)) + std::abs(p[2] - ColorBlue(c));
        }
    return sum / (3.0 * ours.Width() * ours.Height());
}

TEST(JpegSource, ColourGreyAndCmykFilesBecomeTrueColourPictures) {
    if (!HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick missing";
    for (const char* name : {"rgb.jpg", "grey.jpg", "cmyk.jpg"}) {
        std::string file = DataPath(std::string("app/") + name);
        auto picture = ReadJpegFile(file);
        EXPECT_EQ(picture->BitCount(), 24) << name;
        EXPECT_EQ(picture->Width(), 64) << name;
        EXPECT_EQ(picture->Height(), 48) << name;
        EXPECT_LT(DifferenceToImageMagick(file, *picture), 2.0) << name;
    }
    // The CMYK file starts yellow: not inverted into blue.
    auto cmyk = ReadJpegFile(DataPath("app/cmyk.jpg"));
    TColor corner = Pixel(*cmyk, 0, 0);
    EXPECT_GT(ColorRed(corner), 200);
    EXPECT_LT(ColorBlue(corner), 50);
}

TEST(JpegSource, DamagedAndMissingFilesRaiseWithTheReason) {
    std::vector<unsigned char> bytes = ReadFileBytes(DataPath("app/rgb.jpg"));
    bytes.resize(20);
    EXPECT_THROW(ReadJpegMemory(bytes.data(), bytes.size()), EInvalidGraphic);
    std::vector<unsigned char> text = {'n', 'o', 't', ' ', 'a', ' ', 'j', 'p', 'e', 'g'};
    try {
        ReadJpegMemory(text.data(), text.size());
        FAIL();
    } catch (const EInvalidGraphic& e) {
        EXPECT_NE(std::string(e.what()).find("JPEG"), std::string::npos);
    }
    EXPECT_THROW(ReadJpegFile("/nonexistent/x.jpg"), EFOpenError);
}

TEST(FileBranch, GoesByContentThenExtension) {
    auto jpeg = ReadPictureFile(DataPath("app/rgb.jpg"));
    ASSERT_TRUE(jpeg);
    EXPECT_EQ(jpeg->BitCount(), 24);
    auto bitmap = ReadPictureFile(DataPath("app/palette8.bmp"));
    ASSERT_TRUE(bitmap);
    EXPECT_EQ(bitmap->BitCount(), 8);  // a bitmap keeps its depth
    EXPECT_EQ(bitmap->Width(), 40);
    std::string doc = TempDir("branch") + "/letter.doc";
    WriteFileBytes(doc, {'x'});
    EXPECT_FALSE(ReadPictureFile(doc));  // documents are the caller's
    std::string badBmp = TempDir("branch") + "/bad.bmp";
    WriteFileBytes(badBmp, {'B', 'M', 0, 0});
    EXPECT_THROW(ReadPictureFile(badBmp), Exception);
}

TEST(ClipboardSource, KeepsTheImageDepth) {
    static int argc = 1;
    static char name[] = "t";
    static char* argv[] = {name, nullptr};
    if (!QGuiApplication::instance()) new QGuiApplication(argc, argv);
    QImage rgb(30, 20, QImage::Format_RGB32);
    rgb.fill(qRgb(10, 200, 30));
    auto picture = PictureFromImage(rgb);
    ASSERT_TRUE(picture);
    EXPECT_EQ(picture->BitCount(), 24);
    EXPECT_EQ(Pixel(*picture, 5, 5), RGBColor(10, 200, 30));
    QImage indexed(30, 20, QImage::Format_Indexed8);
    indexed.setColorTable({qRgb(0, 0, 0), qRgb(255, 0, 0)});
    indexed.fill(1);
    picture = PictureFromImage(indexed);
    EXPECT_EQ(picture->BitCount(), 8);
    EXPECT_EQ(Pixel(*picture, 3, 3), RGBColor(255, 0, 0));
    EXPECT_FALSE(PictureFromImage(QImage()));
}

std::unique_ptr<TDIB> Stripes(int width, int height) {
    auto p = std::make_unique<TDIB>();
    p->SetSize(width, height, 24);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) std::memset(p->ScanLine(y) + x * 3, (x / 3) % 2 ? 250 : 10, 3);
    return p;
}

bool SamePixels(TDIB& a, TDIB& b) {
    if (a.Width() != b.Width() || a.Height() != b.Height()) return false;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x)
            if (Pixel(a, x, y) != Pixel(b, x, y)) return false;
    return true;
}

TEST(Preview, BlurRadiusFollowsReductionOrEnlargement) {
    struct Case {
        int pictureWidth, previewWidth;
        bool reduced;
        int radius;
    } cases[] = {{90, 90, false, 1}, {180, 90, true, 1}, {270, 90, true, 2}, {45, 90, false, 2}};
    for (const Case& c : cases) {
        auto picture = Stripes(c.pictureWidth, 30);
        TPreviewBuilder builder;
        TDIB preview;
        builder.Build(*picture, c.previewWidth, 30, preview);
        TDIB expected;
        if (c.reduced) {
            TDIB blurred;
            blurred.Assign(*picture);
            blurred.Blur(24, c.radius);
            expected.SetSize(c.previewWidth, 30, 24);
            expected.Canvas().StretchDraw({0, 0, c.previewWidth, 30}, blurred);
        } else {
            expected.SetSize(c.previewWidth, 30, 24);
            expected.Canvas().StretchDraw({0, 0, c.previewWidth, 30}, *picture);
            expected.Blur(24, c.radius);
        }
        EXPECT_TRUE(SamePixels(preview, expected)) << c.pictureWidth;
        EXPECT_EQ(Pixel(*picture, 0, 0), RGBColor(10, 10, 10));  // the picture itself is untouched
    }
}

TEST(Preview, UnchangedPictureAndSizeReuseTheKeptImage) {
    auto picture = Stripes(600, 400);
    TPreviewBuilder builder;
    TDIB first, second;
    builder.Build(*picture, 150, 100, first);
    DrawPreviewGrid(first, 3, 2, 100, 5, 100, 5, 300, 200);  // the grid goes on the copy only
    builder.Build(*picture, 150, 100, second);
    EXPECT_EQ(builder.Renders(), 1);
    EXPECT_FALSE(SamePixels(first, second));
    builder.Build(*picture, 120, 80, second);
    EXPECT_EQ(builder.Renders(), 2);
    auto other = Stripes(600, 400);
    builder.Build(*other, 120, 80, second);
    EXPECT_EQ(builder.Renders(), 3);
}

TEST(Preview, GridLinesAtEachSheetStep) {
    TDIB preview;
    preview.SetSize(120, 60, 24);
    preview.Canvas().FillRect({0, 0, 120, 60});
    // Steps: (100 − 5) × 120 / 300 = 38 across, (100 − 5) × 60 / 200 = 28.5 down.
    DrawPreviewGrid(preview, 3, 3, 100, 5, 100, 5, 300, 200);
    for (int x : {38, 76}) EXPECT_EQ(Pixel(preview, x, 0), clBlack) << x;
    for (int y : {28, 57}) EXPECT_EQ(Pixel(preview, 0, y), clBlack) << y;
    EXPECT_EQ(Pixel(preview, 37, 1), clWhite);
    TDIB single;
    single.SetSize(50, 50, 24);
    single.Canvas().FillRect({0, 0, 50, 50});
    DrawPreviewGrid(single, 1, 1, 100, 5, 100, 5, 300, 200);
    for (int y = 0; y < 50; ++y)
        for (int x = 0; x < 50; ++x) ASSERT_EQ(Pixel(single, x, y), clWhite);
}

TEST(Preview, PointerNamesColumnRowAndPage) {
    // Control 200 × 100, preview 120 × 60 centred at (40, 20); steps 38 and 28.5.
    struct Case {
        int x, y;
        int64_t column, row, page;
    } cases[] = {
        {40, 20, 1, 1, 1}, {40 + 39, 20, 2, 1, 2}, {40 + 77, 20 + 29, 3, 2, 6},
        {0, 0, 1, 1, 1},   {199, 99, 4, 3, 10},  // beside the image: the nearest edge
    };
    for (const Case& c : cases) {
        auto cell = PointerCell(c.x, c.y, 200, 100, 120, 60, 100, 5, 100, 5, 300, 200, "3");
        ASSERT_TRUE(cell);
        EXPECT_EQ(cell->Column, c.column) << c.x;
        EXPECT_EQ(cell->Row, c.row) << c.y;
        EXPECT_EQ(cell->Page, c.page) << c.x;
    }
    EXPECT_FALSE(PointerCell(50, 50, 200, 100, 120, 60, 5, 5, 100, 5, 300, 200, "3"));
    EXPECT_THROW(PointerCell(50, 50, 200, 100, 120, 60, 100, 5, 100, 5, 300, 200, "three"), Exception);
}

TEST(ReaderWarnings, ReachTheUserAsWarningBoxesInTheWindow) {
    platform::TScriptedDialogs dialogs;
    platform::ScopedDialogs scoped(dialogs);
    TReaderWarningHook before = SetReaderWarningHook({});
    ShowReaderWarningsInMessageBoxes();
    ReaderWarning("JPEG decompression error. Unexpected end of input.", "Warning");
    SetReaderWarningHook(std::move(before));
    ASSERT_EQ(dialogs.messages.size(), 1u);
    EXPECT_EQ(dialogs.messages[0].text, "JPEG decompression error. Unexpected end of input.");
    EXPECT_EQ(dialogs.messages[0].caption, "Warning");
    EXPECT_EQ(dialogs.messages[0].icon, platform::MessageIcon::Warning);
    EXPECT_EQ(dialogs.messages[0].buttons, platform::MessageButtons::Ok);
}

}  // namespace
}  // namespace tilvorn::test
