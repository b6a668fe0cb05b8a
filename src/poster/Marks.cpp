#include "poster/Marks.h"

#include <cairo.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>

#include "core/Exceptions.h"

namespace tilvorn {

namespace {

constexpr const char* kFont = "DejaVu Sans";
// DejaVu Sans digits stand 0.729 em tall: an em of 2.8 mm makes them 2 mm.
constexpr double kSmallestEmMm = 2.8, kLargestEmMm = 4.0;
// A line of text (ascent and descent) takes about 1.17 em.
constexpr double kLineEm = 1.17;

struct TSurface {
    cairo_surface_t* surface = nullptr;
    ~TSurface() {
        if (surface) cairo_surface_destroy(surface);
    }
};

struct TContext {
    cairo_t* cr = nullptr;
    ~TContext() {
        if (cr) cairo_destroy(cr);
    }
};

void CheckSurface(cairo_surface_t* surface) {
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) throw EOutOfResources("Out of memory");
}

double TextWidth(cairo_t* cr, const std::string& text, double size) {
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    return e.x_advance;
}

std::string PlaceName(int64_t column, int64_t row) {
    return "(" + std::to_string(column + 1) + ";" + std::to_string(row + 1) + ")";
}

// A band beside one edge of the visible part, and how text runs along it.
struct TBand {
    TSheetRect Rect;
    bool Vertical = false;
    std::vector<std::pair<double, double>> Taken;  // spans along the band already used
    double Thickness() const { return double(Vertical ? Rect.X1 - Rect.X0 : Rect.Y1 - Rect.Y0); }
    double Length() const { return double(Vertical ? Rect.Y1 - Rect.Y0 : Rect.X1 - Rect.X0); }
};

// Places text in band centred at along (or from its start when along < 0); false without room.
bool Place(cairo_t* measure, TBand& band, const std::string& text, double pxPerMm, double along,
           std::vector<TSheetLabel>& labels) {
    if (band.Rect.X1 <= band.Rect.X0 || band.Rect.Y1 <= band.Rect.Y0) return false;
    const double size = std::min(kLargestEmMm * pxPerMm, 0.8 * band.Thickness() / kLineEm);
    if (size < kSmallestEmMm * pxPerMm) return false;
    const double width = TextWidth(measure, text, size), pad = size * 0.4;
    const double start = along < 0 ? 2 * pad : along - width / 2;
    const double from = start - pad, to = start + width + pad;
    if (from < 0 || to > band.Length()) return false;
    for (auto [a, b] : band.Taken)
        if (from < b && a < to) return false;
    band.Taken.emplace_back(from, to);
    TSheetLabel label;
    label.Text = text;
    label.Size = size;
    label.Vertical = band.Vertical;
    label.Clip = band.Rect;
    const double middle = start + width / 2, across = band.Thickness() / 2;
    // Vertical text reads upwards, so it runs from the band's bottom.
    label.X = band.Vertical ? double(band.Rect.X0) + across : double(band.Rect.X0) + middle;
    label.Y = band.Vertical ? double(band.Rect.Y1) - middle : double(band.Rect.Y0) + across;
    labels.push_back(std::move(label));
    return true;
}

}  // namespace

int64_t RowsOf(const TSheetLayout& l) {
    const int64_t step = int64_t{l.PrintHeightPx} - l.OverlapYPx;
    if (step <= 0) return 1;
    return std::max<int64_t>(1, (int64_t{l.PosterHeightPx} - l.OverlapYPx + step - 1) / step);
}

TSheetRect VisiblePartOf(const TSheetLayout& l, int64_t page) {
    const TPagePlace place = PlaceOfPage(page, l.Columns);
    const TPageRegion r = RegionOfPage(l, page);
    const bool right = place.Column + 1 < l.Columns, below = place.Row + 1 < RowsOf(l);
    const int64_t w =
        right ? int64_t{l.PrintWidthPx} - l.OverlapXPx : std::min<int64_t>(l.PrintWidthPx, l.PosterWidthPx - r.K);
    const int64_t h =
        below ? int64_t{l.PrintHeightPx} - l.OverlapYPx : std::min<int64_t>(l.PrintHeightPx, l.PosterHeightPx - r.I);
    return {l.MarginXPx, l.MarginYPx, l.MarginXPx + std::max<int64_t>(w, 0), l.MarginYPx + std::max<int64_t>(h, 0)};
}

