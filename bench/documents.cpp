// Drawing the first page of a PDF file six times its natural size (an A4 page becomes about
// 4764 x 6738 pixels), against Poppler's own command-line tool at the same resolution
// (576 dots per inch). The tool's figure includes starting the process and writing a PPM file.
#include <benchmark/benchmark.h>

#if __has_include(<QtCore/QtGlobal>)
#include <cstdlib>
#include <filesystem>
#include <string>

#include "platform/qt/QtDocumentRenderer.h"

namespace {

const std::string kLetter =
    (std::filesystem::path(__FILE__).parent_path() / "../tests/data/documents/letter.pdf").lexically_normal().string();

void DrawA4SixFold(benchmark::State& state) {
    tilvorn::platform::TQtDocumentRenderer renderer;
    auto document = renderer.Open(kLetter);
    auto size = document->NaturalSize();
    for (auto _ : state) {
        tilvorn::platform::TDocumentBitmap bitmap(size.width * 6, size.height * 6);
        document->Draw(bitmap);
        benchmark::DoNotOptimize(bitmap.Row(0));
    }
    state.counters["pixels"] = double(size.width) * 6 * size.height * 6;
}
BENCHMARK(DrawA4SixFold)->Unit(benchmark::kMillisecond)->UseRealTime();

void PdftoppmA4At576Dpi(benchmark::State& state) {
    std::string out = (std::filesystem::temp_directory_path() / "tilvorn-bench-pdftoppm").string();
    std::string command = "pdftoppm -r 576 -singlefile " + kLetter + " " + out;
    if (std::system("command -v pdftoppm >/dev/null 2>&1") != 0) {
        state.SkipWithError("pdftoppm (poppler-utils) is not installed");
        return;
    }
    for (auto _ : state)
        if (std::system(command.c_str()) != 0) state.SkipWithError("pdftoppm failed");
    std::filesystem::remove(out + ".ppm");
}
BENCHMARK(PdftoppmA4At576Dpi)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
#endif

BENCHMARK_MAIN();
