// The poster's arithmetic: from a sheet (printer or typed), margins, overlaps and the wanted
// poster size in millimetres to the counts of sheets, the poster in printer pixels and the
// exact ratios between poster pixels and picture pixels. No widgets: the main window and
// tilvorn-cli both call these functions and write the results where they belong.
//
// Lengths the user types are whole millimetres; the printer pixel (one printer dot) is the
// unit of sheets and poster. Trunc cuts toward zero, Round sends halves to the even
// neighbour. A division by zero or a value that does not fit raises the runtime's own error.
#pragma once
#include <cstdint>

namespace tilvorn {

/// Printer pixels per millimetre are the resolution times this factor (not 1/25.4).
inline constexpr double kMmPerDpiFactor = 0.03937;
double PxPerMmFromDpi(int dpi);

/// The sheet as the printer or the sheet window gives it.
struct TSheetGeometry {
    int SheetWidthPx = 0, SheetHeightPx = 0;
    int OffsetLeftPx = 0, OffsetRightPx = 0, OffsetTopPx = 0, OffsetBottomPx = 0;
    double PxPerMmX = 0, PxPerMmY = 0;
};

/// The eight device capabilities the sheet is read from.
struct TPrinterCaps {
    int HorzRes = 0, VertRes = 0;
    int LogPixelsX = 0, LogPixelsY = 0;
    int PhysicalWidth = 0, PhysicalHeight = 0;
    int PhysicalOffsetX = 0, PhysicalOffsetY = 0;
};

/// Printer mode: paper size, unprintable strips and resolution from the device.
TSheetGeometry SheetFromPrinter(const TPrinterCaps& caps);
/// Sheet mode: a typed sheet in millimetres at a resolution; no unprintable strips.
TSheetGeometry SheetFromPaper(int widthMm, int heightMm, double pxPerMm);
/// The smallest whole millimetres that clear both strips of one axis (at least 1).
int DefaultMarginMm(int offsetNearPx, int offsetFarPx, double pxPerMm);

struct TMarginsAndOverlaps {
    int MarginXMm = 1, MarginYMm = 1;
    int OverlapXMm = 5, OverlapYMm = 5;
};

/// The sheet in millimetres and the page window, margins and overlaps in printer pixels.
struct TSheetConversion {
    double SheetWidthMm = 0, SheetHeightMm = 0;
    int MarginXPx = 0, MarginYPx = 0;
    double UsableWidthMm = 0, UsableHeightMm = 0;
    int PrintWidthPx = 0, PrintHeightPx = 0;
    int OverlapXPx = 0, OverlapYPx = 0;
};
/// Margins are truncated to whole pixels, overlaps rounded.
TSheetConversion ConvertSheet(const TSheetGeometry& sheet, const TMarginsAndOverlaps& lengths);

struct TSheetCounts {
    int64_t Columns = 0, Rows = 0;
};
/// Sheets across and down for a poster of newWidth × newHeight mm. Zero or negative counts
/// come out as they are when the margins eat the sheet.
TSheetCounts CountSheets(int newWidth, int newHeight, const TSheetConversion& conversion,
                         const TMarginsAndOverlaps& lengths);

/// Refuses, before any layout, margins that leave nothing of the sheet (each at least half
/// of it) and overlaps of at least the usable size, naming the value and its limit.
void CheckSheetSettings(const TSheetConversion& conversion, const TMarginsAndOverlaps& lengths);
/// Columns × rows, refused with a message when either is below 1 or the product passes 32 bits.
int64_t CheckedPageCount(const TSheetCounts& counts);

struct TPosterPixels {
    int PosterWidthPx = 0, PosterHeightPx = 0;
};
/// The poster in printer pixels. A size that gives no pixel on an axis, or more than 32 bits
/// hold, is refused with an error naming the size, because nothing can be cut from it.
TPosterPixels PosterPixels(int newWidth, int newHeight, double pxPerMmX, double pxPerMmY);

struct TPosterScale {
    int ScaleXNum = 1, ScaleXDen = 1, ScaleYNum = 1, ScaleYDen = 1;
};
/// Poster pixels : picture pixels per axis, reduced. A picture without pixels is refused.
TPosterScale PosterScale(const TPosterPixels& poster, int pictureWidth, int pictureHeight);

/// Picture pixels per inch of paper across and down; 0 on an axis without a scale.
struct TPictureDpi {
    int X = 0, Y = 0;
};
TPictureDpi PictureDpi(const TSheetGeometry& sheet, const TPosterScale& scale);

/// Divides both by their greatest common divisor; both must be at least 1.
void ReduceRatio(int& a, int& b);

/// The height that keeps the picture's proportion for a poster newWidth mm wide.
int FollowProportion(int newWidth, int pictureWidth, int pictureHeight);

/// Split mode 1: the width made a whole number of sheet steps, minus the overlap and 1 mm.
int SnapToPageWidth(int newWidth, int overlapXMm, double usableWidthMm);
/// Split mode 2: the height made a whole number of sheet steps, minus the overlap and 1 mm.
int SnapToPageHeight(int newHeight, int overlapYMm, double usableHeightMm);
/// The width whose proportional height is about snappedHeight (64-bit, truncating).
int WidthForHeight(int snappedHeight, int newWidth, int newHeight);

enum class TSplitMode { AsIs = 0, PageWidth = 1, PageHeight = 2 };

struct TPosterSize {
    int NewWidth = 1, NewHeight = 1;
};
/// The poster size after a split mode, with the proportion rule applied when keepScale.
TPosterSize ApplySplitMode(TSplitMode mode, TPosterSize size, bool keepScale, int pictureWidth, int pictureHeight,
                           const TSheetConversion& conversion, const TMarginsAndOverlaps& lengths);

/// Everything a recomputation yields, for callers without a window.
struct TLayout {
    TSheetConversion Conversion;
    TSheetCounts Counts;
    int64_t Pages = 0;
    TPosterPixels Poster;
    TPosterScale Scale;
};
TLayout ComputeLayout(const TSheetGeometry& sheet, const TMarginsAndOverlaps& lengths, TPosterSize size,
                      int pictureWidth, int pictureHeight);

/// Checked helpers with the runtime's errors, shared with the window's handlers.
double FloatDivide(double dividend, double divisor);
int64_t CheckedTrunc(double value);
int64_t CheckedRound(double value);
int CheckedInt32(int64_t value);

}  // namespace tilvorn
