#include "poster/PosterPdf.h"

#include <cairo-pdf.h>
#include <cairo.h>
#include <turbojpeg.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <future>
#include <thread>
#include <memory>
#include <optional>
#include <utility>

#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/PartFile.h"
#include "poster/Marks.h"

namespace tilvorn {

namespace {

constexpr double kPointsPerMm = 72.0 / 25.4;

// ---------------------------------------------------------------------------------------------
// The JPEG file of a JPEG picture, cut losslessly

// A file's bytes; none when it cannot be read.
std::vector<unsigned char> WholeFile(const std::string& fileName) {
    std::vector<unsigned char> bytes;
    FILE* file = std::fopen(fileName.c_str(), "rb");
    if (!file) return bytes;
    if (std::fseek(file, 0, SEEK_END) == 0) {
        const long size = std::ftell(file);
        if (size > 0 && std::fseek(file, 0, SEEK_SET) == 0) {
            bytes.resize(size_t(size));
            if (std::fread(bytes.data(), 1, bytes.size(), file) != bytes.size()) bytes.clear();
        }
    }
    std::fclose(file);
    return bytes;
}

void FreeJpegBuffer(void* data) { tjFree(static_cast<unsigned char*>(data)); }

// One part cut from the file, in TurboJPEG's buffer until cairo takes it.
struct TJpegCut {
    struct Free {
        void operator()(unsigned char* data) const { tjFree(data); }
    };
    std::unique_ptr<unsigned char, Free> Data;
    unsigned long Size = 0;
    bool Empty() const { return !Data || Size == 0; }
};

class TJpegSource {
public:
    // The file's bytes when it holds exactly the picture's pixels and cairo can embed its parts.
    static std::optional<TJpegSource> Open(const TPictureOrigin& origin, TDIB& picture) {
        if (!origin.JpegFile || origin.FileName.empty()) return std::nullopt;
        std::vector<unsigned char> bytes = WholeFile(origin.FileName);
        if (bytes.empty()) return std::nullopt;
        TJpegSource source(std::move(bytes));
        int width = 0, height = 0, subsampling = 0, colorspace = 0;
        if (!source.handle_ ||
            tjDecompressHeader3(source.handle_, source.bytes_.data(), source.bytes_.size(), &width, &height,
                                &subsampling, &colorspace) != 0)
            return std::nullopt;
        // cairo embeds grey and YCbCr files; others (CMYK) go as lossless pixels.
        if (width != picture.Width() || height != picture.Height() || subsampling < 0 ||
            (colorspace != TJCS_YCbCr && colorspace != TJCS_GRAY && colorspace != TJCS_RGB))
            return std::nullopt;
        source.blockWidth_ = tjMCUWidth[subsampling];
        source.blockHeight_ = tjMCUHeight[subsampling];
        return source;
    }
    TJpegSource(TJpegSource&& other) noexcept
        : bytes_(std::move(other.bytes_)),
          handle_(std::exchange(other.handle_, nullptr)),
          blockWidth_(other.blockWidth_),
          blockHeight_(other.blockHeight_) {}
    TJpegSource& operator=(TJpegSource&&) = delete;
    ~TJpegSource() {
        if (handle_) tjDestroy(handle_);
    }

    int BlockWidth() const { return blockWidth_; }
    int BlockHeight() const { return blockHeight_; }

