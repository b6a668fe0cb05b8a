// Saving every sheet of a 4 × 3 poster at A4 300 DPI from a 3000 × 2000 picture, next to the
// time the JPEG encoder alone needs for the same twelve sheets; and the preview rebuild of a
// 6000 × 4000 picture, fresh and kept.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstring>
#include <filesystem>
#include <memory>

#include "poster/Geometry.h"
#include "poster/Output.h"
#include "poster/Preview.h"
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

double PeakMegabytes() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_maxrss / 1024.0;
}

void BM_SaveTwelveSheets(benchmark::State& state) {
    auto picture = Picture(3000, 2000);
    TSheetLayout layout = PosterOf(*picture);
    std::vector<int> pages;
    for (int p = 1; p <= layout.Columns * 3; ++p) pages.push_back(p);
    std::string dir = (std::filesystem::temp_directory_path() / "tilvorn-bench-sheets").string();
    std::filesystem::create_directories(dir);
    TOutputHost host;
    for (auto _ : state) RunOutput(TOutputMode::Save, layout, *picture, pages, 24, dir + "/s", host);
    state.counters["sheets"] = double(pages.size());
    state.counters["columns"] = double(layout.Columns);
    state.counters["peak_MB"] = PeakMegabytes();
    std::filesystem::remove_all(dir);
}
BENCHMARK(BM_SaveTwelveSheets)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_EncodeTwelveSheetsAlone(benchmark::State& state) {
    auto picture = Picture(3000, 2000);
    TSheetLayout layout = PosterOf(*picture);
    TDIB sheet;
    size_t bytes = 0;
    for (auto _ : state) {
        for (int p = 1; p <= layout.Columns * 3; ++p) {
            state.PauseTiming();
            ComposeSheet(layout, *picture, p, 24, sheet);
            state.ResumeTiming();
            bytes += EncodeSheetJpeg(sheet).size();
        }
    }
    benchmark::DoNotOptimize(bytes);
}
BENCHMARK(BM_EncodeTwelveSheetsAlone)->Unit(benchmark::kMillisecond)->Iterations(2);

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
