// Assembly aids: labels on each sheet, drawn only where the assembled poster hides them, and
// the assembly map. One cairo drawing routine serves the raster sheets and the PDF pages; the
// text is set in DejaVu Sans.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include "image/DIB.h"
#include "poster/Output.h"

typedef struct _cairo cairo_t;

namespace tilvorn {

/// A rectangle of sheet pixels, [X0, X1) × [Y0, Y1).
struct TSheetRect {
    int64_t X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
};

/// The rows of the poster's grid.
int64_t RowsOf(const TSheetLayout& layout);

/// The part of a sheet that shows on the assembled poster: its page window within the poster,
/// less the right and bottom overlap bands that the neighbours there cover.
TSheetRect VisiblePartOf(const TSheetLayout& layout, int64_t page);

/// One line of text, centred on (X, Y) in sheet pixels, drawn only inside Clip.
struct TSheetLabel {
    std::string Text;
    double X = 0, Y = 0;
    double Size = 0;  // the font's em in sheet pixels
    bool Vertical = false;  // reads upwards
    TSheetRect Clip;
};

/// The labels of a sheet: its own name "(column;row) page N" and, on each edge that joins a
/// neighbour, "→ (column;row)" (←, ↑, ↓ for the other edges), each in the band beside that
/// edge outside the visible part. Digits are at least 2 mm high; a label without room is
/// left out.
std::vector<TSheetLabel> SheetLabelsOf(const TSheetLayout& layout, int64_t page);

/// Draws labels on cr, whose user space is in sheet pixels.
void DrawLabels(cairo_t* cr, const std::vector<TSheetLabel>& labels);

/// Lays the sheet's labels over a composed sheet (8, 24 or 32 bits).
void DrawSheetLabels(const TSheetLayout& layout, int64_t page, TDIB& sheet);

/// The assembly map on cr (user space in sheet pixels): the poster's preview within the page
/// window, every sheet's page window outlined with its "(column;row)" and "page N", the
/// chosen sheets bright and outlined, the others veiled.
void DrawAssemblyMap(cairo_t* cr, const TSheetLayout& layout, TDIB& picture, const std::vector<int>& pages, bool grey);

/// The assembly map as a sheet-sized image at colorDepth bits.
void ComposeAssemblyMap(const TSheetLayout& layout, TDIB& picture, const std::vector<int>& pages, int colorDepth,
                        TDIB& sheet);

/// base + "(map).JPG".
std::string MapFileName(const std::string& base);
/// The print job of the map.
inline constexpr const char* kMapJobTitle = "(map)";

}  // namespace tilvorn
