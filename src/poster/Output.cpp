#include "poster/Output.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <random>

#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/PartFile.h"
#include "platform/Printer.h"
#include "poster/Marks.h"
#include "readers/JpegErrors.h"

namespace tilvorn {

TSheetLayout SheetLayoutOf(const TSheetGeometry& sheet, const TLayout& layout) {
    TSheetLayout s;
    s.SheetWidthPx = sheet.SheetWidthPx;
    s.SheetHeightPx = sheet.SheetHeightPx;
    s.MarginXPx = layout.Conversion.MarginXPx;
    s.MarginYPx = layout.Conversion.MarginYPx;
    s.OverlapXPx = layout.Conversion.OverlapXPx;
    s.OverlapYPx = layout.Conversion.OverlapYPx;
    s.PrintWidthPx = layout.Conversion.PrintWidthPx;
    s.PrintHeightPx = layout.Conversion.PrintHeightPx;
    s.PosterWidthPx = layout.Poster.PosterWidthPx;
    s.PosterHeightPx = layout.Poster.PosterHeightPx;
    s.ScaleXNum = layout.Scale.ScaleXNum;
    s.ScaleXDen = layout.Scale.ScaleXDen;
    s.ScaleYNum = layout.Scale.ScaleYNum;
    s.ScaleYDen = layout.Scale.ScaleYDen;
    s.OffsetLeftPx = sheet.OffsetLeftPx;
    s.OffsetTopPx = sheet.OffsetTopPx;
    s.Columns = layout.Counts.Columns;
    s.PxPerMmX = sheet.PxPerMmX;
    s.PxPerMmY = sheet.PxPerMmY;
    return s;
}

TPagePlace PlaceOfPage(int64_t page, int64_t columns) {
    if (columns == 0) throw EDivByZero("Division by zero");
    return {(page - 1) % columns, (page - 1) / columns};
}

std::string SheetFileName(const std::string& base, int64_t page, int64_t columns) {
    TPagePlace place = PlaceOfPage(page, columns);
    return base + "(" + std::to_string(place.Column + 1) + ";" + std::to_string(place.Row + 1) + ").JPG";
}

std::string PrintJobTitle(int64_t page, int64_t columns) {
    TPagePlace place = PlaceOfPage(page, columns);
    return "(" + std::to_string(place.Row + 1) + ";" + std::to_string(place.Column + 1) + ")";
}

bool BatchPromptDue(int64_t page, int64_t columns) {
    TPagePlace place = PlaceOfPage(page, columns);
    return (columns * place.Row + place.Column + 1) % 5 == 0;
}

TPageRegion RegionOfPage(const TSheetLayout& l, int64_t page) {
    if (l.ScaleXNum == 0 || l.ScaleYNum == 0 || l.ScaleXDen == 0 || l.ScaleYDen == 0)
        throw EDivByZero("Division by zero");
    TPagePlace place = PlaceOfPage(page, l.Columns);
    TPageRegion r;
    r.K = (int64_t{l.PrintWidthPx} - l.OverlapXPx) * place.Column;
    r.I = (int64_t{l.PrintHeightPx} - l.OverlapYPx) * place.Row;
    r.Left = r.K * l.ScaleXDen / l.ScaleXNum - 1;
    r.Right = (r.K + l.PrintWidthPx) * l.ScaleXDen / l.ScaleXNum + 2;
    r.Top = r.I * l.ScaleYDen / l.ScaleYNum - 1;
    r.Bottom = (r.I + l.PrintHeightPx) * l.ScaleYDen / l.ScaleYNum + 2;
    r.FragmentWidth = (r.Right - r.Left) * l.ScaleXNum / l.ScaleXDen;
    r.FragmentHeight = (r.Bottom - r.Top) * l.ScaleYNum / l.ScaleYDen;
    r.WindowX = r.K - l.ScaleXNum * r.Left / l.ScaleXDen;
    r.WindowY = r.I - l.ScaleYNum * r.Top / l.ScaleYDen;
    return r;
}

TGuideLines GuideLinesOf(const TSheetLayout& l, const TPageRegion& r) {
    const int64_t w = l.SheetWidthPx, h = l.SheetHeightPx;
    TGuideLines lines;
    lines.Columns = {l.MarginXPx, w - l.MarginXPx, int64_t{l.MarginXPx} + l.OverlapXPx, w - l.MarginXPx - l.OverlapXPx};
    lines.Rows = {h - l.MarginYPx, l.MarginYPx, int64_t{l.MarginYPx} + l.OverlapYPx, h - l.MarginYPx - l.OverlapYPx};
    // Where the poster ends on this sheet.
    if (l.PrintWidthPx + r.K > l.PosterWidthPx) lines.Columns.push_back(l.MarginXPx + l.PosterWidthPx - r.K);
    if (l.PrintHeightPx + r.I > l.PosterHeightPx) lines.Rows.push_back(l.MarginYPx + l.PosterHeightPx - r.I);
    return lines;
}

int FragmentBlurRadius(const TSheetLayout& l) {
    return std::min(l.ScaleXNum / l.ScaleXDen, l.ScaleYNum / l.ScaleYDen) / 2;
}

namespace {

int CheckedSize(int64_t value, const char* what) {
    if (value > INT32_MAX) throw EOutOfResources(Format("The %s is too large (%d pixels)", what, value));
    return int(std::max<int64_t>(value, 0));
}

// A working image of the given size and depth; 8 bits are grey.
void MakeImage(TDIB& image, int width, int height, int depth) {
    if (depth == 8) image.ColorTable = GreyColorTable();
    image.PixelFormat = pf888;
    image.SetSize(width, height, depth);
}

void FillWhite(TDIB& image) {
    uint8_t* top = image.TopRow();
    for (int y = 0; y < image.Height(); ++y)
        std::memset(top + int64_t(y) * image.RowStep(), 0xFF, size_t(image.RowBytes()));
}

inline void PutPixel(uint8_t* row, int x, int bytes, uint8_t r, uint8_t g, uint8_t b) {
    if (bytes == 1) {
        row[x] = uint8_t((r * 77 + g * 150 + b * 29) >> 8);
        return;
    }
    uint8_t* p = row + int64_t(x) * bytes;
    p[0] = b;
    p[1] = g;
    p[2] = r;
    if (bytes == 4) p[3] = 0;
}

// A one-pixel black line across the sheet, as a pen line that leaves out its end point:
// vertical ones cover every row, horizontal ones every column.
void VerticalLine(TDIB& sheet, int64_t x) {
    if (x < 0 || x >= sheet.Width()) return;
    const int bytes = sheet.BitCount() / 8;
    uint8_t* top = sheet.TopRow();
    for (int y = 0; y < sheet.Height(); ++y) PutPixel(top + int64_t(y) * sheet.RowStep(), int(x), bytes, 0, 0, 0);
}

void HorizontalLine(TDIB& sheet, int64_t y) {
    if (y < 0 || y >= sheet.Height()) return;
    const int bytes = sheet.BitCount() / 8;
    uint8_t* row = sheet.TopRow() + y * sheet.RowStep();
    for (int x = 0; x < sheet.Width(); ++x) PutPixel(row, x, bytes, 0, 0, 0);
}

void DrawGuideLines(const TSheetLayout& l, const TPageRegion& r, TDIB& sheet) {
    const TGuideLines lines = GuideLinesOf(l, r);
    for (int64_t x : lines.Columns) VerticalLine(sheet, x);
    for (int64_t y : lines.Rows) HorizontalLine(sheet, y);
}

// Nearest-neighbour stretch of the region onto the whole fragment; region pixels outside the
// picture stay white.
void CutFragment(TDIB& picture, const TPageRegion& r, TDIB& fragment) {
    const int fw = fragment.Width(), fh = fragment.Height();
    const int64_t rw = r.Right - r.Left, rh = r.Bottom - r.Top;
    // A bitmap read from a file may still hold its rows packed (RLE) or not yet unpacked:
    // taking the rows through the picture unpacks them once, before any pixel is read.
    if (!picture.Image()->TopRow || picture.Image()->Compressed) picture.TopRow();
    const TDIBStore& source = *picture.Image();
    const bool fast = source.BitCount == 24 && !source.Compressed && source.TopRow;
    std::vector<int> columns(static_cast<size_t>(fw));
    for (int x = 0; x < fw; ++x) {
        int64_t sx = r.Left + int64_t(x) * rw / fw;
        columns[size_t(x)] = sx >= 0 && sx < source.Width ? int(sx) : -1;
    }
    const int bytes = fragment.BitCount() / 8;
    uint8_t* top = fragment.TopRow();
    for (int y = 0; y < fh; ++y) {
        const int64_t sy = r.Top + int64_t(y) * rh / fh;
        if (sy < 0 || sy >= source.Height) continue;
        uint8_t* out = top + int64_t(y) * fragment.RowStep();
        const uint8_t* in = fast ? source.TopRow + sy * source.RowStep : nullptr;
        for (int x = 0; x < fw; ++x) {
            const int sx = columns[size_t(x)];
            if (sx < 0) continue;
            if (fast) {
                const uint8_t* p = in + int64_t(sx) * 3;
                PutPixel(out, x, bytes, p[2], p[1], p[0]);
            } else {
                TColor c = GetStorePixel(source, sx, int(sy));
                PutPixel(out, x, bytes, ColorRed(c), ColorGreen(c), ColorBlue(c));
            }
        }
    }
}

// The page window of the fragment onto the sheet's page window, byte for byte.
void CopyPageWindow(const TSheetLayout& l, const TPageRegion& r, TDIB& fragment, TDIB& sheet) {
    if (fragment.Empty()) return;
    const int bytes = sheet.BitCount() / 8;
    int64_t fx = r.WindowX, fy = r.WindowY, sx = l.MarginXPx, sy = l.MarginYPx;
    int64_t w = l.PrintWidthPx, h = l.PrintHeightPx;
    // Clip to both images.
    auto clip = [](int64_t& from, int64_t& to, int64_t& length, int64_t fromSize, int64_t toSize) {
        int64_t skip = std::max<int64_t>({0, -from, -to});
        from += skip;
        to += skip;
        length -= skip;
        length = std::min({length, fromSize - from, toSize - to});
    };
    clip(fx, sx, w, fragment.Width(), sheet.Width());
    clip(fy, sy, h, fragment.Height(), sheet.Height());
    if (w <= 0 || h <= 0) return;
    const uint8_t* from = fragment.TopRow();
    uint8_t* to = sheet.TopRow();
    for (int64_t y = 0; y < h; ++y)
        std::memcpy(to + (sy + y) * sheet.RowStep() + sx * bytes, from + (fy + y) * fragment.RowStep() + fx * bytes,
                    size_t(w * bytes));
}

// The page window as the block path leaves it: white, covering the guide lines inside it,
// then the poster's part of it interpolated from the picture.
bool DrawPageWindowSmoothly(const TSheetLayout& l, const TPageRegion& r, TDIB& picture, TDIB& sheet) {
    TEnlargeWindow w;
    w.PosterX = r.K;
    w.PosterY = r.I;
    w.SheetX = l.MarginXPx;
    w.SheetY = l.MarginYPx;
    w.Width = std::min<int64_t>(l.PrintWidthPx, int64_t{l.PosterWidthPx} - r.K);
    w.Height = std::min<int64_t>(l.PrintHeightPx, int64_t{l.PosterHeightPx} - r.I);
    w.ScaleX = double(l.ScaleXDen) / l.ScaleXNum;
    w.ScaleY = double(l.ScaleYDen) / l.ScaleYNum;
    const int bytes = sheet.BitCount() / 8;
    const int64_t x0 = std::clamp<int64_t>(l.MarginXPx, 0, sheet.Width());
    const int64_t x1 = std::clamp<int64_t>(int64_t{l.MarginXPx} + l.PrintWidthPx, x0, sheet.Width());
    const int64_t y0 = std::clamp<int64_t>(l.MarginYPx, 0, sheet.Height());
    const int64_t y1 = std::clamp<int64_t>(int64_t{l.MarginYPx} + l.PrintHeightPx, y0, sheet.Height());
    for (int64_t y = y0; y < y1; ++y)
        std::memset(sheet.TopRow() + y * sheet.RowStep() + x0 * bytes, 0xFF, size_t((x1 - x0) * bytes));
    return EnlargeSmoothly(picture, w, sheet);
}

}  // namespace

void ComposeSheet(const TSheetLayout& l, TDIB& picture, int64_t page, int colorDepth, TDIB& sheet,
                  const std::function<void(int)>& step) {
    auto report = [&](int s) {
        if (step) step(s);
    };
    TPageRegion r = RegionOfPage(l, page);
    MakeImage(sheet, l.SheetWidthPx, l.SheetHeightPx, colorDepth);
    if (sheet.Empty()) throw EOutOfResources("The sheet has no pixels");
    FillWhite(sheet);
    DrawGuideLines(l, r, sheet);
    if (l.Enlargement == TEnlargement::Smooth && DrawPageWindowSmoothly(l, r, picture, sheet)) {
        if (l.Labels) DrawSheetLabels(l, page, sheet);
        for (int s = 1; s <= 3; ++s) report(s);
        return;
    }
    {
        TDIB fragment;
        MakeImage(fragment, CheckedSize(r.FragmentWidth, "fragment"), CheckedSize(r.FragmentHeight, "fragment"),
                  colorDepth);
        if (!fragment.Empty()) {
            FillWhite(fragment);
            CutFragment(picture, r, fragment);
        }
        report(1);
        if (!fragment.Empty()) fragment.Blur(colorDepth, FragmentBlurRadius(l));
        report(2);
        CopyPageWindow(l, r, fragment, sheet);
        if (l.Labels) DrawSheetLabels(l, page, sheet);
        report(3);
    }  // the fragment goes before the sheet is output
}

// ---------------------------------------------------------------------------------------------
// JPEG files

namespace {

// Encodes the sheet into the destination set up by attach; answers false with the message.
bool Encode(TDIB& sheet, const std::function<void(j_compress_ptr)>& attach, std::string& error) {
    const int width = sheet.Width(), height = sheet.Height(), bytes = sheet.BitCount() / 8;
    std::vector<uint8_t> row(size_t(width) * 3);
    const uint8_t* top = sheet.TopRow();
    const int step = sheet.RowStep();
    jpeg_compress_struct info;
    TJpegErrorManager e;
    info.err = AttachJpegErrors(e);
    if (setjmp(e.Escape)) {
        jpeg_destroy_compress(&info);
        error = e.Message;
        return false;
    }
    jpeg_create_compress(&info);
    attach(&info);
    info.image_width = JDIMENSION(width);
    info.image_height = JDIMENSION(height);
    info.input_components = 3;
    info.in_color_space = JCS_RGB;
    jpeg_set_defaults(&info);
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    while (info.next_scanline < info.image_height) {
        const uint8_t* in = top + int64_t(info.next_scanline) * step;
        uint8_t* out = row.data();
        if (bytes == 1) {
            for (int x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = in[x];
        } else {
            for (int x = 0; x < width; ++x, in += bytes, out += 3) {
                out[0] = in[2];
                out[1] = in[1];
                out[2] = in[0];
            }
        }
        JSAMPROW rows[1] = {row.data()};
        jpeg_write_scanlines(&info, rows, 1);
    }
    jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    return true;
}

void PrepareForEncoding(TDIB& sheet) {
    if (sheet.Empty()) throw EInvalidGraphicOperation("Cannot encode an empty sheet");
    if (sheet.BitCount() != 8 && sheet.BitCount() != 24 && sheet.BitCount() != 32)
        throw EInvalidGraphicOperation(Format("Cannot encode a sheet of %d bits", sheet.BitCount()));
}

std::string TemporaryNameBeside(const std::string& fileName) {
    static std::mt19937_64 random{std::random_device{}()};
    return Format("%s.%s.part", fileName, std::to_string(random() % 1000000000ULL));
}

}  // namespace

std::vector<uint8_t> EncodeSheetJpeg(TDIB& sheet) {
    PrepareForEncoding(sheet);
    unsigned char* buffer = nullptr;
    unsigned long size = 0;
    std::string error;
    bool ok = Encode(
        sheet, [&](j_compress_ptr info) { jpeg_mem_dest(info, &buffer, &size); }, error);
    std::vector<uint8_t> bytes;
    if (ok) bytes.assign(buffer, buffer + size);
    std::free(buffer);
    if (!ok) throw EInvalidGraphicOperation(error);
    return bytes;
}

void WriteSheetJpeg(TDIB& sheet, const std::string& fileName) {
    PrepareForEncoding(sheet);
    const std::string temporary = TemporaryNameBeside(fileName);
    const TPartFileScope interruptible(temporary);  // an interrupted run removes it
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName, std::strerror(errno)));
    std::string error;
    bool ok = Encode(
        sheet, [&](j_compress_ptr info) { jpeg_stdio_dest(info, file); }, error);
    if (ok && std::fflush(file) != 0) {
        ok = false;
        error = std::strerror(errno);
    }
    if (std::fclose(file) != 0 && ok) {
        ok = false;
        error = std::strerror(errno);
    }
    std::error_code ignored;
    if (!ok) {
        std::filesystem::remove(temporary, ignored);
        throw EWriteError(Format("Cannot write file \"%s\". %s", fileName, error));
    }
    std::error_code renamed;
    std::filesystem::rename(temporary, fileName, renamed);
    if (renamed) {
        std::filesystem::remove(temporary, ignored);
        throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName, renamed.message()));
    }
}

