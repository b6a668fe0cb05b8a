#include "poster/Geometry.h"

#include <cmath>
#include <limits>

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
    if (!std::isfinite(value) || value >= kInt64Limit || value < -kInt64Limit)
        throw EInvalidOp(kInvalidOpError);
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
    if (offsetFarPx > margin * pxPerMm)
        margin = CheckedInt32(CheckedTrunc(FloatDivide(offsetFarPx, pxPerMm)) + 1);
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
        throw Exception(Format("A poster of %d x %d mm has no printer pixels (%d x %d). "
                               "Width and height must be at least 1 mm.",
                               newWidth, newHeight, width, height));
    return {CheckedInt32(width), CheckedInt32(height)};
}

TPosterScale PosterScale(const TPosterPixels& poster, int pictureWidth, int pictureHeight) {
    if (pictureWidth < 1 || pictureHeight < 1)
        throw Exception(Format("The picture has no pixels (%d x %d); bring in another picture.", pictureWidth,
                               pictureHeight));
    TPosterScale scale{poster.PosterWidthPx, pictureWidth, poster.PosterHeightPx, pictureHeight};
    ReduceRatio(scale.ScaleXNum, scale.ScaleXDen);
    ReduceRatio(scale.ScaleYNum, scale.ScaleYDen);
    return scale;
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

TPosterSize ApplySplitMode(TSplitMode mode, TPosterSize size, bool keepScale, int pictureWidth,
                           int pictureHeight, const TSheetConversion& conversion,
                           const TMarginsAndOverlaps& lengths) {
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
    layout.Conversion = ConvertSheet(sheet, lengths);
    layout.Counts = CountSheets(size.NewWidth, size.NewHeight, layout.Conversion, lengths);
    layout.Pages = CheckedMul(layout.Counts.Columns, layout.Counts.Rows);
    layout.Poster = PosterPixels(size.NewWidth, size.NewHeight, sheet.PxPerMmX, sheet.PxPerMmY);
    layout.Scale = PosterScale(layout.Poster, pictureWidth, pictureHeight);
    return layout;
}

}  // namespace tilvorn
