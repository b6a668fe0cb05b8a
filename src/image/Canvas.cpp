// The drawing surface: writes straight into a picture's pixel memory with GDI's rules, so the
// pixels that drawing produces are exact and testable.
#include <algorithm>
#include <cstring>
#include <unordered_map>

#include "core/Format.h"
#include "image/DIB.h"

namespace tilvorn {

namespace {

uint32_t ReadRaw(const uint8_t* row, int bitCount, int x) {
    switch (bitCount) {
        case 1:
            return (row[x >> 3] >> (7 - (x & 7))) & 1;
        case 4:
            return (x & 1) ? row[x >> 1] & 0x0F : row[x >> 1] >> 4;
        case 8:
            return row[x];
        case 16:
            return uint32_t(row[2 * x]) | uint32_t(row[2 * x + 1]) << 8;
        case 24: {
            const uint8_t* p = row + 3 * x;
            return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
        }
        case 32: {
            const uint8_t* p = row + 4 * x;
            return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        }
    }
    return 0;
}

void WriteRaw(uint8_t* row, int bitCount, int x, uint32_t v) {
    switch (bitCount) {
        case 1: {
            uint8_t bit = uint8_t(0x80 >> (x & 7));
            row[x >> 3] = uint8_t(v & 1 ? row[x >> 3] | bit : row[x >> 3] & ~bit);
            break;
        }
        case 4:
            row[x >> 1] = (x & 1) ? uint8_t((row[x >> 1] & 0xF0) | (v & 0x0F))
                                  : uint8_t((row[x >> 1] & 0x0F) | ((v & 0x0F) << 4));
            break;
        case 8:
            row[x] = uint8_t(v);
            break;
        case 16:
            row[2 * x] = uint8_t(v);
            row[2 * x + 1] = uint8_t(v >> 8);
            break;
        case 24:
            row[3 * x] = uint8_t(v);
            row[3 * x + 1] = uint8_t(v >> 8);
            row[3 * x + 2] = uint8_t(v >> 16);
            break;
        case 32:
            row[4 * x] = uint8_t(v);
            row[4 * x + 1] = uint8_t(v >> 8);
            row[4 * x + 2] = uint8_t(v >> 16);
            row[4 * x + 3] = uint8_t(v >> 24);
            break;
    }
}

TColor RawToColor(const TDIBStore& s, uint32_t raw) {
    switch (s.BitCount) {
        case 1:
        case 4:
        case 8: {
            const RGBQUAD& q = s.ColorTable[raw & 0xFF];
            return RGBColor(q.rgbRed, q.rgbGreen, q.rgbBlue);
        }
        case 24:
            return RGBColor(uint8_t(raw >> 16), uint8_t(raw >> 8), uint8_t(raw));
        default: {
            uint8_t r, g, b;
            s.PixelFormat.Unpack(raw, r, g, b);
            return RGBColor(r, g, b);
        }
    }
}

// Colour to raw pixel of one target picture; remembers the nearest-entry searches of indexed
// pictures, which would otherwise dominate stretch copies.
class ColorWriter {
public:
    explicit ColorWriter(const TDIBStore& s) : s_(s) {}
    uint32_t Raw(TColor c) {
        switch (s_.BitCount) {
            case 1:
            case 4:
            case 8: {
                auto it = cache_.find(c);
                if (it != cache_.end()) return it->second;
                uint32_t index = uint32_t(NearestColorIndex(s_.ColorTable, s_.PaletteCount, c));
                cache_.emplace(c, index);
                return index;
            }
            case 24:
                return uint32_t(ColorBlue(c)) | uint32_t(ColorGreen(c)) << 8 | uint32_t(ColorRed(c)) << 16;
            default:
                return s_.PixelFormat.Pack(ColorRed(c), ColorGreen(c), ColorBlue(c));
        }
    }

private:
    const TDIBStore& s_;
    std::unordered_map<TColor, uint32_t> cache_;
};

uint8_t* RowOf(const TDIBStore& s, int y) { return s.TopRow + int64_t(y) * s.RowStep; }

uint32_t ApplyCopyMode(TCopyMode mode, uint32_t src, uint32_t dst) {
    switch (mode) {
        case TCopyMode::cmSrcCopy:
            return src;
        case TCopyMode::cmSrcInvert:
            return src ^ dst;
        case TCopyMode::cmSrcAnd:
            return src & dst;
        case TCopyMode::cmSrcPaint:
            return src | dst;
    }
    return src;
}

// Stretches sourceRect of an uncompressed source into dest of target, clipped to both.
void StretchStore(TDIBStore& target, const TRect& dest, const TDIBStore& source, const TRect& sourceRect,
                  TCopyMode mode) {
    int dw = dest.Width(), dh = dest.Height(), sw = sourceRect.Width(), sh = sourceRect.Height();
    if (dw == 0 || dh == 0 || sw == 0 || sh == 0 || !target.Pixels || !source.Pixels) return;
    // A negative extent on one side only mirrors the picture along that axis.
    bool mirrorX = (dw < 0) != (sw < 0), mirrorY = (dh < 0) != (sh < 0);
    int left = std::min(dest.Left, dest.Right), top = std::min(dest.Top, dest.Bottom);
    int sLeft = std::min(sourceRect.Left, sourceRect.Right), sTop = std::min(sourceRect.Top, sourceRect.Bottom);
    dw = std::abs(dw), dh = std::abs(dh), sw = std::abs(sw), sh = std::abs(sh);
    int x0 = std::max(0, -left), x1 = std::min(dw, target.Width - left);
    int y0 = std::max(0, -top), y1 = std::min(dh, target.Height - top);
    if (x0 >= x1 || y0 >= y1) return;

    std::vector<int> columns(size_t(x1 - x0));
    for (int i = x0; i < x1; ++i) {
        int k = mirrorX ? dw - 1 - i : i;
        columns[size_t(i - x0)] = StretchSampleIndex(k, sLeft, sw, dw);
    }
    bool sameLayout = source.BitCount == target.BitCount &&
        (source.BitCount > 8 ? source.PixelFormat.SameMasks(target.PixelFormat)
                             : std::equal(source.ColorTable.begin(), source.ColorTable.begin() + source.PaletteCount,
                                          target.ColorTable.begin()));
    ColorWriter writer(target);
    for (int j = y0; j < y1; ++j) {
        int sy = StretchSampleIndex(mirrorY ? dh - 1 - j : j, sTop, sh, dh);
        if (sy < 0 || sy >= source.Height) continue;
        const uint8_t* srcRow = RowOf(source, sy);
        uint8_t* dstRow = RowOf(target, top + j);
        for (int i = x0; i < x1; ++i) {
            int sx = columns[size_t(i - x0)];
            if (sx < 0 || sx >= source.Width) continue;
            uint32_t raw = ReadRaw(srcRow, source.BitCount, sx);
            if (!sameLayout) raw = writer.Raw(RawToColor(source, raw));
            if (mode != TCopyMode::cmSrcCopy)
                raw = ApplyCopyMode(mode, raw, ReadRaw(dstRow, target.BitCount, left + i));
            WriteRaw(dstRow, target.BitCount, left + i, raw);
        }
    }
}

}  // namespace

int StretchSampleIndex(int i, int sourceStart, int sourceLength, int targetLength) {
    return sourceStart + int((2 * int64_t(i) + 1) * sourceLength / (2 * int64_t(targetLength)));
}

int NearestColorIndex(const TColorTable& table, int count, TColor color) {
    int best = 0;
    int bestDistance = INT32_MAX;
    for (int i = 0; i < std::min(count, 256); ++i) {
        int dr = table[i].rgbRed - ColorRed(color);
        int dg = table[i].rgbGreen - ColorGreen(color);
        int db = table[i].rgbBlue - ColorBlue(color);
        int distance = dr * dr + dg * dg + db * db;
        if (distance < bestDistance) {
            bestDistance = distance;
            best = i;
            if (distance == 0) break;
        }
    }
    return best;
}

void PutStorePixel(TDIBStore& store, int x, int y, TColor color) {
    ColorWriter writer(store);
    WriteRaw(RowOf(store, y), store.BitCount, x, writer.Raw(color));
}

TColor GetStorePixel(const TDIBStore& store, int x, int y) {
    return RawToColor(store, ReadRaw(RowOf(store, y), store.BitCount, x));
}

TDIBStore& TCanvas::Surface() {
    if (OnChanging) OnChanging();
    if (!surface_ || !surface_->Pixels || surface_->Compressed)
        throw EInvalidOperation("Canvas does not allow drawing");
    return *surface_;
}

TColor TCanvas::GetPixel(int x, int y) {
    TDIBStore& s = Surface();
    if (x < 0 || y < 0 || x >= s.Width || y >= s.Height) return 0xFFFFFFFF;  // CLR_INVALID
    return GetStorePixel(s, x, y);
}

void TCanvas::SetPixel(int x, int y, TColor color) {
    TDIBStore& s = Surface();
    if (x < 0 || y < 0 || x >= s.Width || y >= s.Height) return;
    PutStorePixel(s, x, y, color);
}

void TCanvas::FillRect(const TRect& rect) {
    TDIBStore& s = Surface();
    if (Brush.Style == TBrushStyle::bsClear) return;
    int left = std::max(rect.Left, 0), right = std::min(rect.Right, s.Width);
    int top = std::max(rect.Top, 0), bottom = std::min(rect.Bottom, s.Height);
    if (left >= right || top >= bottom) return;
    uint32_t raw = ColorWriter(s).Raw(Brush.Color);
    for (int y = top; y < bottom; ++y) {
        uint8_t* row = RowOf(s, y);
        if (s.BitCount == 8) {
            std::memset(row + left, int(raw), size_t(right - left));
            continue;
        }
        for (int x = left; x < right; ++x) WriteRaw(row, s.BitCount, x, raw);
    }
}

void TCanvas::MoveTo(int x, int y) { PenPos = {x, y}; }

void TCanvas::PlotPenPixel(TDIBStore& s, int x, int y, bool on) {
    if (x < 0 || y < 0 || x >= s.Width || y >= s.Height) return;
    if (on)
        PutStorePixel(s, x, y, Pen.Color);
    else if (Brush.Style == TBrushStyle::bsSolid)
        PutStorePixel(s, x, y, Brush.Color);
}

void TCanvas::LineTo(int x, int y) {
    TDIBStore& s = Surface();
    TPoint from = PenPos;
    PenPos = {x, y};
    if (Pen.Style == TPenStyle::psClear) return;
    // Bresenham from the pen position, the end point left out; the dot pattern (3 on, 3 off)
    // starts afresh with each line.
    int dx = std::abs(x - from.X), dy = std::abs(y - from.Y);
    int stepX = from.X < x ? 1 : -1, stepY = from.Y < y ? 1 : -1;
    int steps = std::max(dx, dy);
    int px = from.X, py = from.Y;
    int error = (dx > dy ? dx : -dy) / 2;
    for (int i = 0; i < steps; ++i) {
        bool on = Pen.Style == TPenStyle::psSolid || (i % 6) < 3;
        PlotPenPixel(s, px, py, on);
        int e = error;
        if (e > -dx) {
            error -= dy;
            px += stepX;
        }
        if (e < dy) {
            error += dx;
            py += stepY;
        }
    }
}

void TCanvas::CopyRect(const TRect& dest, TCanvas& source, const TRect& sourceRect) {
    TDIBStore& src = source.Surface();
    StretchBlt(dest, src, sourceRect);
}

void TCanvas::StretchBlt(const TRect& dest, TDIBStore& source, const TRect& sourceRect) {
    // Hold the source across the hook: preparing this canvas may drop its last other owner.
    source.Reference();
    try {
        TDIBStore& target = Surface();
        if (&target == &source) {
            // Copying within one picture reads from a snapshot, as the platform does.
            TDIBStore snapshot;
            snapshot.CopyFrom(source, true);
            StretchStore(target, dest, snapshot, sourceRect, CopyMode);
        } else {
            StretchStore(target, dest, source, sourceRect, CopyMode);
        }
    } catch (...) {
        source.Release();
        throw;
    }
    source.Release();
}

void TCanvas::StretchDIBits(const TRect& dest, const TRect& sourceRect, const uint8_t* info, int infoSize,
                            const uint8_t* bits, int bitsSize) {
    TDIBStore& target = Surface();
    TDIBStore view;
    view.Reference();  // a stack object: never released to zero
    if (!info || infoSize < kInfoHeaderSize) return;
    BITMAPINFOHEADER h = BITMAPINFOHEADER::Decode(info);
    int headerSize = int(std::min<uint32_t>(h.biSize, uint32_t(infoSize)));
    if (headerSize < kInfoHeaderSize || h.biWidth <= 0 || h.biHeight == 0 || h.biHeight == INT32_MIN) return;
    int height = h.biHeight < 0 ? -h.biHeight : h.biHeight;
    DIBPixelFormat format = pf888;
    int tableOffset = headerSize;
    if (h.biCompression == BI_BITFIELDS) {
        int masksAt = headerSize >= 52 ? 40 : headerSize;
        if (masksAt + 12 > infoSize) return;
        auto mask = [&](int at) {
            const uint8_t* p = info + at;
            return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
        };
        format = DIBPixelFormat::FromMasks(mask(masksAt), mask(masksAt + 4), mask(masksAt + 8));
        if (headerSize == kInfoHeaderSize) tableOffset += 12;
    } else if (h.biBitCount == 16) {
        format = pf555;
    }
    TColorTable table{};
    int count = h.biBitCount <= 8 ? int(h.biClrUsed ? std::min<uint32_t>(h.biClrUsed, 256) : 1u << h.biBitCount) : 0;
    count = std::max(0, std::min(count, (infoSize - tableOffset) / 4));
    std::memcpy(table.data(), info + tableOffset, size_t(4 * count));
    bool compressed = h.biCompression == BI_RLE8 || h.biCompression == BI_RLE4;
    // The view's masks follow the standard layout of its widths, so the store's own checks
    // accept any 16- or 32-bit layout the block describes.
    view.BitCount = h.biBitCount;
    if (compressed) {
        try {
            view.Allocate(h.biWidth, height, h.biBitCount, pf888, table, true, false);
        } catch (const Exception&) {
            return;
        }
        std::memset(view.Pixels, 0, size_t(view.Size));
        DecodeRLE(bits, bitsSize, h.biCompression, view);
    } else {
        int bc = h.biBitCount;
        if (bc != 1 && bc != 4 && bc != 8 && bc != 16 && bc != 24 && bc != 32) return;
        int64_t rowBytes = DIBRowBytes(h.biWidth, bc);
        if (!bits || rowBytes > bitsSize / height) return;  // divided: rows times height can pass 2^63
        view.Width = h.biWidth;
        view.Height = height;
        view.RowBytes = int(rowBytes);
        view.PixelFormat = format;
        view.ColorTable = table;
        view.PaletteCount = bc <= 8 ? 1 << bc : 0;
        view.Size = int(rowBytes * height);
        view.Pixels = const_cast<uint8_t*>(bits);
        if (h.biHeight > 0) {
            view.TopRow = view.Pixels + (int64_t(height) - 1) * rowBytes;
            view.RowStep = -int(rowBytes);
        } else {
            view.TopRow = view.Pixels;
            view.RowStep = int(rowBytes);
        }
    }
    StretchStore(target, dest, view, sourceRect, CopyMode);
    if (!compressed) {  // the bits are the caller's: let the view go without freeing them
        view.Pixels = nullptr;
        view.TopRow = nullptr;
    }
}

void TCanvas::Draw(int x, int y, TGraphic& graphic) {
    if (graphic.Empty()) return;
    graphic.Draw(*this, Bounds(x, y, graphic.Width(), graphic.Height()));
}

void TCanvas::StretchDraw(const TRect& rect, TGraphic& graphic) {
    if (graphic.Empty()) return;
    graphic.Draw(*this, rect);
}

}  // namespace tilvorn
