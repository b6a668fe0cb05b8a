#include <gtest/gtest.h>

#include "poster/Geometry.h"
#include "core/Exceptions.h"

namespace tilvorn {
namespace {

TMarginsAndOverlaps Lengths(int margin, int overlap) { return {margin, margin, overlap, overlap}; }

TEST(SheetSetup, PaperPresetsAtTheirResolutions) {
    struct Case {
        int widthMm, heightMm, dpi;
        int widthPx, heightPx;
        double pxPerMm;
    };
    const Case cases[] = {
        {210, 297, 300, 2480, 3508, 11.811},  // 2480.31 x 3507.867
        {297, 210, 150, 1754, 1240, 5.9055},  // 1753.9335 x 1240.155
        {210, 297, 96, 794, 1123, 3.77952},  // 793.70 x 1122.52
        {210, 297, 600, 4961, 7016, 23.622},  // 4960.62 x 7015.73
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.dpi);
        double pxPerMm = PxPerMmFromDpi(c.dpi);
        EXPECT_DOUBLE_EQ(pxPerMm, c.pxPerMm);
        TSheetGeometry sheet = SheetFromPaper(c.widthMm, c.heightMm, pxPerMm);
        EXPECT_EQ(sheet.SheetWidthPx, c.widthPx);
        EXPECT_EQ(sheet.SheetHeightPx, c.heightPx);
        EXPECT_EQ(sheet.OffsetLeftPx + sheet.OffsetRightPx + sheet.OffsetTopPx + sheet.OffsetBottomPx, 0);
        EXPECT_EQ(DefaultMarginMm(0, 0, pxPerMm), 1);
    }
}

TEST(SheetSetup, PrinterStripsGiveMarginsThatClearThem) {
    struct Case {
        int nearPx, farPx, dpi, margin;
    };
    const Case cases[] = {
        {100, 150, 600, 7},  // 5 mm clears the left strip, 150 > 118.11 so the right one decides
        {100, 0, 600, 5},   {0, 118, 600, 5},  // only the far strip: Trunc(4.995) + 1
        {0, 0, 600, 1},     {59, 59, 300, 5},  // 59 / 11.811 = 4.995 -> 5, and 59 is not beyond 5 x 11.811
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.nearPx);
        EXPECT_EQ(DefaultMarginMm(c.nearPx, c.farPx, PxPerMmFromDpi(c.dpi)), c.margin);
    }
}

TEST(SheetSetup, RightStripExactlyAsWideAsTheMarginDoesNotRaiseIt) {
    double pxPerMm = 10.0;  // a resolution whose products are exact
    EXPECT_EQ(DefaultMarginMm(0, 10, pxPerMm), 1);
    EXPECT_EQ(DefaultMarginMm(0, 11, pxPerMm), 2);
}

TEST(SheetSetup, DeviceCapabilitiesBecomeSheetAndStrips) {
    TPrinterCaps caps;
    caps.PhysicalWidth = 4960;
    caps.PhysicalHeight = 7016;
    caps.PhysicalOffsetX = 100;
    caps.PhysicalOffsetY = 120;
    caps.HorzRes = 4960 - 100 - 150;
    caps.VertRes = 7016 - 120 - 200;
    caps.LogPixelsX = 600;
    caps.LogPixelsY = 300;
    TSheetGeometry sheet = SheetFromPrinter(caps);
    EXPECT_EQ(sheet.SheetWidthPx, 4960);
    EXPECT_EQ(sheet.SheetHeightPx, 7016);
    EXPECT_EQ(sheet.OffsetLeftPx, 100);
    EXPECT_EQ(sheet.OffsetRightPx, 150);
    EXPECT_EQ(sheet.OffsetTopPx, 120);
    EXPECT_EQ(sheet.OffsetBottomPx, 200);
    EXPECT_DOUBLE_EQ(sheet.PxPerMmX, 23.622);
    EXPECT_DOUBLE_EQ(sheet.PxPerMmY, 11.811);
}

