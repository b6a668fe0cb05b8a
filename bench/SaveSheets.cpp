// Saving every sheet of a 4 × 3 poster at A4 300 DPI from a 3000 × 2000 picture (both
// enlargements, on both cores and on one), next to the time libjpeg-turbo alone needs to encode
// the same twelve sheets on one core and to one PDF of them; composing a 1200-DPI A4 sheet; and
// the preview rebuild of a 6000 × 4000 picture, fresh and kept.
#include <benchmark/benchmark.h>

#include <sched.h>
#include <turbojpeg.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>

#include "poster/Geometry.h"
#include "poster/Output.h"
#include "poster/PosterPdf.h"
#include "poster/Preview.h"
#include "readers/JpegFile.h"
#include "image/DIB.h"

namespace tilvorn {
namespace {

std::unique_ptr<TDIB> Picture(int width, int height) {
    auto picture = std::make_unique<TDIB>();
    picture->SetSize(width, height, 24);
    uint32_t seed = 12345;
    for (int y = 0; y < height; ++y) {
        uint8_t* row = picture->ScanLine(y);
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            row[x * 3] = uint8_t(x * 255 / width + (seed >> 29));
            row[x * 3 + 1] = uint8_t(y * 255 / height + (seed >> 28 & 7));
            row[x * 3 + 2] = uint8_t((x + y) % 256);
        }
    }
    return picture;
}

TSheetLayout PosterOf(TDIB& picture) {
    TSheetGeometry sheet = SheetFromPaper(210, 297, PxPerMmFromDpi(300));
    TMarginsAndOverlaps lengths;
    TSheetConversion conversion = ConvertSheet(sheet, lengths);
    TPosterSize size;
    size.NewWidth = int(3.5 * (conversion.UsableWidthMm - lengths.OverlapXMm));
    size.NewHeight = FollowProportion(size.NewWidth, picture.Width(), picture.Height());
    TLayout layout = ComputeLayout(sheet, lengths, size, picture.Width(), picture.Height());
    return SheetLayoutOf(sheet, layout);
}

// The process's peak resident memory since the last ResetPeak (Linux's VmHWM).
double PeakMegabytes() {
    std::ifstream status("/proc/self/status");
    for (std::string line; std::getline(status, line);)
        if (line.rfind("VmHWM:", 0) == 0) return std::stod(line.substr(6)) / 1024.0;
    return 0;
}
void ResetPeak() { std::ofstream("/proc/self/clear_refs") << "5"; }

// Argument 0: the smooth enlargement, 1: blocks.
TEnlargement EnlargementOf(const benchmark::State& state) {
    return state.range(0) == 0 ? TEnlargement::Smooth : TEnlargement::Blocks;
}

// Keeps the calling thread, and the threads it starts, on the first core for a scope.
class TOneCore {
public:
    explicit TOneCore(bool on) : on_(on) {
        if (!on_) return;
        sched_getaffinity(0, sizeof saved_, &saved_);
        cpu_set_t one;
        CPU_ZERO(&one);
        CPU_SET(0, &one);
        sched_setaffinity(0, sizeof one, &one);
    }
    ~TOneCore() {
        if (on_) sched_setaffinity(0, sizeof saved_, &saved_);
    }

private:
    bool on_;
    cpu_set_t saved_{};
};

// Arguments: the enlargement (0 smooth, 1 blocks); 1 to keep the run on one core. Its peak
// memory counts what the run adds to the picture.
void BM_SaveTwelveSheets(benchmark::State& state) {
    auto picture = Picture(3000, 2000);
    TSheetLayout layout = PosterOf(*picture);
    layout.Enlargement = EnlargementOf(state);
    std::vector<int> pages;
    for (int p = 1; p <= layout.Columns * 3; ++p) pages.push_back(p);
    std::string dir = (std::filesystem::temp_directory_path() / "tilvorn-bench-sheets").string();
    std::filesystem::create_directories(dir);
    TOutputHost host;
    const TOneCore oneCore(state.range(1) == 1);
    ResetPeak();
    const double before = PeakMegabytes();
    for (auto _ : state) RunOutput(TOutputMode::Save, layout, *picture, pages, 24, dir + "/s", host);
    state.counters["sheets"] = double(pages.size());
    state.counters["columns"] = double(layout.Columns);
    state.counters["run_peak_MB"] = PeakMegabytes() - before;
    state.counters["sheet_MB"] = double(layout.SheetWidthPx) * layout.SheetHeightPx * 3 / 1048576.0;
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SaveTwelveSheets)
    ->Args({0, 0})
    ->Args({1, 0})
    ->Args({0, 1})
    ->Args({1, 1})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(2)
    ->MeasureProcessCPUTime()
    ->UseRealTime();

// The same poster as one PDF, the picture a JPEG file (each page embeds its part of the file).
void BM_PdfOfTheTwelveSheets(benchmark::State& state) {
    auto picture = Picture(3000, 2000);
    TSheetLayout layout = PosterOf(*picture);
    std::vector<int> pages;
    for (int p = 1; p <= layout.Columns * 3; ++p) pages.push_back(p);
    std::string dir = (std::filesystem::temp_directory_path() / "tilvorn-bench-pdf").string();
    std::filesystem::create_directories(dir);
    TPictureOrigin origin{dir + "/picture.jpg", true};
    WriteSheetJpeg(*picture, origin.FileName);
    auto decoded = ReadJpegFile(origin.FileName);  // the pixels the file holds
    TOutputHost host;
    for (auto _ : state) WritePosterPdf(layout, *decoded, origin, pages, 24, dir + "/poster.pdf", host);
    state.counters["pdf_MB"] = double(std::filesystem::file_size(dir + "/poster.pdf")) / 1e6;
    state.counters["picture_MB"] = double(std::filesystem::file_size(origin.FileName)) / 1e6;
    state.counters["peak_MB"] = PeakMegabytes();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_PdfOfTheTwelveSheets)->Unit(benchmark::kMillisecond)->Iterations(2);

// Composing one A4 sheet for a 1200-DPI printer (9917 × 14033 pixels).
void BM_Compose1200DpiSheet(benchmark::State& state) {
    auto picture = Picture(3000, 2000);
    TSheetGeometry sheet = SheetFromPaper(210, 297, PxPerMmFromDpi(1200));
    TMarginsAndOverlaps lengths;
    TPosterSize size;
    size.NewWidth = 1000;
    size.NewHeight = FollowProportion(size.NewWidth, picture->Width(), picture->Height());
    TSheetLayout layout =
        SheetLayoutOf(sheet, ComputeLayout(sheet, lengths, size, picture->Width(), picture->Height()));
    layout.Enlargement = EnlargementOf(state);
    TDIB composed;
    for (auto _ : state) ComposeSheet(layout, *picture, 2, 24, composed);
    state.counters["width"] = composed.Width();
    state.counters["height"] = composed.Height();
}
BENCHMARK(BM_Compose1200DpiSheet)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

// The peer: libjpeg-turbo alone (TurboJPEG) encoding the twelve composed sheets on one core,
// with the settings of the saved sheets (baseline, 4:2:0, quality 100, the accurate DCT).
void BM_EncodeTwelveSheetsAlone(benchmark::State& state) {
    auto picture = Picture(3000, 2000);
    TSheetLayout layout = PosterOf(*picture);
    layout.Enlargement = EnlargementOf(state);
    std::vector<std::unique_ptr<TDIB>> sheets;
    for (int p = 1; p <= layout.Columns * 3; ++p) {
        sheets.push_back(std::make_unique<TDIB>());
        ComposeSheet(layout, *picture, p, 24, *sheets.back());
    }
    tjhandle encoder = tjInitCompress();
    size_t bytes = 0;
    const TOneCore oneCore(true);
    for (auto _ : state) {
        for (auto& sheet : sheets) {
            unsigned char* out = nullptr;
            unsigned long size = 0;
            const TDIBStore& s = *sheet->Image();
            if (tjCompress2(encoder, s.Pixels, s.Width, s.RowBytes, s.Height, TJPF_BGR, &out, &size, TJSAMP_420, 100,
                            TJFLAG_BOTTOMUP | TJFLAG_ACCURATEDCT) != 0)
                state.SkipWithError(tjGetErrorStr2(encoder));
            bytes += size;
            tjFree(out);
        }
    }
    tjDestroy(encoder);
    benchmark::DoNotOptimize(bytes);
    state.counters["MB_out"] = double(bytes) / state.iterations() / 1e6;
}
BENCHMARK(BM_EncodeTwelveSheetsAlone)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2)->UseRealTime();

void BM_PreviewRebuildFresh(benchmark::State& state) {
    auto picture = Picture(6000, 4000);
    for (auto _ : state) {
        TPreviewBuilder builder;
        TDIB preview;
        builder.Build(*picture, 900, 600, preview);
        DrawPreviewGrid(preview, 5, 4, 200, 5, 287, 5, 1000, 667);
        benchmark::DoNotOptimize(preview.Image());
    }
}
BENCHMARK(BM_PreviewRebuildFresh)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_PreviewRebuildKept(benchmark::State& state) {
    auto picture = Picture(6000, 4000);
    TPreviewBuilder builder;
    TDIB preview;
    builder.Build(*picture, 900, 600, preview);
    for (auto _ : state) {
        builder.Build(*picture, 900, 600, preview);
        DrawPreviewGrid(preview, 5, 4, 200, 5, 287, 5, 1000, 667);
        benchmark::DoNotOptimize(preview.Image());
    }
}
BENCHMARK(BM_PreviewRebuildKept)->Unit(benchmark::kMicrosecond);

}  // namespace
}  // namespace tilvorn

BENCHMARK_MAIN();
