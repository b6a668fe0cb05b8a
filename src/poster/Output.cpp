#include "poster/Output.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <deque>
#include <filesystem>
#include <future>
#include <memory>
#include <mutex>
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

// A working image of the given size and depth; 8 bits are grey. It is written over whole, so
// one of a run takes the block of the one before it where that holds it.
void MakeImage(TDIB& image, int width, int height, int depth) {
    if (depth == 8) image.ColorTable = GreyColorTable();
    image.PixelFormat = pf888;
    image.SetSizeInItsBlock(width, height, depth);
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

void CheckStop(const std::atomic<bool>* stop) {
    if (stop && stop->load(std::memory_order_relaxed)) throw EAbort();
}

// Rows between two looks at the stop flag.
constexpr int kStopRows = 64;

// Nearest-neighbour stretch of the region onto the whole fragment; region pixels outside the
// picture stay white.
void CutFragment(const TDIB& picture, const TPageRegion& r, TDIB& fragment, const std::atomic<bool>* stop) {
    const int fw = fragment.Width(), fh = fragment.Height();
    const int64_t rw = r.Right - r.Left, rh = r.Bottom - r.Top;
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
        if (y % kStopRows == 0) CheckStop(stop);
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

// A rectangle of sheet pixels, [X0, X1) × [Y0, Y1), within the sheet.
struct TSheetBox {
    int64_t X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
    bool Holds(int64_t x, int64_t y) const { return x >= X0 && x < X1 && y >= Y0 && y < Y1; }
};

TSheetBox BoxOnSheet(const TDIB& sheet, int64_t x, int64_t y, int64_t width, int64_t height) {
    TSheetBox b;
    b.X0 = std::clamp<int64_t>(x, 0, sheet.Width());
    b.X1 = std::clamp<int64_t>(x + std::max<int64_t>(width, 0), b.X0, sheet.Width());
    b.Y0 = std::clamp<int64_t>(y, 0, sheet.Height());
    b.Y1 = std::clamp<int64_t>(y + std::max<int64_t>(height, 0), b.Y0, sheet.Height());
    return b;
}

// White everywhere but inside keep.
void FillWhiteAround(TDIB& sheet, const TSheetBox& keep) {
    const int bytes = sheet.BitCount() / 8;
    uint8_t* top = sheet.TopRow();
    for (int64_t y = 0; y < sheet.Height(); ++y) {
        uint8_t* row = top + y * sheet.RowStep();
        if (y < keep.Y0 || y >= keep.Y1 || keep.X0 == keep.X1) {
            std::memset(row, 0xFF, size_t(sheet.RowBytes()));
            continue;
        }
        std::memset(row, 0xFF, size_t(keep.X0 * bytes));
        std::memset(row + keep.X1 * bytes, 0xFF, size_t(sheet.RowBytes() - keep.X1 * bytes));
    }
}

// The guide lines where the page window leaves them visible: the pixels the block path
// keeps after its copy covers the window.
void DrawGuideLinesAround(const TSheetLayout& l, const TPageRegion& r, const TSheetBox& window, TDIB& sheet) {
    const TGuideLines lines = GuideLinesOf(l, r);
    const int bytes = sheet.BitCount() / 8;
    uint8_t* top = sheet.TopRow();
    for (int64_t x : lines.Columns) {
        if (x < 0 || x >= sheet.Width()) continue;
        for (int64_t y = 0; y < sheet.Height(); ++y)
            if (!window.Holds(x, y)) PutPixel(top + y * sheet.RowStep(), int(x), bytes, 0, 0, 0);
    }
    for (int64_t y : lines.Rows) {
        if (y < 0 || y >= sheet.Height()) continue;
        uint8_t* row = top + y * sheet.RowStep();
        for (int64_t x = 0; x < sheet.Width(); ++x)
            if (!window.Holds(x, y)) PutPixel(row, int(x), bytes, 0, 0, 0);
    }
}

// The sheet as the block path leaves it, each pixel written once: the poster's part of the page
// window interpolated from the picture, white paper around it, the guide lines outside the
// window. False (nothing drawn) when the window is too large for the filter.
bool ComposeSmoothly(const TSheetLayout& l, const TPageRegion& r, const TDIB& picture, TDIB& sheet,
                     const std::atomic<bool>* stop, TPictureWords* sourceWords) {
    TEnlargeWindow w;
    w.PosterX = r.K;
    w.PosterY = r.I;
    w.SheetX = l.MarginXPx;
    w.SheetY = l.MarginYPx;
    w.Width = std::min<int64_t>(l.PrintWidthPx, int64_t{l.PosterWidthPx} - r.K);
    w.Height = std::min<int64_t>(l.PrintHeightPx, int64_t{l.PosterHeightPx} - r.I);
    w.ScaleX = double(l.ScaleXDen) / l.ScaleXNum;
    w.ScaleY = double(l.ScaleYDen) / l.ScaleYNum;
    if (!EnlargeSmoothly(picture, w, sheet, stop, sourceWords)) return false;
    FillWhiteAround(sheet, picture.Empty() ? TSheetBox{} : BoxOnSheet(sheet, w.SheetX, w.SheetY, w.Width, w.Height));
    DrawGuideLinesAround(l, r, BoxOnSheet(sheet, l.MarginXPx, l.MarginYPx, l.PrintWidthPx, l.PrintHeightPx), sheet);
    return true;
}

}  // namespace

void PrepareForSheets(TDIB& picture) {
    // Taking the rows through the picture unpacks them once, before any pixel is read.
    if (!picture.Image()->TopRow || picture.Image()->Compressed) picture.TopRow();
}

void ComposeSheet(const TSheetLayout& l, TDIB& picture, int64_t page, int colorDepth, TDIB& sheet,
                  const std::function<void(int)>& step, const std::atomic<bool>* stop, TSheetScratch* scratch) {
    auto report = [&](int s) {
        if (step) step(s);
    };
    PrepareForSheets(picture);
    TPageRegion r = RegionOfPage(l, page);
    MakeImage(sheet, l.SheetWidthPx, l.SheetHeightPx, colorDepth);
    if (sheet.Empty()) throw EOutOfResources("The sheet has no pixels");
    if (l.Enlargement == TEnlargement::Smooth &&
        ComposeSmoothly(l, r, picture, sheet, stop, scratch ? &scratch->SourceWords : nullptr)) {
        if (l.Labels) DrawSheetLabels(l, page, sheet);
        for (int s = 1; s <= 3; ++s) report(s);
        return;
    }
    FillWhite(sheet);
    DrawGuideLines(l, r, sheet);
    {
        TDIB ownFragment;
        TDIB& fragment = scratch ? scratch->Fragment : ownFragment;
        MakeImage(fragment, CheckedSize(r.FragmentWidth, "fragment"), CheckedSize(r.FragmentHeight, "fragment"),
                  colorDepth);
        if (!fragment.Empty()) {
            FillWhite(fragment);
            CutFragment(picture, r, fragment, stop);
        }
        report(1);
        if (!fragment.Empty()) {
            // The blur reports its rows; a stop asked for meanwhile ends it there.
            fragment.OnProgress = nullptr;
            if (stop)
                fragment.OnProgress = [stop](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&,
                                             const std::string&) {
                    if (stage == TProgressStage::psRunning) CheckStop(stop);
                };
            fragment.Blur(colorDepth, FragmentBlurRadius(l));
        }
        CheckStop(stop);
        report(2);
        CopyPageWindow(l, r, fragment, sheet);
        if (l.Labels) DrawSheetLabels(l, page, sheet);
        report(3);
    }  // a fragment of its own goes before the sheet is output
}

// ---------------------------------------------------------------------------------------------
// JPEG files

namespace {

// Rows handed to the encoder at a time.
constexpr int kEncodeRows = 16;

// Encodes the sheet into the destination set up by attach; answers false with the message.
// 24- and 32-bit rows go to the encoder as they lie in the sheet (libjpeg-turbo reads the
// blue-green-red order itself); grey rows are widened to three equal components first.
bool Encode(const TDIB& sheet, const std::function<void(j_compress_ptr)>& attach, const std::atomic<bool>* stop,
            std::string& error) {
    const TDIBStore& store = *sheet.Image();
    const int width = store.Width, height = store.Height, bytes = store.BitCount / 8;
    const uint8_t* top = store.TopRow;
    const int64_t step = store.RowStep;
    std::vector<uint8_t> grey(bytes == 1 ? size_t(width) * 3 * kEncodeRows : 0);
    jpeg_compress_struct info;
    TJpegErrorManager e;
    info.err = AttachJpegErrors(e);
    volatile bool stopped = false;  // set between setjmp and a possible longjmp
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
    jpeg_set_defaults(&info);  // the colour space and sampling of an RGB picture
    info.in_color_space = bytes == 4 ? JCS_EXT_BGRX : bytes == 3 ? JCS_EXT_BGR : JCS_RGB;
    info.input_components = bytes == 4 ? 4 : 3;
    jpeg_set_quality(&info, 100, TRUE);
    jpeg_start_compress(&info, TRUE);
    JSAMPROW rows[kEncodeRows];
    while (info.next_scanline < info.image_height) {
        if (stop && stop->load(std::memory_order_relaxed)) {
            stopped = true;
            break;
        }
        const int y = int(info.next_scanline), count = std::min(kEncodeRows, height - y);
        for (int j = 0; j < count; ++j) {
            const uint8_t* in = top + int64_t(y + j) * step;
            if (bytes == 1) {
                uint8_t* out = grey.data() + size_t(j) * size_t(width) * 3;
                for (int x = 0; x < width; ++x, out += 3) out[0] = out[1] = out[2] = in[x];
                rows[j] = grey.data() + size_t(j) * size_t(width) * 3;
            } else {
                rows[j] = const_cast<JSAMPROW>(in);
            }
        }
        jpeg_write_scanlines(&info, rows, JDIMENSION(count));
    }
    if (stopped)
        jpeg_abort_compress(&info);
    else
        jpeg_finish_compress(&info);
    jpeg_destroy_compress(&info);
    if (stopped) throw EAbort();
    return true;
}

void PrepareForEncoding(const TDIB& sheet) {
    if (sheet.Empty()) throw EInvalidGraphicOperation("Cannot encode an empty sheet");
    if (sheet.BitCount() != 8 && sheet.BitCount() != 24 && sheet.BitCount() != 32)
        throw EInvalidGraphicOperation(Format("Cannot encode a sheet of %d bits", sheet.BitCount()));
    if (!sheet.Image()->TopRow || sheet.Image()->Compressed)
        throw EInvalidGraphicOperation("Cannot encode a sheet whose rows are packed");
}

std::string TemporaryNameBeside(const std::string& fileName) {
    static std::mt19937_64 random{std::random_device{}()};
    return Format("%s.%s.part", fileName, std::to_string(random() % 1000000000ULL));
}

// A JPEG destination that grows a vector from a guess of the size, by half each time.
struct TVectorDestination {
    jpeg_destination_mgr manager{};
    TSheetBytes* bytes = nullptr;

    static void Init(j_compress_ptr info) {
        auto* d = reinterpret_cast<TVectorDestination*>(info->dest);
        d->manager.next_output_byte = d->bytes->data();
        d->manager.free_in_buffer = d->bytes->size();
    }
    static boolean Grow(j_compress_ptr info) {
        auto* d = reinterpret_cast<TVectorDestination*>(info->dest);
        const size_t used = d->bytes->size();
        d->bytes->resize(used + used / 2);
        d->manager.next_output_byte = d->bytes->data() + used;
        d->manager.free_in_buffer = d->bytes->size() - used;
        return TRUE;
    }
    static void Term(j_compress_ptr info) {
        auto* d = reinterpret_cast<TVectorDestination*>(info->dest);
        d->bytes->resize(d->bytes->size() - d->manager.free_in_buffer);
    }
};

}  // namespace

TSheetBytes EncodeSheetJpeg(const TDIB& sheet, const std::atomic<bool>* stop) {
    TSheetBytes bytes;
    EncodeSheetJpeg(sheet, bytes, stop);
    return bytes;
}

void EncodeSheetJpeg(const TDIB& sheet, TSheetBytes& bytes, const std::atomic<bool>* stop) {
    PrepareForEncoding(sheet);
    // A sheet of paper and picture takes about a quarter byte a pixel at quality 100; a buffer
    // used before offers all it has.
    bytes.resize(std::max({size_t(sheet.Width()) * size_t(sheet.Height()) / 4, size_t(65536), bytes.capacity()}));
    TVectorDestination destination;
    destination.bytes = &bytes;
    destination.manager.init_destination = TVectorDestination::Init;
    destination.manager.empty_output_buffer = TVectorDestination::Grow;
    destination.manager.term_destination = TVectorDestination::Term;
    std::string error;
    if (!Encode(
            sheet, [&](j_compress_ptr info) { info->dest = &destination.manager; }, stop, error))
        throw EInvalidGraphicOperation(error);
}

void WriteFileBeside(const TSheetBytes& bytes, const std::string& fileName) {
    const std::string temporary = TemporaryNameBeside(fileName);
    const TPartFileScope interruptible(temporary);  // an interrupted run removes it
    FILE* file = std::fopen(temporary.c_str(), "wb");
    if (!file) throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName, std::strerror(errno)));
    std::string error;
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size() && std::fflush(file) == 0;
    if (!ok) error = std::strerror(errno);
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

