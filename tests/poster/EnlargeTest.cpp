#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <memory>
#include <string>

#include "poster/Enlarge.h"
#include "poster/Output.h"
#include "image/DIB.h"

namespace tilvorn::test {
namespace {

// One column, one row: the whole poster of a picture width × height enlarged num/den times on
// a sheet with 6 pixel margins.
TSheetLayout WholePoster(int width, int height, int num, int den, TEnlargement how) {
    TSheetLayout l;
    l.PosterWidthPx = int(int64_t{width} * num / den);
    l.PosterHeightPx = int(int64_t{height} * num / den);
    l.MarginXPx = l.MarginYPx = 6;
    l.OverlapXPx = l.OverlapYPx = 4;
    l.PrintWidthPx = l.PosterWidthPx + 10;  // paper beyond the poster's right and bottom edges
    l.PrintHeightPx = l.PosterHeightPx + 10;
    l.SheetWidthPx = l.PrintWidthPx + 12;
    l.SheetHeightPx = l.PrintHeightPx + 12;
    l.ScaleXNum = l.ScaleYNum = num;
    l.ScaleXDen = l.ScaleYDen = den;
    l.Columns = 1;
    l.Enlargement = how;
    return l;
}

// A picture rising evenly from left to right in every channel.
std::unique_ptr<TDIB> Ramp(int width, int height) {
    auto picture = std::make_unique<TDIB>();
    picture->SetSize(width, height, 24);
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture->ScanLine(y);
        for (int x = 0; x < width; ++x) std::memset(row + x * 3, 20 + 11 * x, 3);
    }
    return picture;
}

int Red(TDIB& image, int x, int y) { return ColorRed(GetStorePixel(*image.Image(), x, y)); }

// Mean step between neighbouring poster pixels that show different picture pixels under a
// plain stretch, over the mean step between neighbours inside one picture pixel.
double BoundaryStepRatio(const TSheetLayout& l, TDIB& sheet) {
    const double d = double(l.ScaleXDen) / l.ScaleXNum;
    const int y = l.MarginYPx + l.PosterHeightPx / 2;
    double boundary = 0, inside = 0;
    int boundaries = 0, insides = 0;
    // Two picture pixels clear of each edge.
    for (int x = int(std::ceil(2 / d)); x + 1 < l.PosterWidthPx - int(std::ceil(2 / d)); ++x) {
        const double step = std::abs(Red(sheet, l.MarginXPx + x + 1, y) - Red(sheet, l.MarginXPx + x, y));
        if (std::floor((x + 0.5) * d) != std::floor((x + 1.5) * d))
            boundary += step, ++boundaries;
        else
            inside += step, ++insides;
    }
    EXPECT_GT(boundaries, 0);
    EXPECT_GT(insides, 0);
    return (boundary / boundaries) / (inside / insides);
}

TEST(SmoothEnlargement, NoStepsAtPictureBoundariesAtAnyScale) {
    struct Case {
        int num, den;
    } cases[] = {{394, 100}, {2, 1}, {5, 2}, {73, 10}, {3, 2}, {401, 100}};
    auto picture = Ramp(20, 6);
    for (const Case& c : cases) {
        TSheetLayout l = WholePoster(20, 6, c.num, c.den, TEnlargement::Smooth);
        TDIB sheet;
        ComposeSheet(l, *picture, 1, 24, sheet);
        const double ratio = BoundaryStepRatio(l, sheet);
        RecordProperty("ratio_" + std::to_string(c.num) + "_" + std::to_string(c.den), std::to_string(ratio));
        EXPECT_GE(ratio, 0.8) << c.num << "/" << c.den;
        EXPECT_LE(ratio, 1.25) << c.num << "/" << c.den;
    }
}

TEST(SmoothEnlargement, BlocksShowThePictureGrid) {
    // At 4 × a plain stretch steps only between picture pixels; a radius-2 box blur spreads
    // each step over five pixels, so pairs across a boundary step less than pairs inside.
    auto picture = Ramp(20, 6);
    TSheetLayout l = WholePoster(20, 6, 4, 1, TEnlargement::Blocks);
    TDIB sheet;
    ComposeSheet(l, *picture, 1, 24, sheet);
    const double ratio = BoundaryStepRatio(l, sheet);
    EXPECT_TRUE(ratio < 0.8 || ratio > 1.25) << ratio;
}

TEST(SmoothEnlargement, PaperAndGuideLinesAsInBlocksAndFlatAreasKeepTheirValue) {
    TDIB picture;
    picture.SetSize(20, 10, 24);
    for (int y = 0; y < 10; ++y)
        for (int x = 0; x < 20; ++x) {
            uint8_t* p = picture.ScanLine(y) + x * 3;
            p[0] = 30, p[1] = x < 10 ? 60 : 180, p[2] = 90;  // blue, green, red
        }
    TSheetLayout smooth = WholePoster(20, 10, 3, 1, TEnlargement::Smooth);
    TSheetLayout blocks = smooth;
    blocks.Enlargement = TEnlargement::Blocks;
    TDIB a, b;
    ComposeSheet(smooth, picture, 1, 24, a);
    ComposeSheet(blocks, picture, 1, 24, b);
    ASSERT_EQ(a.Width(), b.Width());
    ASSERT_EQ(a.Height(), b.Height());
    int differing = 0;
    for (int y = 0; y < a.Height(); ++y)
        for (int x = 0; x < a.Width(); ++x) {
            const bool window = x >= smooth.MarginXPx && x < smooth.MarginXPx + smooth.PrintWidthPx &&
                y >= smooth.MarginYPx && y < smooth.MarginYPx + smooth.PrintHeightPx;
            if (!window && GetStorePixel(*a.Image(), x, y) != GetStorePixel(*b.Image(), x, y)) {
                ++differing;
                if (differing < 5) ADD_FAILURE() << x << "," << y;
            }
        }
    EXPECT_EQ(differing, 0) << "margins and guide lines match the blocks";
    // Inside the page window beyond the poster's edge: white paper (the blocks' blur bleeds
    // one pixel there), the guide lines covered.
    for (int y = smooth.MarginYPx; y < smooth.MarginYPx + smooth.PrintHeightPx; ++y)
        for (int x = smooth.MarginXPx + smooth.PosterWidthPx; x < smooth.MarginXPx + smooth.PrintWidthPx; ++x)
            ASSERT_EQ(GetStorePixel(*a.Image(), x, y), clWhite) << x << "," << y;
    // Inside the left half, far from the step, the picture's colour exactly; up to the edges too.
    for (int x : {0, 5, 20}) {
        TColor c = GetStorePixel(*a.Image(), smooth.MarginXPx + x, smooth.MarginYPx + 15);
        EXPECT_EQ(c, RGBColor(90, 60, 30)) << x;
    }
    EXPECT_EQ(GetStorePixel(*a.Image(), smooth.MarginXPx + 59, smooth.MarginYPx + 29), RGBColor(90, 180, 30));
    // The step between the halves is spread over the neighbouring pixels.
    const int mid = ColorGreen(GetStorePixel(*a.Image(), smooth.MarginXPx + 30, smooth.MarginYPx + 15));
    EXPECT_GT(mid, 60);
    EXPECT_LT(mid, 180);
}

TEST(SmoothEnlargement, GreyAndFourByteSheets) {
    auto picture = Ramp(20, 6);
    for (int depth : {8, 32}) {
        TSheetLayout l = WholePoster(20, 6, 5, 2, TEnlargement::Smooth);
        TDIB sheet;
        ComposeSheet(l, *picture, 1, depth, sheet);
        EXPECT_EQ(sheet.BitCount(), depth);
        EXPECT_GE(BoundaryStepRatio(l, sheet), 0.8) << depth;
        EXPECT_LE(BoundaryStepRatio(l, sheet), 1.25) << depth;
        TColor c = GetStorePixel(*sheet.Image(), l.MarginXPx, l.MarginYPx + 3);
        EXPECT_EQ(ColorRed(c), 20) << depth;
        EXPECT_EQ(ColorRed(c), ColorBlue(c)) << depth;
    }
}

TEST(SmoothEnlargement, AtScaleOneEveryChannelIsThePicturesOwnAndPixelsBesideTheWindowKeepTheirs) {
    // Channels that differ from each other and from pixel to pixel, at widths around the
    // lengths of the vector loops, so a swapped channel or a store past the window shows.
    for (int width = 1; width <= 40; ++width) {
        TDIB picture;
        picture.SetSize(width, 3, 24);
        for (int y = 0; y < 3; ++y)
            for (int x = 0; x < width; ++x) {
                uint8_t* p = picture.ScanLine(y) + 3 * x;
                p[0] = uint8_t(7 * x + y), p[1] = uint8_t(100 + 3 * x), p[2] = uint8_t(200 - 5 * x - y);
            }
        TDIB sheet;
        sheet.SetSize(width + 8, 5, 24);
        for (int y = 0; y < 5; ++y) std::memset(sheet.ScanLine(y), 0x55, size_t(3 * (width + 8)));
        TEnlargeWindow window;
        window.SheetX = window.SheetY = 1;
        window.Width = width;
        window.Height = 3;
        ASSERT_TRUE(EnlargeSmoothly(picture, window, sheet));
        for (int y = 0; y < 5; ++y)
            for (int x = 0; x < width + 8; ++x) {
                const bool inside = x >= 1 && x <= width && y >= 1 && y <= 3;
                ASSERT_EQ(GetStorePixel(*sheet.Image(), x, y),
                          inside ? GetStorePixel(*picture.Image(), x - 1, y - 1) : TColor(0x555555))
                    << width << ": " << x << ", " << y;
            }
    }
}

TEST(SmoothEnlargement, LaterPagesContinueThePoster) {
    // Two columns: the second sheet starts where the first one's overlap begins, so both show
    // the same poster pixels in the overlap band.
    auto picture = Ramp(20, 6);
    TSheetLayout l = WholePoster(20, 6, 394, 100, TEnlargement::Smooth);
    l.PrintWidthPx = 64;
    l.SheetWidthPx = 76;
    l.Columns = 2;
    TDIB first, second;
    ComposeSheet(l, *picture, 1, 24, first);
    ComposeSheet(l, *picture, 2, 24, second);
    const int y = l.MarginYPx + 10;
    for (int i = 0; i < l.OverlapXPx; ++i)
        EXPECT_EQ(Red(first, l.MarginXPx + l.PrintWidthPx - l.OverlapXPx + i, y), Red(second, l.MarginXPx + i, y)) << i;
}

}  // namespace
}  // namespace tilvorn::test
