#include "poster/Geometry.h"

#include <cmath>
#include <cstdio>
#include <limits>
#include <string>

#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/Rounding.h"

namespace tilvorn {

double FloatDivide(double dividend, double divisor) {
    if (divisor == 0.0) {
        if (dividend == 0.0 || std::isnan(dividend)) throw EInvalidOp(kInvalidOpError);
        throw EZeroDivide(kZeroDivideError);
    }
    double quotient = dividend / divisor;
    if (std::isnan(quotient)) throw EInvalidOp(kInvalidOpError);
    return quotient;
}

namespace {
// The largest magnitude a double can hold while still converting to int64 safely.
constexpr double kInt64Limit = 9223372036854775807.0;

void RequireConvertible(double value) {
    if (!std::isfinite(value) || value >= kInt64Limit || value < -kInt64Limit) throw EInvalidOp(kInvalidOpError);
}

int64_t CheckedMul(int64_t a, int64_t b) {
    int64_t product;
    if (__builtin_mul_overflow(a, b, &product)) throw EIntOverflow(kIntOverflowError);
    return product;
}

int64_t IntDivide(int64_t dividend, int64_t divisor) {
    if (divisor == 0) throw EDivByZero(kDivByZeroError);
    return dividend / divisor;
}
}  // namespace

int64_t CheckedTrunc(double value) {
    RequireConvertible(value);
    return Trunc(value);
}

int64_t CheckedRound(double value) {
    RequireConvertible(value);
    return Round(value);
}

int CheckedInt32(int64_t value) {
    if (value < std::numeric_limits<int32_t>::min() || value > std::numeric_limits<int32_t>::max())
        throw EIntOverflow(kIntOverflowError);
    return static_cast<int>(value);
}

double PxPerMmFromDpi(int dpi) { return dpi * kMmPerDpiFactor; }

TSheetGeometry SheetFromPrinter(const TPrinterCaps& caps) {
    TSheetGeometry sheet;
    sheet.SheetWidthPx = caps.PhysicalWidth;
    sheet.SheetHeightPx = caps.PhysicalHeight;
    sheet.OffsetLeftPx = caps.PhysicalOffsetX;
    sheet.OffsetRightPx = CheckedInt32(int64_t{caps.PhysicalWidth} - caps.HorzRes - caps.PhysicalOffsetX);
    sheet.OffsetTopPx = caps.PhysicalOffsetY;
    sheet.OffsetBottomPx = CheckedInt32(int64_t{caps.PhysicalHeight} - caps.VertRes - caps.PhysicalOffsetY);
    sheet.PxPerMmX = PxPerMmFromDpi(caps.LogPixelsX);
    sheet.PxPerMmY = PxPerMmFromDpi(caps.LogPixelsY);
    return sheet;
}

TSheetGeometry SheetFromPaper(int widthMm, int heightMm, double pxPerMm) {
    TSheetGeometry sheet;
    sheet.PxPerMmX = pxPerMm;
    sheet.PxPerMmY = pxPerMm;
    sheet.SheetWidthPx = CheckedInt32(CheckedRound(widthMm * pxPerMm));
    sheet.SheetHeightPx = CheckedInt32(CheckedRound(heightMm * pxPerMm));
    return sheet;
}

int DefaultMarginMm(int offsetNearPx, int offsetFarPx, double pxPerMm) {
    int margin = CheckedInt32(CheckedTrunc(FloatDivide(offsetNearPx, pxPerMm)) + 1);
    // A far strip exactly as wide as the margin is already cleared.
    if (offsetFarPx > margin * pxPerMm) margin = CheckedInt32(CheckedTrunc(FloatDivide(offsetFarPx, pxPerMm)) + 1);
    return margin;
}

TSheetConversion ConvertSheet(const TSheetGeometry& sheet, const TMarginsAndOverlaps& lengths) {
    TSheetConversion c;
    c.SheetWidthMm = FloatDivide(sheet.SheetWidthPx, sheet.PxPerMmX);
    c.SheetHeightMm = FloatDivide(sheet.SheetHeightPx, sheet.PxPerMmY);
    c.MarginXPx = CheckedInt32(CheckedTrunc(lengths.MarginXMm * sheet.PxPerMmX));
    c.MarginYPx = CheckedInt32(CheckedTrunc(lengths.MarginYMm * sheet.PxPerMmY));
    c.UsableWidthMm = c.SheetWidthMm - 2.0 * lengths.MarginXMm;
    c.UsableHeightMm = c.SheetHeightMm - 2.0 * lengths.MarginYMm;
    c.PrintWidthPx = CheckedInt32(int64_t{sheet.SheetWidthPx} - 2 * int64_t{c.MarginXPx});
    c.PrintHeightPx = CheckedInt32(int64_t{sheet.SheetHeightPx} - 2 * int64_t{c.MarginYPx});
    c.OverlapXPx = CheckedInt32(CheckedRound(lengths.OverlapXMm * sheet.PxPerMmX));
    c.OverlapYPx = CheckedInt32(CheckedRound(lengths.OverlapYMm * sheet.PxPerMmY));
    return c;
}

namespace {
// Sheets needed along one axis: each sheet after the first adds one step (usable size
// minus the overlap).
int64_t SheetsAlong(int posterMm, int overlapMm, double usableMm) {
    double steps = FloatDivide(double(posterMm) + overlapMm, usableMm - overlapMm);
    return CheckedTrunc(steps + 1);
}

// The poster length made q whole steps minus the overlap and one millimetre, q the nearest
// whole number of steps; never less than one step.
int SnapToSteps(int posterMm, int overlapMm, double usableMm) {
    double step = usableMm - overlapMm;
    int64_t q = CheckedRound(FloatDivide(double(posterMm) + overlapMm, step));
    double g = q * step - overlapMm;
    if (!(g > 0)) g = step;
    return CheckedInt32(CheckedTrunc(g - 1));
}
}  // namespace

TSheetCounts CountSheets(int newWidth, int newHeight, const TSheetConversion& conversion,
                         const TMarginsAndOverlaps& lengths) {
    TSheetCounts counts;
    counts.Columns = SheetsAlong(newWidth, lengths.OverlapXMm, conversion.UsableWidthMm);
    counts.Rows = SheetsAlong(newHeight, lengths.OverlapYMm, conversion.UsableHeightMm);
    return counts;
}

TPosterPixels PosterPixels(int newWidth, int newHeight, double pxPerMmX, double pxPerMmY) {
    int64_t width = CheckedTrunc(newWidth * pxPerMmX);
    int64_t height = CheckedTrunc(newHeight * pxPerMmY);
    if (width < 1 || height < 1)
        throw Exception(
            Format("A poster of %d x %d mm has no printer pixels (%d x %d). "
                   "Width and height must be at least 1 mm.",
                   newWidth, newHeight, width, height));
    constexpr int64_t kMostPixels = std::numeric_limits<int32_t>::max();
    if (width > kMostPixels || height > kMostPixels)
        throw EIntOverflow(
            Format("A poster of %d x %d mm has too many printer pixels (%d x %d). At this resolution "
                   "the width may be at most %d mm and the height at most %d mm.",
                   newWidth, newHeight, width, height, CheckedTrunc(kMostPixels / pxPerMmX),
                   CheckedTrunc(kMostPixels / pxPerMmY)));
    return {CheckedInt32(width), CheckedInt32(height)};
}

namespace {
// "210" or "210.5": a length in millimetres as the messages show it.
std::string MmText(double mm) {
    char text[32];
    std::snprintf(text, sizeof text, "%.6g", std::floor(mm * 10 + 0.5) / 10);
    return text;
}

void CheckAxis(const char* margins, const char* overlap, const char* across, int marginMm, int overlapMm,
               double sheetMm, int printPx, double usableMm) {
    if (2.0 * marginMm >= sheetMm || printPx < 1)
        throw Exception(Format("%s margins of %d mm leave nothing of a sheet %s mm %s; each must be less than %s mm.",
                               margins, marginMm, MmText(sheetMm), across, MmText(sheetMm / 2)));
    if (overlapMm >= usableMm)
        throw Exception(
            Format("An overlap of %d mm %s leaves no step from sheet to sheet; it must be less than "
                   "the %s mm the margins leave of the sheet.",
                   overlapMm, overlap, MmText(usableMm)));
}
}  // namespace

void CheckSheetSettings(const TSheetConversion& conversion, const TMarginsAndOverlaps& lengths) {
    CheckAxis("The left and right", "across", "wide", lengths.MarginXMm, lengths.OverlapXMm, conversion.SheetWidthMm,
              conversion.PrintWidthPx, conversion.UsableWidthMm);
    CheckAxis("The top and bottom", "down", "high", lengths.MarginYMm, lengths.OverlapYMm, conversion.SheetHeightMm,
              conversion.PrintHeightPx, conversion.UsableHeightMm);
}

int64_t CheckedPageCount(const TSheetCounts& counts) {
    constexpr int64_t kMostPages = std::numeric_limits<int32_t>::max();
    if (counts.Columns < 1 || counts.Rows < 1 || counts.Columns > kMostPages / counts.Rows)
        throw Exception(Format("The poster would need %d columns and %d rows of sheets; at most %d sheets can be made.",
                               counts.Columns, counts.Rows, kMostPages));
    return counts.Columns * counts.Rows;
}

TPosterScale PosterScale(const TPosterPixels& poster, int pictureWidth, int pictureHeight) {
    if (pictureWidth < 1 || pictureHeight < 1)
        throw Exception(
            Format("The picture has no pixels (%d x %d); bring in another picture.", pictureWidth, pictureHeight));
    TPosterScale scale{poster.PosterWidthPx, pictureWidth, poster.PosterHeightPx, pictureHeight};
    ReduceRatio(scale.ScaleXNum, scale.ScaleXDen);
    ReduceRatio(scale.ScaleYNum, scale.ScaleYDen);
    return scale;
}

TPictureDpi PictureDpi(const TSheetGeometry& sheet, const TPosterScale& scale) {
    // A picture pixel spans num / den printer pixels.
    auto dpi = [](double pxPerMm, int num, int den) {
        return num == 0 ? 0 : int(std::lround(pxPerMm * 25.4 * den / num));
    };
    return {dpi(sheet.PxPerMmX, scale.ScaleXNum, scale.ScaleXDen),
            dpi(sheet.PxPerMmY, scale.ScaleYNum, scale.ScaleYDen)};
}

void ReduceRatio(int& a, int& b) {
    if (a < 1 || b < 1) throw Exception(Format("Cannot reduce the ratio %d : %d.", a, b));
    // Euclid's remainders give the same divisor as repeated subtraction, without a loop
    // that runs a billion times for a ratio like 1000000000 : 1.
    int x = a, y = b;
    while (y != 0) {
        int r = x % y;
        x = y;
        y = r;
    }
    a /= x;
    b /= x;
}

int FollowProportion(int newWidth, int pictureWidth, int pictureHeight) {
    int64_t height = IntDivide(CheckedMul(newWidth, pictureHeight), pictureWidth);
    return CheckedInt32(height);
}

int SnapToPageWidth(int newWidth, int overlapXMm, double usableWidthMm) {
    return SnapToSteps(newWidth, overlapXMm, usableWidthMm);
}

int SnapToPageHeight(int newHeight, int overlapYMm, double usableHeightMm) {
    return SnapToSteps(newHeight, overlapYMm, usableHeightMm);
}

int WidthForHeight(int snappedHeight, int newWidth, int newHeight) {
    return CheckedInt32(IntDivide(CheckedMul(snappedHeight, newWidth), newHeight));
}

TPosterSize ApplySplitMode(TSplitMode mode, TPosterSize size, bool keepScale, int pictureWidth, int pictureHeight,
                           const TSheetConversion& conversion, const TMarginsAndOverlaps& lengths) {
    switch (mode) {
        case TSplitMode::AsIs:
            return size;
        case TSplitMode::PageWidth:
            size.NewWidth = SnapToPageWidth(size.NewWidth, lengths.OverlapXMm, conversion.UsableWidthMm);
            break;
        case TSplitMode::PageHeight: {
            int snapped = SnapToPageHeight(size.NewHeight, lengths.OverlapYMm, conversion.UsableHeightMm);
            if (!keepScale) {
                size.NewHeight = snapped;
                return size;
            }
            size.NewWidth = WidthForHeight(snapped, size.NewWidth, size.NewHeight);
            break;
        }
    }
    if (keepScale) size.NewHeight = FollowProportion(size.NewWidth, pictureWidth, pictureHeight);
    return size;
}

TLayout ComputeLayout(const TSheetGeometry& sheet, const TMarginsAndOverlaps& lengths, TPosterSize size,
                      int pictureWidth, int pictureHeight) {
    TLayout layout;
    // As the window does: a poster without (or beyond) printer pixels is refused first.
    layout.Poster = PosterPixels(size.NewWidth, size.NewHeight, sheet.PxPerMmX, sheet.PxPerMmY);
    layout.Conversion = ConvertSheet(sheet, lengths);
    CheckSheetSettings(layout.Conversion, lengths);
    layout.Counts = CountSheets(size.NewWidth, size.NewHeight, layout.Conversion, lengths);
    layout.Pages = CheckedPageCount(layout.Counts);
    layout.Scale = PosterScale(layout.Poster, pictureWidth, pictureHeight);
    return layout;
}

}  // namespace tilvorn
