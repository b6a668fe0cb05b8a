#include "poster/Preview.h"

#include <algorithm>
#include <cmath>
#include <vector>

#include "poster/Geometry.h"
#include "core/Exceptions.h"
#include "core/IntText.h"

namespace tilvorn {

namespace {

int DivideInt(int dividend, int divisor) {
    if (divisor == 0) throw EDivByZero("Division by zero");
    return dividend / divisor;
}

}  // namespace

double PreviewScale(int areaWidth, int areaHeight, int posterWidthMm, int posterHeightMm) {
    double sx = FloatDivide(areaWidth - 6, posterWidthMm);
    double sy = FloatDivide(areaHeight - 6, posterHeightMm);
    return sy > sx ? sx : sy;
}

void TPreviewBuilder::Reset() {
    picture_.Clear();
    built_.Clear();
    width_ = height_ = -1;
}

void TPreviewBuilder::Build(TDIB& picture, int previewWidth, int previewHeight, TDIB& preview) {
    if (previewWidth <= 0 || previewHeight <= 0 || picture.Empty()) {
        preview.Clear();  // an area too small for a single pixel shows nothing
        return;
    }
    // The kept picture shares the pixel store, so an unchanged store pointer means the very
    // same pixels: the picture is replaced as a whole, never edited in place.
    bool same =
        !picture.Empty() && picture.Image() == picture_.Image() && previewWidth == width_ && previewHeight == height_;
    if (!same) {
        TDIB made;
        if (previewWidth < picture.Width()) {
            // Blurred, then stretched; but only the pixels the stretch takes are blurred.
            picture.BlurSampled(DivideInt(picture.Width(), previewWidth) - 1, previewWidth, previewHeight, made);
        } else {
            made.SetSize(previewWidth, previewHeight, 24);
            made.Canvas().StretchDraw({0, 0, previewWidth, previewHeight}, picture);
            made.Blur(24, DivideInt(made.Width(), picture.Width()));
        }
        built_.Assign(made);
        picture_.Assign(picture);
        width_ = previewWidth;
        height_ = previewHeight;
        ++renders_;
    }
    preview.Assign(built_);
}

double GridStep(double usableMm, int overlapMm, int previewSize, int posterSizeMm) {
    return (usableMm - overlapMm) * previewSize / posterSizeMm;
}

void DrawPreviewGrid(TDIB& preview, int columns, int rows, double usableWidthMm, int overlapXMm, double usableHeightMm,
                     int overlapYMm, int posterWidthMm, int posterHeightMm) {
    if (preview.Empty() || (columns <= 1 && rows <= 1)) return;
    const int width = preview.Width(), height = preview.Height();
    TCanvas& canvas = preview.Canvas();
    canvas.Pen.Color = clBlack;
    canvas.Pen.Style = TPenStyle::psDot;
    const double columnStep = GridStep(usableWidthMm, overlapXMm, width, posterWidthMm);
    for (int m = 1; m < columns; ++m) {
        int x = int(CheckedTrunc(columnStep * m));
        canvas.MoveTo(x, 0);
        canvas.LineTo(x, height);
    }
    const double rowStep = GridStep(usableHeightMm, overlapYMm, height, posterHeightMm);
    for (int m = 1; m < rows; ++m) {
        int y = int(CheckedTrunc(rowStep * m));
        canvas.MoveTo(0, y);
        canvas.LineTo(width, y);
    }
    canvas.Pen.Style = TPenStyle::psSolid;
}

void DimUnchosenPages(TDIB& preview, int columns, int rows, double usableWidthMm, int overlapXMm, double usableHeightMm,
                      int overlapYMm, int posterWidthMm, int posterHeightMm, const TSetAsString& chosen) {
    if (preview.Empty() || preview.BitCount() != 24 || columns < 1 || rows < 1) return;
    const int width = preview.Width(), height = preview.Height();
    const double columnStep = GridStep(usableWidthMm, overlapXMm, width, posterWidthMm);
    const double rowStep = GridStep(usableHeightMm, overlapYMm, height, posterHeightMm);
    if (!(columnStep > 0 && rowStep > 0)) return;
    // The cell of a pixel as the pointer finds it; the last column and row take the rest.
    auto cellOf = [](int at, double step, int count) {
        return int(std::min<double>(count - 1, std::floor(at / step)));
    };
    std::vector<int> columnOf(static_cast<size_t>(width));
    for (int x = 0; x < width; ++x) columnOf[size_t(x)] = cellOf(x, columnStep, columns);
    std::vector<bool> rowChosen(static_cast<size_t>(columns));
    int lastRow = -1;
    for (int y = 0; y < height; ++y) {
        const int row = cellOf(y, rowStep, rows);
        if (row != lastRow) {
            for (int column = 0; column < columns && column <= columnOf.back(); ++column) {
                const int64_t page = int64_t{row} * columns + column + 1;
                rowChosen[size_t(column)] = page <= INT32_MAX && chosen.Contains(int32_t(page));
            }
            lastRow = row;
        }
        uint8_t* pixel = preview.ScanLine(y);
        for (int x = 0; x < width; ++x, pixel += 3) {
            if (rowChosen[size_t(columnOf[size_t(x)])]) continue;
            for (int channel = 0; channel < 3; ++channel) pixel[channel] = uint8_t((2 * pixel[channel] + 3 * 128) / 5);
        }
    }
}

std::optional<TPointerCell> PointerCell(int x, int y, int controlWidth, int controlHeight, int previewWidth,
                                        int previewHeight, double usableWidthMm, int overlapXMm, double usableHeightMm,
                                        int overlapYMm, int posterWidthMm, int posterHeightMm,
                                        const std::string& columnsText) {
    const int px = std::min(previewWidth, std::max(0, x - (controlWidth - previewWidth) / 2));
    const int py = std::min(previewHeight, std::max(0, y - (controlHeight - previewHeight) / 2));
    const double cs = GridStep(usableWidthMm, overlapXMm, previewWidth, posterWidthMm);
    const double rs = GridStep(usableHeightMm, overlapYMm, previewHeight, posterHeightMm);
    if (!(cs > 0 && rs > 0)) return std::nullopt;
    const int64_t column = CheckedTrunc(px / cs);
    const int64_t row = CheckedTrunc(py / rs);
    const int64_t columns = StrToInt(columnsText);
    return TPointerCell{column + 1, row + 1, row * columns + column + 1};
}

}  // namespace tilvorn
