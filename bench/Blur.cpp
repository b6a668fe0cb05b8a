// Box blur of an A4 page at 300 DPI (2480 x 3508 pixels) next to OpenCV's boxFilter on the
// same pixels in the same run, and the copy-on-write cost of a page (SetSize, Assign, first
// ScanLine) next to a plain copy of its bytes.
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "image/DIB.h"

#ifdef TILVORN_HAVE_OPENCV
#include <opencv2/core.hpp>
#include <opencv2/imgproc.hpp>
#endif

using namespace tilvorn;

namespace {

constexpr int kWidth = 2480;
constexpr int kHeight = 3508;

void FillNoise(uint8_t* bytes, size_t size) {
    uint32_t x = 12345;
    for (size_t i = 0; i < size; ++i) {
        x = x * 1103515245u + 12345u;
        bytes[i] = uint8_t(x >> 16);
    }
}

TDIB& Page() {
    static TDIB* page = [] {
        auto* dib = new TDIB;
        dib->SetSize(kWidth, kHeight, 24);
        FillNoise(dib->Pixels(), size_t(dib->Size()));
        return dib;
    }();
    return *page;
}

void Rate(benchmark::State& state) {
    state.counters["MP/s"] =
        benchmark::Counter(double(kWidth) * kHeight / 1e6, benchmark::Counter::kIsIterationInvariantRate);
}

// Blur(bitCount, radius) of a private copy of the page, as the program blurs a sheet.
void BM_Blur(benchmark::State& state, int bitCount) {
    int radius = int(state.range(0));
    TDIB dib;
    for (auto _ : state) {
        state.PauseTiming();
        dib.Assign(&Page());
        dib.ScanLine(0);  // a private copy, as a freshly composed sheet is
        state.ResumeTiming();
        dib.Blur(bitCount, radius);
        benchmark::DoNotOptimize(dib.Pixels());
    }
    Rate(state);
}

void BM_Blur24(benchmark::State& state) { BM_Blur(state, 24); }
void BM_Blur24To8(benchmark::State& state) { BM_Blur(state, 8); }
BENCHMARK(BM_Blur24)->Arg(1)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Blur24To8)->Arg(1)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond);

#ifdef TILVORN_HAVE_OPENCV
cv::Mat PageMat() {
    cv::Mat m(kHeight, kWidth, CV_8UC3);
    for (int y = 0; y < kHeight; ++y) std::memcpy(m.ptr(y), Page().ScanLine(y), size_t(kWidth) * 3);
    return m;
}

void BM_OpenCVBoxFilter24(benchmark::State& state) {
    int k = 2 * int(state.range(0)) + 1;
    cv::Mat src = PageMat(), dst;
    for (auto _ : state) {
        cv::boxFilter(src, dst, -1, cv::Size(k, k), cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
        benchmark::DoNotOptimize(dst.data);
    }
    Rate(state);
}

// The same job as Blur(8, r) of a colour page: grey, then the box filter.
void BM_OpenCVGreyBoxFilter(benchmark::State& state) {
    int k = 2 * int(state.range(0)) + 1;
    cv::Mat src = PageMat(), grey, dst;
    for (auto _ : state) {
        cv::cvtColor(src, grey, cv::COLOR_BGR2GRAY);
        cv::boxFilter(grey, dst, -1, cv::Size(k, k), cv::Point(-1, -1), true, cv::BORDER_REPLICATE);
        benchmark::DoNotOptimize(dst.data);
    }
    Rate(state);
}
BENCHMARK(BM_OpenCVBoxFilter24)->Arg(1)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_OpenCVGreyBoxFilter)->Arg(1)->Arg(2)->Arg(8)->Unit(benchmark::kMillisecond);
#endif

// A new page: SetSize, share it, then the first row access copies it.
void BM_CopyOnWritePage(benchmark::State& state) {
    for (auto _ : state) {
        TDIB a, b;
        a.SetSize(kWidth, kHeight, 24);
        b.Assign(&a);
        benchmark::DoNotOptimize(b.ScanLine(0));
    }
    Rate(state);
}
BENCHMARK(BM_CopyOnWritePage)->Unit(benchmark::kMillisecond);

void BM_PlainCopyOfPageBytes(benchmark::State& state) {
    size_t size = size_t(DIBRowBytes(kWidth, 24)) * kHeight;
    std::vector<uint8_t> from(size, 1);
    for (auto _ : state) {
        std::vector<uint8_t> to(size);
        std::memcpy(to.data(), from.data(), size);
        benchmark::DoNotOptimize(to.data());
    }
    Rate(state);
}
BENCHMARK(BM_PlainCopyOfPageBytes)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
