// The preview: the whole poster scaled into the scrolling area, softened, with the cuts
// between sheets drawn over it as dotted lines, and the column, row and page under the
// pointer. Widgetless; the window hands in the sizes of its controls.
#pragma once
#include <cstdint>
#include <optional>
#include <string>

#include "image/DIB.h"
#include "poster/SetAsString.h"

namespace tilvorn {

/// Preview pixels per poster millimetre: the smaller of the two axes' fits of the poster
/// into the area less 6 pixels.
double PreviewScale(int areaWidth, int areaHeight, int posterWidthMm, int posterHeightMm);

/// Builds preview images from the picture and keeps the last one: a rebuild for the same
/// picture at the same size answers the kept image without blurring or stretching again.
class TPreviewBuilder {
public:
    /// preview takes the picture at previewWidth × previewHeight, 24 bits: a reduced picture
    /// is blurred with radius (picture width / preview width − 1) and then stretched; an
    /// enlarged or kept one is stretched and then blurred with radius (preview width /
    /// picture width).
    void Build(TDIB& picture, int previewWidth, int previewHeight, TDIB& preview);
    /// How many builds did the blur and stretch (for tests and benchmarks).
    int Renders() const { return renders_; }
    /// Forgets the kept image and the picture it shares.
    void Reset();

private:
    TDIB picture_;  // shares the picture's pixels, so its store cannot be reused by another
    TDIB built_;
    int width_ = -1, height_ = -1;
    int renders_ = 0;
};

/// The sheet step of the preview grid, in preview pixels: (usable − overlap) × preview size /
/// poster size.
double GridStep(double usableMm, int overlapMm, int previewSize, int posterSizeMm);

/// Dotted black lines at every whole column and row step but the first, across the preview.
void DrawPreviewGrid(TDIB& preview, int columns, int rows, double usableWidthMm, int overlapXMm, double usableHeightMm,
                     int overlapYMm, int posterWidthMm, int posterHeightMm);

/// Washes out the sheets of a 24-bit preview whose pages are not in chosen, each pixel 60 % of
/// the way to mid-grey; sheets are cut as the grid and the pointer cut them.
void DimUnchosenPages(TDIB& preview, int columns, int rows, double usableWidthMm, int overlapXMm, double usableHeightMm,
                      int overlapYMm, int posterWidthMm, int posterHeightMm, const TSetAsString& chosen);

/// The column, row (both from 1) and page under a pointer.
struct TPointerCell {
    int64_t Column = 0, Row = 0, Page = 0;
};

/// What the pointer at (x, y) in a control of controlWidth × controlHeight points at, the
/// preview being centred in it; std::nullopt when the steps are not positive (the panels keep
/// their texts). Raises EConvertError when columnsText holds no integer.
std::optional<TPointerCell> PointerCell(int x, int y, int controlWidth, int controlHeight, int previewWidth,
                                        int previewHeight, double usableWidthMm, int overlapXMm, double usableHeightMm,
                                        int overlapYMm, int posterWidthMm, int posterHeightMm,
                                        const std::string& columnsText);

}  // namespace tilvorn