    // Each rectangle's blocks (x and y on block boundaries) as a JPEG file of its own; grey
    // drops the colour. An empty part where the cut failed. Every pass reads the whole file, so
    // with a second core the parts go in two passes at once.
    std::vector<TJpegCut> Cut(const std::vector<tjregion>& parts, bool grey) {
        std::vector<TJpegCut> cuts(parts.size());
        const size_t half = std::thread::hardware_concurrency() > 1 ? parts.size() / 2 : 0;
        std::future<void> first;
        if (half > 0)
            first = std::async(std::launch::async, [&] {
                const tjhandle other = tjInitTransform();
                if (!other) return;
                CutInto(other, parts, grey, 0, half, cuts);
                tjDestroy(other);
            });
        CutInto(handle_, parts, grey, half, parts.size(), cuts);
        if (first.valid()) first.get();
        return cuts;
    }

private:
    explicit TJpegSource(std::vector<unsigned char> bytes) : bytes_(std::move(bytes)), handle_(tjInitTransform()) {}
    // Cuts parts [begin, end) in one pass over the file through handle.
    void CutInto(tjhandle handle, const std::vector<tjregion>& parts, bool grey, size_t begin, size_t end,
                 std::vector<TJpegCut>& cuts) const {
        const size_t count = end - begin;
        if (count == 0) return;
        std::vector<tjtransform> t(count);
        for (size_t i = 0; i < count; ++i) {
            t[i].r = parts[begin + i];
            t[i].op = TJXOP_NONE;
            t[i].options = TJXOPT_CROP | (grey ? TJXOPT_GRAY : 0);
        }
        std::vector<unsigned char*> out(count, nullptr);
        std::vector<unsigned long> sizes(count, 0);
        const bool cut =
            tjTransform(handle, bytes_.data(), bytes_.size(), int(count), out.data(), sizes.data(), t.data(), 0) == 0;
        for (size_t i = 0; i < count; ++i) {
            cuts[begin + i].Data.reset(out[i]);
            cuts[begin + i].Size = cut ? sizes[i] : 0;
        }
    }