void WriteSheetJpeg(TDIB& sheet, const std::string& fileName) {
    PrepareForSheets(sheet);
    WriteFileBeside(EncodeSheetJpeg(sheet), fileName);
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

// Sheets in the making or waiting to be output at a time: two cores busy, memory for two sheets.
constexpr size_t kSheetsAtATime = 2;
// A sheet that keeps the run waiting this long lets events through, then at every poll.
constexpr auto kQuietWait = std::chrono::milliseconds(250);
constexpr auto kPoll = std::chrono::milliseconds(50);

// Things a run uses again from sheet to sheet: fresh memory costs the system a page fault and
// a cleared page for every 4 KB of it. Taken and given back on any thread.
template <class T>
class TSpares {
public:
    std::unique_ptr<T> Take() {
        const std::lock_guard<std::mutex> lock(lock_);
        if (spares_.empty()) return std::make_unique<T>();
        std::unique_ptr<T> spare = std::move(spares_.back());
        spares_.pop_back();
        return spare;
    }
    void GiveBack(std::unique_ptr<T> spare) {
        if (!spare) return;
        const std::lock_guard<std::mutex> lock(lock_);
        spares_.push_back(std::move(spare));
    }

private:
    std::mutex lock_;
    std::vector<std::unique_ptr<T>> spares_;
};

// One sheet made on a worker thread: composed and, when saving, encoded (the pixels then go
// back to the spare sheets).
struct TSheetJob {
    int Page = 0;
    std::unique_ptr<TDIB> Sheet;
    std::unique_ptr<TSheetScratch> Scratch;
    std::unique_ptr<TSheetBytes> Jpeg;
    std::atomic<int> Steps{0};  // of the composition, 0..3
    std::future<void> Done;
};

// The sheets of a run in the making, oldest first. Leaving it stops and waits for them all.
class TSheetWorks {
public:
    TSheetWorks(TOutputMode mode, const TSheetLayout& layout, TDIB& picture, int colorDepth)
        : mode_(mode), layout_(layout), picture_(picture), depth_(colorDepth) {}
    ~TSheetWorks() { StopAll(); }
    TSheetWorks(const TSheetWorks&) = delete;
    TSheetWorks& operator=(const TSheetWorks&) = delete;

    void Start(int page) {
        auto job = std::make_unique<TSheetJob>();
        job->Page = page;
        job->Sheet = sheets_.Take();
        job->Scratch = scratches_.Take();
        if (mode_ == TOutputMode::Save) job->Jpeg = jpegs_.Take();
        TSheetJob* j = job.get();
        jobs_.push_back(std::move(job));
        j->Done = std::async(std::launch::async, [this, j] {
            ComposeSheet(
                layout_, picture_, j->Page, depth_, *j->Sheet, [j](int s) { j->Steps = s; }, &stop_, j->Scratch.get());
            scratches_.GiveBack(std::move(j->Scratch));
            if (mode_ == TOutputMode::Save) {
                EncodeSheetJpeg(*j->Sheet, *j->Jpeg, &stop_);
                sheets_.GiveBack(std::move(j->Sheet));
            }
        });
    }
    void GiveBackJpeg(std::unique_ptr<TSheetBytes> jpeg) { jpegs_.GiveBack(std::move(jpeg)); }
    size_t Count() const { return jobs_.size(); }
    TSheetJob& Oldest() { return *jobs_.front(); }
    void DropOldest() {
        TSheetJob& oldest = *jobs_.front();
        sheets_.GiveBack(std::move(oldest.Sheet));
        scratches_.GiveBack(std::move(oldest.Scratch));
        jpegs_.GiveBack(std::move(oldest.Jpeg));
        jobs_.pop_front();
    }
    void StopAll() {
        stop_ = true;
        for (auto& job : jobs_)
            if (job->Done.valid()) job->Done.wait();
        jobs_.clear();
        stop_ = false;
    }

private:
    TOutputMode mode_;
    const TSheetLayout& layout_;
    TDIB& picture_;
    int depth_;
    std::atomic<bool> stop_{false};
    TSpares<TDIB> sheets_;
    TSpares<TSheetScratch> scratches_;
    TSpares<TSheetBytes> jpegs_;
    std::deque<std::unique_ptr<TSheetJob>> jobs_;
};

// Waits for the job, passing its steps on as they are made; false when the host interrupts.
bool AwaitSheet(TSheetJob& job, TOutputHost& host, int64_t& position, int64_t maximum) {
    const auto start = std::chrono::steady_clock::now();
    int reported = 0;
    for (;;) {
        const bool ready = job.Done.wait_for(kPoll) == std::future_status::ready;
        for (const int steps = job.Steps; reported < steps;) {
            host.SheetProgress(++reported);
            host.OverallProgress(++position, maximum);
        }
        if (ready) return true;
        if (std::chrono::steady_clock::now() - start >= kQuietWait && host.Interrupted()) return false;
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
    PrepareForSheets(picture);  // from here on the workers only read the picture
    TSheetWorks works(mode, layout, picture, colorDepth);
    size_t next = 0;
    auto startSheets = [&] {
        while (works.Count() < kSheetsAtATime && next < pages.size()) works.Start(pages[next++]);
    };
    startSheets();
    if (layout.Labels && !pages.empty()) {
        TDIB map;
        ComposeAssemblyMap(layout, picture, pages, colorDepth, map);
        if (mode == TOutputMode::Save) {
            WriteSheetJpeg(map, MapFileName(base));
            host.Saved(MapFileName(base));
        } else {
            PrintSheet(layout, map, kMapJobTitle);
        }
    }
    for (size_t i = 0; i < pages.size(); ++i) {
        const int page = pages[i];
        host.SheetProgress(0);
        if (!AwaitSheet(works.Oldest(), host, position, maximum)) break;
        works.Oldest().Done.get();  // a worker's error ends the run here, after the sheets before it
        bool abort = false;
        if (mode == TOutputMode::Save) {
            // The next sheet starts while this one is written; its buffer goes back after.
            std::unique_ptr<TSheetBytes> jpeg = std::move(works.Oldest().Jpeg);
            works.DropOldest();
            startSheets();
            const std::string fileName = SheetFileName(base, page, layout.Columns);
            WriteFileBeside(*jpeg, fileName);
            works.GiveBackJpeg(std::move(jpeg));
            host.Saved(fileName);
        } else {
            PrintSheet(layout, *works.Oldest().Sheet, PrintJobTitle(page, layout.Columns));
            works.DropOldest();
            if (BatchPromptDue(page, layout.Columns) && batchPrompt) {
                int answer = host.BatchPrompt();
                if (answer == kIdAbort) abort = true;
                if (answer == kIdIgnore) batchPrompt = false;
            }
            if (!abort) startSheets();
        }
        ++done;
        if (abort) break;
        position = int64_t(i + 1) * 3;
        host.OverallProgress(position, maximum);
        if (host.Cancelled()) break;
    }
    works.StopAll();
    host.SheetProgress(0);
    host.OverallProgress(0, maximum);
    return done;
}

}  // namespace tilvorn
