// The colour manager's row conversion over an A4 page at 300 DPI (2480 x 3508 pixels), row by
// row as the readers call it; a plain copy of the same bytes is the yardstick.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "readers/ReaderColor.h"

using namespace tilvorn;

namespace {

constexpr uint32_t kWidth = 2480;
constexpr uint32_t kHeight = 3508;

std::vector<uint8_t> Noise(size_t size) {
    std::vector<uint8_t> bytes(size);
    uint32_t x = 12345;
    for (auto& b : bytes) {
        x = x * 1103515245u + 12345u;
        b = uint8_t(x >> 16);
    }
    return bytes;
}

/// Converts every row of an A4 page with the manager as set up; sourceRowBytes per row.
void ConvertPage(benchmark::State& state, TColorManager& cm, size_t sourceRowBytes, size_t targetRowBytes) {
    const std::vector<uint8_t> source = Noise(sourceRowBytes * kHeight);
    std::vector<uint8_t> target(targetRowBytes * kHeight);
    for (auto _ : state) {
        for (uint32_t y = 0; y < kHeight; ++y)
            cm.ConvertPixels(source.data() + y * sourceRowBytes, target.data() + y * targetRowBytes, kWidth);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(int64_t(state.iterations()) * kWidth * kHeight);
    state.counters["MP/s"] =
        benchmark::Counter(double(kWidth) * kHeight / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_PlainCopyRGB(benchmark::State& state) {
    const size_t rowBytes = kWidth * 3;
    const std::vector<uint8_t> source = Noise(rowBytes * kHeight);
    std::vector<uint8_t> target(rowBytes * kHeight);
    for (auto _ : state) {
        for (uint32_t y = 0; y < kHeight; ++y)
            std::memcpy(target.data() + y * rowBytes, source.data() + y * rowBytes, rowBytes);
        benchmark::DoNotOptimize(target.data());
        benchmark::ClobberMemory();
    }
    state.counters["MP/s"] =
        benchmark::Counter(double(kWidth) * kHeight / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

void BM_RGBToBGR(benchmark::State& state) {
    TColorManager cm;  // RGB 8-bit to BGR 8-bit
    ConvertPage(state, cm, kWidth * 3, kWidth * 3);
}

void BM_YCbCrToBGR(benchmark::State& state) {
    TColorManager cm;
    cm.SetSourceModel(ColorModel::YCbCr);
    ConvertPage(state, cm, kWidth * 3, kWidth * 3);
}

void BM_OneBitToGrey8(benchmark::State& state) {
    TColorManager cm;
    cm.SetSourceModel(ColorModel::Gray);
    cm.SetTargetModel(ColorModel::Gray);
    cm.SetSourceSamples(1);
    cm.SetTargetSamples(1);
    cm.SetSourceBits(1);
    cm.SetTargetBits(8);
    ConvertPage(state, cm, (kWidth + 7) / 8, kWidth);
}

}  // namespace

BENCHMARK(BM_PlainCopyRGB)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RGBToBGR)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_YCbCrToBGR)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OneBitToGrey8)->Unit(benchmark::kMillisecond);
BENCHMARK_MAIN();