    std::vector<unsigned char> bytes_;
    tjhandle handle_ = nullptr;
    int blockWidth_ = 8, blockHeight_ = 8;
};

// ---------------------------------------------------------------------------------------------
// Drawing one page

struct TSurface {
    cairo_surface_t* surface = nullptr;
    TSurface() = default;
    explicit TSurface(cairo_surface_t* s) : surface(s) {}
    TSurface(TSurface&& other) noexcept : surface(std::exchange(other.surface, nullptr)) {}
    TSurface(const TSurface&) = delete;
    TSurface& operator=(const TSurface&) = delete;
    ~TSurface() {
        if (surface) cairo_surface_destroy(surface);
    }
};

// The picture pixels [x0, x1) × [y0, y1) as a cairo image, grey when asked.
cairo_surface_t* PictureSurface(TDIB& picture, int x0, int y0, int x1, int y1, bool grey) {
    cairo_surface_t* surface = cairo_image_surface_create(CAIRO_FORMAT_RGB24, x1 - x0, y1 - y0);
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
        cairo_surface_destroy(surface);
        throw EOutOfResources("Out of memory");
    }
    cairo_surface_flush(surface);
    uint8_t* data = cairo_image_surface_get_data(surface);
    const int stride = cairo_image_surface_get_stride(surface);
    const TDIBStore& store = *picture.Image();
    for (int y = y0; y < y1; ++y) {
        uint32_t* out = reinterpret_cast<uint32_t*>(data + int64_t(y - y0) * stride);
        for (int x = x0; x < x1; ++x) {
            TColor c = GetStorePixel(store, x, y);
            uint32_t r = ColorRed(c), g = ColorGreen(c), b = ColorBlue(c);
            if (grey) r = g = b = (r * 77 + g * 150 + b * 29) >> 8;
            out[x - x0] = r << 16 | g << 8 | b;
        }
    }
    cairo_surface_mark_dirty(surface);
    return surface;
}

// Guide lines one sheet pixel wide over the pixels the raster sheet blackens.
void DrawGuideLines(cairo_t* cr, const TSheetLayout& l, const TPageRegion& r) {
    const TGuideLines lines = GuideLinesOf(l, r);
    cairo_set_source_rgb(cr, 0, 0, 0);
    cairo_set_line_width(cr, 1);
    cairo_set_line_cap(cr, CAIRO_LINE_CAP_BUTT);
    for (int64_t x : lines.Columns) {
        if (x < 0 || x >= l.SheetWidthPx) continue;
        cairo_move_to(cr, double(x) + 0.5, 0);
        cairo_line_to(cr, double(x) + 0.5, l.SheetHeightPx);
    }
    for (int64_t y : lines.Rows) {
        if (y < 0 || y >= l.SheetHeightPx) continue;
        cairo_move_to(cr, 0, double(y) + 0.5);
        cairo_line_to(cr, l.SheetWidthPx, double(y) + 0.5);
    }
    cairo_stroke(cr);
}

// The poster's part of a page window and the picture pixels [x0, x1) × [y0, y1) it shows,
// one more each side for the renderer's interpolation (a JPEG part starting on a block
// boundary; the clip hides the extra blocks).
struct TPicturePart {
    int64_t Width = 0, Height = 0;
    int X0 = 0, Y0 = 0, X1 = 0, Y1 = 0;
    bool Empty() const { return Width <= 0 || Height <= 0; }
};

TPicturePart PictureOfPage(const TSheetLayout& l, const TPageRegion& r, TDIB& picture, int blockWidth,
                           int blockHeight) {
    TPicturePart p;
    p.Width = std::min<int64_t>(l.PrintWidthPx, int64_t{l.PosterWidthPx} - r.K);
    p.Height = std::min<int64_t>(l.PrintHeightPx, int64_t{l.PosterHeightPx} - r.I);
    if (p.Empty()) return p;
    const double sx = double(l.ScaleXDen) / l.ScaleXNum, sy = double(l.ScaleYDen) / l.ScaleYNum;
    p.X0 = int(std::clamp<int64_t>(int64_t(std::floor(r.K * sx)) - 1, 0, picture.Width() - 1));
    p.Y0 = int(std::clamp<int64_t>(int64_t(std::floor(r.I * sy)) - 1, 0, picture.Height() - 1));
    p.X1 = int(std::clamp<int64_t>(int64_t(std::ceil((r.K + p.Width) * sx)) + 1, p.X0 + 1, picture.Width()));
    p.Y1 = int(std::clamp<int64_t>(int64_t(std::ceil((r.I + p.Height) * sy)) + 1, p.Y0 + 1, picture.Height()));
    p.X0 -= p.X0 % blockWidth;
    p.Y0 -= p.Y0 % blockHeight;
    return p;
}

// Zero pixels for the surfaces of JPEG parts, big enough for the largest: cairo embeds an
// attached JPEG file as it is and never reads such a surface's pixels.
struct TBlankPixels {
    std::vector<unsigned char> Bytes;
    int Stride(int width) const { return cairo_format_stride_for_width(CAIRO_FORMAT_RGB24, width); }
    void Fit(int width, int height) { Bytes.resize(std::max(Bytes.size(), size_t(Stride(width)) * size_t(height))); }
};

// The page window from the picture's own pixels at their size on paper; cut holds the
// part's JPEG file when the picture's file is embedded unchanged (cairo then owns it). The
// part's surface goes to kept: freed before the document is finished, cairo would first
// copy its pixels for the pages that refer to it.
void DrawPicturePart(cairo_t* cr, const TSheetLayout& l, const TPageRegion& r, TDIB& picture, const TPicturePart& p,
                     TJpegCut* cut, const TBlankPixels& blank, bool grey, std::vector<TSurface>& kept) {
    // The page window covers the guide lines inside it, as on the raster sheet.
    cairo_rectangle(cr, l.MarginXPx, l.MarginYPx, l.PrintWidthPx, l.PrintHeightPx);
    cairo_set_source_rgb(cr, 1, 1, 1);
    cairo_fill(cr);
    if (p.Empty()) return;
    const int w = p.X1 - p.X0, h = p.Y1 - p.Y0;
    cairo_surface_t* surface = cut && !cut->Empty()
        ? cairo_image_surface_create_for_data(const_cast<unsigned char*>(blank.Bytes.data()), CAIRO_FORMAT_RGB24, w, h,
                                              blank.Stride(w))
        : PictureSurface(picture, p.X0, p.Y0, p.X1, p.Y1, grey);
    kept.emplace_back().surface = surface;
    if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) throw EOutOfResources("Out of memory");
    if (cut && !cut->Empty()) {
        unsigned char* data = cut->Data.get();
        if (cairo_surface_set_mime_data(surface, CAIRO_MIME_TYPE_JPEG, data, cut->Size, FreeJpegBuffer, data) !=
            CAIRO_STATUS_SUCCESS)
            throw EOutOfResources("Out of memory");
        cut->Data.release();  // cairo frees it with the surface
    }
    cairo_save(cr);
    cairo_rectangle(cr, l.MarginXPx, l.MarginYPx, double(p.Width), double(p.Height));
    cairo_clip(cr);
    // Picture pixel u lies at sheet x = MarginX − K + u · num / den.
    cairo_translate(cr, double(l.MarginXPx) - double(r.K), double(l.MarginYPx) - double(r.I));
    cairo_scale(cr, double(l.ScaleXNum) / l.ScaleXDen, double(l.ScaleYNum) / l.ScaleYDen);
    cairo_set_source_surface(cr, surface, p.X0, p.Y0);
    // The smooth enlargement asks the renderer to interpolate; blocks show the pixels as squares.
    cairo_pattern_set_filter(cairo_get_source(cr),
                             l.Enlargement == TEnlargement::Smooth ? CAIRO_FILTER_GOOD : CAIRO_FILTER_NEAREST);
    cairo_paint(cr);
    cairo_restore(cr);
}