std::vector<TSheetLabel> SheetLabelsOf(const TSheetLayout& l, int64_t page) {
    const TPagePlace p = PlaceOfPage(page, l.Columns);
    const TSheetRect v = VisiblePartOf(l, page);
    const int64_t w = l.SheetWidthPx, h = l.SheetHeightPx;
    TBand top{{0, 0, w, v.Y0}, false, {}}, bottom{{0, v.Y1, w, h}, false, {}};
    TBand left{{0, v.Y0, v.X0, v.Y1}, true, {}}, right{{v.X1, v.Y0, w, v.Y1}, true, {}};
    TSurface scratch{cairo_image_surface_create(CAIRO_FORMAT_A8, 1, 1)};
    TContext measure{cairo_create(scratch.surface)};
    std::vector<TSheetLabel> labels;
    const double pxPerMm = std::min(l.PxPerMmX, l.PxPerMmY) > 0 ? std::min(l.PxPerMmX, l.PxPerMmY) : 11.811;
    auto centre = [](const TBand& b) { return b.Length() / 2; };
    // The neighbours, each named beside the edge it joins.
    if (p.Row > 0) Place(measure.cr, top, "↑ " + PlaceName(p.Column, p.Row - 1), pxPerMm, centre(top), labels);
    if (p.Row + 1 < RowsOf(l))
        Place(measure.cr, bottom, "↓ " + PlaceName(p.Column, p.Row + 1), pxPerMm, centre(bottom), labels);
    if (p.Column > 0) Place(measure.cr, left, "← " + PlaceName(p.Column - 1, p.Row), pxPerMm, centre(left), labels);
    if (p.Column + 1 < l.Columns)
        Place(measure.cr, right, "→ " + PlaceName(p.Column + 1, p.Row), pxPerMm, centre(right), labels);
    // The sheet's own name in the first band with room for it.
    const std::string self = PlaceName(p.Column, p.Row) + " page " + std::to_string(page);
    for (TBand* band : {&top, &bottom, &left, &right})
        if (Place(measure.cr, *band, self, pxPerMm, -1, labels)) break;
    return labels;
}

void DrawLabels(cairo_t* cr, const std::vector<TSheetLabel>& labels) {
    for (const TSheetLabel& label : labels) {
        cairo_save(cr);
        cairo_rectangle(cr, double(label.Clip.X0), double(label.Clip.Y0), double(label.Clip.X1 - label.Clip.X0),
                        double(label.Clip.Y1 - label.Clip.Y0));
        cairo_clip(cr);
        cairo_translate(cr, label.X, label.Y);
        if (label.Vertical) cairo_rotate(cr, -M_PI / 2);
        cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_NORMAL);
        cairo_set_font_size(cr, label.Size);
        cairo_text_extents_t e;
        cairo_text_extents(cr, label.Text.c_str(), &e);
        cairo_font_extents_t f;
        cairo_font_extents(cr, &f);
        const double pad = label.Size * 0.2;
        // A white ground keeps the text legible where it lies over the picture in an overlap band.
        cairo_rectangle(cr, -e.x_advance / 2 - pad, -(f.ascent + f.descent) / 2 - pad, e.x_advance + 2 * pad,
                        f.ascent + f.descent + 2 * pad);
        cairo_set_source_rgb(cr, 1, 1, 1);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.12, 0.12, 0.12);
        cairo_move_to(cr, -e.x_advance / 2, (f.ascent - f.descent) / 2);
        cairo_show_text(cr, label.Text.c_str());
        cairo_restore(cr);
    }
}

namespace {

// Lays a premultiplied ARGB surface over the sheet's pixels at (x0, y0).
void Composite(cairo_surface_t* surface, int x0, int y0, TDIB& sheet) {
    cairo_surface_flush(surface);
    const uint8_t* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const int w = cairo_image_surface_get_width(surface), h = cairo_image_surface_get_height(surface);
    const int bytes = sheet.BitCount() / 8;
    uint8_t* top = sheet.TopRow();
    for (int y = 0; y < h; ++y) {
        const uint32_t* in = reinterpret_cast<const uint32_t*>(data + int64_t(y) * stride);
        uint8_t* out = top + int64_t(y0 + y) * sheet.RowStep() + int64_t(x0) * bytes;
        for (int x = 0; x < w; ++x, out += bytes) {
            const uint32_t s = in[x], a = s >> 24;
            if (a == 0) continue;
            const uint32_t r = s >> 16 & 0xFF, g = s >> 8 & 0xFF, b = s & 0xFF, keep = 255 - a;
            if (bytes == 1) {
                out[0] = uint8_t(((r * 77 + g * 150 + b * 29) >> 8) + (out[0] * keep + 127) / 255);
                continue;
            }
            out[0] = uint8_t(b + (out[0] * keep + 127) / 255);
            out[1] = uint8_t(g + (out[1] * keep + 127) / 255);
            out[2] = uint8_t(r + (out[2] * keep + 127) / 255);
        }
    }
}

}  // namespace