// ---------------------------------------------------------------------------------------------
// The run

namespace {

void PrintSheet(const TSheetLayout& l, TDIB& sheet, const std::string& title) {
    platform::TPrinter& printer = platform::Printer();
    printer.SetTitle(title);
    printer.BeginDoc();
    try {
        // One dot beyond the paper's physical corner on each axis.
        printer.Draw(-l.OffsetLeftPx - 1, -l.OffsetTopPx - 1, sheet);
        printer.EndDoc();
    } catch (...) {
        printer.Abort();
        throw;
    }
}

}  // namespace

int64_t RunOutput(TOutputMode mode, const TSheetLayout& layout, TDIB& picture, const std::vector<int>& pages,
                  int colorDepth, const std::string& base, TOutputHost& host) {
    const int64_t maximum = int64_t(pages.size()) * 3;
    int64_t position = 0;
    host.OverallProgress(position, maximum);
    bool batchPrompt = true;
    int64_t done = 0;
    TDIB sheet;
    if (layout.Labels && !pages.empty()) {
        ComposeAssemblyMap(layout, picture, pages, colorDepth, sheet);
        if (mode == TOutputMode::Save) {
            WriteSheetJpeg(sheet, MapFileName(base));
            host.Saved(MapFileName(base));
        } else {
            PrintSheet(layout, sheet, kMapJobTitle);
        }
    }
    for (size_t i = 0; i < pages.size(); ++i) {
        const int page = pages[i];
        host.SheetProgress(0);
        ComposeSheet(layout, picture, page, colorDepth, sheet, [&](int s) {
            host.SheetProgress(s);
            host.OverallProgress(++position, maximum);
        });
        bool abort = false;
        if (mode == TOutputMode::Save) {
            const std::string fileName = SheetFileName(base, page, layout.Columns);
            WriteSheetJpeg(sheet, fileName);
            host.Saved(fileName);
        } else {
            PrintSheet(layout, sheet, PrintJobTitle(page, layout.Columns));
            if (BatchPromptDue(page, layout.Columns) && batchPrompt) {
                int answer = host.BatchPrompt();
                if (answer == kIdAbort) abort = true;
                if (answer == kIdIgnore) batchPrompt = false;
            }
        }
        ++done;
        if (abort) break;
        position = int64_t(i + 1) * 3;
        host.OverallProgress(position, maximum);
        if (host.Cancelled()) break;
    }
    host.SheetProgress(0);
    host.OverallProgress(0, maximum);
    return done;
}

}  // namespace tilvorn