// ---------------------------------------------------------------------------------------------
// The file

struct TFileSink {
    FILE* file = nullptr;
    int error = 0;
};

cairo_status_t WriteToSink(void* closure, const unsigned char* data, unsigned int length) {
    auto* sink = static_cast<TFileSink*>(closure);
    if (sink->error) return CAIRO_STATUS_WRITE_ERROR;
    if (std::fwrite(data, 1, length, sink->file) != length) {
        sink->error = errno ? errno : EIO;
        return CAIRO_STATUS_WRITE_ERROR;
    }
    return CAIRO_STATUS_SUCCESS;
}

std::string TemporaryPdfName(const std::string& fileName) { return fileName + ".part"; }

bool PageInPoster(const TSheetLayout& l, const TPageRegion& r) {
    return r.K < l.PosterWidthPx && r.I < l.PosterHeightPx;
}

}  // namespace

std::string PosterPdfTitle(const TPictureOrigin& origin) {
    const std::string name = std::filesystem::path(origin.FileName).filename().string();
    return name.empty() ? "poster" : name + " poster";
}

int64_t WritePosterPdf(const TSheetLayout& l, TDIB& picture, const TPictureOrigin& origin,
                       const std::vector<int>& pages, int colorDepth, const std::string& fileName, TOutputHost& host) {
    if (l.PxPerMmX <= 0 || l.PxPerMmY <= 0) throw EInvalidOperation("The sheet has no resolution");
    const double pageWidth = l.SheetWidthPx / l.PxPerMmX * kPointsPerMm;
    const double pageHeight = l.SheetHeightPx / l.PxPerMmY * kPointsPerMm;
    const bool grey = colorDepth == 8;
    std::optional<TJpegSource> jpeg = TJpegSource::Open(origin, picture);
    // Every page's part of the picture, the JPEG parts cut up front in one pass.
    std::vector<int> shown;
    std::vector<TPicturePart> parts;
    std::vector<tjregion> cutRegions;
    std::vector<size_t> cutOf;
    for (int page : pages) {
        const TPageRegion r = RegionOfPage(l, page);
        if (!PageInPoster(l, r)) continue;
        shown.push_back(page);
        parts.push_back(PictureOfPage(l, r, picture, jpeg ? jpeg->BlockWidth() : 1, jpeg ? jpeg->BlockHeight() : 1));
        const TPicturePart& p = parts.back();
        cutOf.push_back(cutRegions.size());
        if (jpeg && !p.Empty())
            cutRegions.push_back({p.X0, p.Y0, p.X1 - p.X0, p.Y1 - p.Y0});
        else
            cutOf.back() = SIZE_MAX;
    }
    std::vector<TJpegCut> cuts = jpeg ? jpeg->Cut(cutRegions, grey) : std::vector<TJpegCut>{};
    TBlankPixels blank;
    for (size_t i = 0; i < parts.size(); ++i)
        if (cutOf[i] != SIZE_MAX && !cuts[cutOf[i]].Empty())
            blank.Fit(parts[i].X1 - parts[i].X0, parts[i].Y1 - parts[i].Y0);
    std::vector<TSurface> kept;  // the pages' parts, until the document is finished

    const std::string temporary = TemporaryPdfName(fileName);
    const TPartFileScope interruptible(temporary);  // an interrupted run removes it
    TFileSink sink;
    sink.file = std::fopen(temporary.c_str(), "wb");
    if (!sink.file) throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName, std::strerror(errno)));
    auto discard = [&] {
        if (sink.file) std::fclose(sink.file);
        sink.file = nullptr;
        std::error_code ignored;
        std::filesystem::remove(temporary, ignored);
    };

    TSurface pdf{cairo_pdf_surface_create_for_stream(WriteToSink, &sink, pageWidth, pageHeight)};
    cairo_pdf_surface_set_metadata(pdf.surface, CAIRO_PDF_METADATA_TITLE, PosterPdfTitle(origin).c_str());
    cairo_pdf_surface_set_metadata(pdf.surface, CAIRO_PDF_METADATA_CREATOR, "Tilvorn 2.16");
    cairo_t* cr = cairo_create(pdf.surface);
    const int64_t maximum = int64_t(shown.size()) * 3;
    int64_t done = 0;
    bool cancelled = false;
    try {
        host.OverallProgress(0, maximum);
        if (l.Labels && !shown.empty()) {  // the assembly map is the first page
            cairo_save(cr);
            cairo_scale(cr, pageWidth / l.SheetWidthPx, pageHeight / l.SheetHeightPx);
            DrawAssemblyMap(cr, l, picture, shown, grey);
            cairo_restore(cr);
            cairo_show_page(cr);
        }
        for (size_t i = 0; i < shown.size() && !cancelled; ++i) {
            const TPageRegion r = RegionOfPage(l, shown[i]);
            host.SheetProgress(0);
            cairo_save(cr);
            cairo_scale(cr, pageWidth / l.SheetWidthPx, pageHeight / l.SheetHeightPx);  // sheet pixels
            DrawGuideLines(cr, l, r);
            host.SheetProgress(1);
            DrawPicturePart(cr, l, r, picture, parts[i], cutOf[i] == SIZE_MAX ? nullptr : &cuts[cutOf[i]], blank, grey,
                            kept);
            if (l.Labels) DrawLabels(cr, SheetLabelsOf(l, shown[i]));
            host.SheetProgress(2);
            cairo_restore(cr);
            cairo_show_page(cr);
            host.SheetProgress(3);
            if (cairo_status(cr) != CAIRO_STATUS_SUCCESS) break;
            ++done;
            host.OverallProgress(int64_t(i + 1) * 3, maximum);
            cancelled = host.Cancelled();
        }
    } catch (...) {
        cairo_destroy(cr);
        cairo_surface_finish(pdf.surface);
        discard();
        throw;
    }
    const cairo_status_t drawn = cairo_status(cr);
    cairo_destroy(cr);
    cairo_surface_finish(pdf.surface);
    const cairo_status_t status = drawn != CAIRO_STATUS_SUCCESS ? drawn : cairo_surface_status(pdf.surface);
    host.SheetProgress(0);
    host.OverallProgress(0, maximum);
    if (cancelled) {
        discard();
        return 0;
    }
    if (status == CAIRO_STATUS_SUCCESS && std::fflush(sink.file) != 0) sink.error = errno;
    if (std::fclose(sink.file) != 0 && !sink.error) sink.error = errno;
    sink.file = nullptr;
    if (sink.error || status != CAIRO_STATUS_SUCCESS) {
        discard();
        const std::string reason = sink.error ? std::strerror(sink.error) : cairo_status_to_string(status);
        throw EWriteError(Format("Cannot write file \"%s\". %s", fileName, reason));
    }
    std::error_code renamed;
    std::filesystem::rename(temporary, fileName, renamed);
    if (renamed) {
        discard();
        throw EFCreateError(Format("Cannot create file \"%s\". %s", fileName, renamed.message()));
    }
    return done;
}

}  // namespace tilvorn