// A4 portrait at 300 DPI, margins 1, overlaps 5, picture 3000 x 2000, poster 1000 mm wide.
class WorkedExample : public ::testing::Test {
protected:
    TSheetGeometry sheet = SheetFromPaper(210, 297, PxPerMmFromDpi(300));
    TMarginsAndOverlaps lengths = Lengths(1, 5);
    int pictureWidth = 3000, pictureHeight = 2000;
};

TEST_F(WorkedExample, SheetConversion) {
    TSheetConversion c = ConvertSheet(sheet, lengths);
    EXPECT_NEAR(c.SheetWidthMm, 209.974, 0.001);
    EXPECT_NEAR(c.SheetHeightMm, 297.011, 0.001);
    EXPECT_EQ(c.MarginXPx, 11);
    EXPECT_EQ(c.MarginYPx, 11);
    EXPECT_NEAR(c.UsableWidthMm, 207.974, 0.001);
    EXPECT_NEAR(c.UsableHeightMm, 295.011, 0.001);
    EXPECT_EQ(c.PrintWidthPx, 2458);
    EXPECT_EQ(c.PrintHeightPx, 3486);
    EXPECT_EQ(c.OverlapXPx, 59);
    EXPECT_EQ(c.OverlapYPx, 59);
}

TEST_F(WorkedExample, CountsPosterPixelsAndRatios) {
    int newHeight = FollowProportion(1000, pictureWidth, pictureHeight);
    EXPECT_EQ(newHeight, 666);
    TLayout layout = ComputeLayout(sheet, lengths, {1000, newHeight}, pictureWidth, pictureHeight);
    EXPECT_EQ(layout.Counts.Columns, 5);
    EXPECT_EQ(layout.Counts.Rows, 3);
    EXPECT_EQ(layout.Pages, 15);
    EXPECT_EQ(layout.Poster.PosterWidthPx, 11811);
    EXPECT_EQ(layout.Poster.PosterHeightPx, 7866);
    EXPECT_EQ(layout.Scale.ScaleXNum, 3937);
    EXPECT_EQ(layout.Scale.ScaleXDen, 1000);
    EXPECT_EQ(layout.Scale.ScaleYNum, 3933);
    EXPECT_EQ(layout.Scale.ScaleYDen, 1000);
}

TEST_F(WorkedExample, SplitModes) {
    TSheetConversion c = ConvertSheet(sheet, lengths);
    struct Case {
        TSplitMode mode;
        int width, height, columns, rows;
    };
    const Case cases[] = {
        {TSplitMode::AsIs, 1000, 666, 5, 3},
        {TSplitMode::PageWidth, 1008, 672, 5, 3},  // q = 5
        {TSplitMode::PageHeight, 861, 574, 5, 2},  // q = 2, g = 575.02, 574 x 1000 / 666
    };
    for (const Case& k : cases) {
        SCOPED_TRACE(int(k.mode));
        TPosterSize size = ApplySplitMode(k.mode, {1000, 666}, true, pictureWidth, pictureHeight, c, lengths);
        EXPECT_EQ(size.NewWidth, k.width);
        EXPECT_EQ(size.NewHeight, k.height);
        TSheetCounts counts = CountSheets(size.NewWidth, size.NewHeight, c, lengths);
        EXPECT_EQ(counts.Columns, k.columns);
        EXPECT_EQ(counts.Rows, k.rows);
    }
}

TEST_F(WorkedExample, PageHeightWithoutProportionNeverGoesBelowOneStep) {
    TSheetConversion c = ConvertSheet(sheet, lengths);
    // 100 mm is less than half a step of 290.011 mm: q = 0, so the height becomes one step.
    TPosterSize size =
        ApplySplitMode(TSplitMode::PageHeight, {1000, 100}, false, pictureWidth, pictureHeight, c, lengths);
    EXPECT_EQ(size.NewWidth, 1000);
    EXPECT_EQ(size.NewHeight, 289);  // Trunc(290.011 - 1)
}