void DrawSheetLabels(const TSheetLayout& l, int64_t page, TDIB& sheet) {
    for (const TSheetLabel& label : SheetLabelsOf(l, page)) {
        // Each label is drawn on a surface of its own band's size, so nothing can reach beyond it.
        const TSheetRect c = label.Clip;
        const int x0 = int(std::clamp<int64_t>(c.X0, 0, sheet.Width())),
                  x1 = int(std::clamp<int64_t>(c.X1, x0, sheet.Width()));
        const int y0 = int(std::clamp<int64_t>(c.Y0, 0, sheet.Height())),
                  y1 = int(std::clamp<int64_t>(c.Y1, y0, sheet.Height()));
        if (x1 <= x0 || y1 <= y0) continue;
        TSurface band{cairo_image_surface_create(CAIRO_FORMAT_ARGB32, x1 - x0, y1 - y0)};
        CheckSurface(band.surface);
        {
            TContext cr{cairo_create(band.surface)};
            cairo_translate(cr.cr, -x0, -y0);
            DrawLabels(cr.cr, {label});
        }
        Composite(band.surface, x0, y0, sheet);
    }
}

namespace {

// The picture reduced to fit within most × most pixels, for the map.
cairo_surface_t* PreviewSurface(TDIB& picture, int most, bool grey) {
    const double scale = std::min(1.0, double(most) / std::max(picture.Width(), picture.Height()));
    const int w = std::max(1, int(picture.Width() * scale)), h = std::max(1, int(picture.Height() * scale));
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, w, h);
    CheckSurface(surface);
    cairo_surface_flush(surface);
    uint8_t* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    if (!picture.Image()->TopRow || picture.Image()->Compressed) picture.TopRow();
    const TDIBStore& store = *picture.Image();
    for (int y = 0; y < h; ++y) {
        uint32_t* out = reinterpret_cast<uint32_t*>(data + int64_t(y) * stride);
        const int sy = int(int64_t(y) * picture.Height() / h);
        for (int x = 0; x < w; ++x) {
            const TColor c = GetStorePixel(store, int(int64_t(x) * picture.Width() / w), sy);
            uint32_t r = ColorRed(c), g = ColorGreen(c), b = ColorBlue(c);
            if (grey) r = g = b = (r * 77 + g * 150 + b * 29) >> 8;
            out[x] = r << 16 | g << 8 | b;
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

void CentredLine(cairo_t* cr, const std::string& text, double x, double y, double size) {
    cairo_set_font_size(cr, size);
    cairo_text_extents_t e;
    cairo_text_extents(cr, text.c_str(), &e);
    cairo_move_to(cr, x - e.x_advance / 2, y);
    cairo_show_text(cr, text.c_str());
}

}  // namespace

void DrawAssemblyMap(cairo_t* cr, const TSheetLayout& l, TDIB& picture, const std::vector<int>& pages, bool grey) {
    if (l.PosterWidthPx <= 0 || l.PosterHeightPx <= 0 || l.Columns <= 0) return;
    const double scale = std::min(double(l.PrintWidthPx) / l.PosterWidthPx, double(l.PrintHeightPx) / l.PosterHeightPx);
    const double mapW = l.PosterWidthPx * scale, mapH = l.PosterHeightPx * scale;
    cairo_save(cr);
    cairo_translate(cr, l.MarginXPx + (l.PrintWidthPx - mapW) / 2, l.MarginYPx + (l.PrintHeightPx - mapH) / 2);
    cairo_scale(cr, scale, scale);  // poster pixels from here on
    {
        TSurface preview{PreviewSurface(picture, 1000, grey)};
        cairo_save(cr);
        cairo_scale(cr, double(l.PosterWidthPx) / cairo_image_surface_get_width(preview.surface),
                    double(l.PosterHeightPx) / cairo_image_surface_get_height(preview.surface));
        cairo_set_source_surface(cr, preview.surface, 0, 0);
        cairo_pattern_set_filter(cairo_get_source(cr), CAIRO_FILTER_GOOD);
        cairo_paint(cr);
        cairo_restore(cr);
    }
    const int64_t count = l.Columns * RowsOf(l);
    std::vector<bool> chosen(size_t(count) + 1, false);
    for (int page : pages)
        if (page >= 1 && page <= count) chosen[size_t(page)] = true;
    const double line = std::max(1.0, 0.25 * l.PxPerMmX) / scale;
    cairo_select_font_face(cr, kFont, CAIRO_FONT_SLANT_NORMAL, CAIRO_FONT_WEIGHT_BOLD);
    for (int64_t page = 1; page <= count; ++page) {
        const TPageRegion r = RegionOfPage(l, page);
        const TSheetRect v = VisiblePartOf(l, page);
        const double vx = double(r.K), vy = double(r.I), vw = double(v.X1 - v.X0), vh = double(v.Y1 - v.Y0);
        if (!chosen[size_t(page)]) {  // veiled: this sheet is not among those output
            cairo_rectangle(cr, vx, vy, vw, vh);
            cairo_set_source_rgba(cr, 1, 1, 1, 0.6);
            cairo_fill(cr);
        }
        const double w = std::min<double>(l.PrintWidthPx, l.PosterWidthPx - vx);
        const double h = std::min<double>(l.PrintHeightPx, l.PosterHeightPx - vy);
        cairo_rectangle(cr, vx, vy, w, h);
        cairo_set_source_rgb(cr, 0, 0, 0);
        cairo_set_line_width(cr, chosen[size_t(page)] ? 3 * line : line);
        cairo_stroke(cr);
        const TPagePlace p = PlaceOfPage(page, l.Columns);
        const double size = std::clamp(std::min(vw, vh) / 6, 2.8 * l.PxPerMmX / scale, 10 * l.PxPerMmX / scale);
        const double cx = vx + vw / 2, cy = vy + vh / 2;
        cairo_rectangle(cr, cx - 2.6 * size, cy - 1.3 * size, 5.2 * size, 2.6 * size);
        cairo_set_source_rgba(cr, 1, 1, 1, 0.85);
        cairo_fill(cr);
        cairo_set_source_rgb(cr, 0.12, 0.12, 0.12);
        CentredLine(cr, PlaceName(p.Column, p.Row), cx, cy - 0.1 * size, size);
        CentredLine(cr, "page " + std::to_string(page), cx, cy + 1.0 * size, size * 0.8);
    }
    cairo_restore(cr);
}

void ComposeAssemblyMap(const TSheetLayout& l, TDIB& picture, const std::vector<int>& pages, int colorDepth,
                        TDIB& sheet) {
    TSurface surface{cairo_image_surface_create(CAIRO_FORMAT_RGB24, l.SheetWidthPx, l.SheetHeightPx)};
    CheckSurface(surface.surface);
    {
        TContext cr{cairo_create(surface.surface)};
        cairo_set_source_rgb(cr.cr, 1, 1, 1);
        cairo_paint(cr.cr);
        DrawAssemblyMap(cr.cr, l, picture, pages, colorDepth == 8);
    }
    cairo_surface_flush(surface.surface);
    if (colorDepth == 8) sheet.ColorTable = GreyColorTable();
    sheet.PixelFormat = pf888;
    sheet.SetSize(l.SheetWidthPx, l.SheetHeightPx, colorDepth);
    const uint8_t* data = cairo_image_surface_get_data(surface.surface);
    const int stride = cairo_image_surface_get_stride(surface.surface), bytes = colorDepth / 8;
    for (int y = 0; y < l.SheetHeightPx; ++y) {
        const uint32_t* in = reinterpret_cast<const uint32_t*>(data + int64_t(y) * stride);
        uint8_t* out = sheet.TopRow() + int64_t(y) * sheet.RowStep();
        for (int x = 0; x < l.SheetWidthPx; ++x, out += bytes) {
            const uint32_t s = in[x], r = s >> 16 & 0xFF, g = s >> 8 & 0xFF, b = s & 0xFF;
            if (bytes == 1) {
                out[0] = uint8_t((r * 77 + g * 150 + b * 29) >> 8);
                continue;
            }
            out[0] = uint8_t(b);
            out[1] = uint8_t(g);
            out[2] = uint8_t(r);
            if (bytes == 4) out[3] = 0;
        }
    }
}

std::string MapFileName(const std::string& base) { return base + "(map).JPG"; }

}  // namespace tilvorn