TEST(Geometry, RoundingRules) {
    // Margins truncate, overlaps round with halves to even: 0.5 px goes to 0, 1.5 to 2.
    TSheetGeometry sheet;
    sheet.SheetWidthPx = sheet.SheetHeightPx = 1000;
    sheet.PxPerMmX = 0.5;
    sheet.PxPerMmY = 1.5;
    TSheetConversion c = ConvertSheet(sheet, {3, 3, 1, 1});
    EXPECT_EQ(c.MarginXPx, 1);  // Trunc(1.5)
    EXPECT_EQ(c.MarginYPx, 4);  // Trunc(4.5)
    EXPECT_EQ(c.OverlapXPx, 0);
    EXPECT_EQ(c.OverlapYPx, 2);
}

TEST(Geometry, ReduceRatio) {
    struct Case {
        int a, b, ra, rb;
    };
    const Case cases[] = {
        {11811, 3000, 3937, 1000},      {7866, 2000, 3933, 1000},       {7, 7, 1, 1},
        {1, 1000000000, 1, 1000000000}, {2147483646, 2, 1073741823, 1}, {12, 18, 2, 3},
    };
    for (const Case& c : cases) {
        int a = c.a, b = c.b;
        ReduceRatio(a, b);
        EXPECT_EQ(a, c.ra) << c.a << ":" << c.b;
        EXPECT_EQ(b, c.rb) << c.a << ":" << c.b;
    }
    int zero = 0, one = 1;
    EXPECT_THROW(ReduceRatio(zero, one), Exception);
}

TEST(Geometry, SizesWithoutPosterPixelsAreRefused) {
    const int sizes[][2] = {{0, 100}, {100, 0}, {-5, 100}, {100, -1}};
    for (const auto& s : sizes) {
        try {
            PosterPixels(s[0], s[1], 11.811, 11.811);
            ADD_FAILURE() << s[0] << " x " << s[1] << " was accepted";
        } catch (const Exception& e) {
            EXPECT_NE(std::string(e.what()).find("at least 1 mm"), std::string::npos) << e.what();
        }
    }
    EXPECT_THROW(PosterScale({100, 100}, 0, 10), Exception);
    EXPECT_EQ(PosterPixels(1, 1, 11.811, 11.811).PosterWidthPx, 11);
}

TEST(Geometry, DivisionByZeroAndOverflowAreErrors) {
    TSheetConversion c;
    c.UsableWidthMm = 5;  // equal to the overlap: no step at all
    c.UsableHeightMm = 100;
    EXPECT_THROW(CountSheets(100, 100, c, {1, 1, 5, 5}), EZeroDivide);
    EXPECT_THROW(SnapToPageWidth(100, 5, 5.0), EZeroDivide);
    EXPECT_THROW(SnapToPageWidth(-5, 5, 5.0), EInvalidOp);  // 0 / 0
    EXPECT_THROW(WidthForHeight(100, 100, 0), EDivByZero);
    EXPECT_THROW(PosterPixels(2000000000, 10, 11.811, 11.811), EIntOverflow);
    // A product beyond 32 bits that divides back into range is computed exactly.
    EXPECT_EQ(FollowProportion(100000, 30000, 20000), 66666);
    EXPECT_EQ(WidthForHeight(2000000, 2000000, 1000000), 4000000);
}

TEST(Geometry, MarginsLargerThanHalfTheSheetGiveNonPositiveCounts) {
    TSheetGeometry sheet = SheetFromPaper(210, 297, PxPerMmFromDpi(300));
    TMarginsAndOverlaps lengths{110, 1, 5, 5};
    TSheetConversion c = ConvertSheet(sheet, lengths);
    EXPECT_LT(c.UsableWidthMm, 0);
    EXPECT_LE(CountSheets(1000, 100, c, lengths).Columns, 0);
}

}  // namespace
}  // namespace tilvorn
