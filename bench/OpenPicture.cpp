// Opening an 8000 × 6000 JPEG as the window does, phase by phase: the file read and decoded
// into the working image (next to libjpeg decoding the same file into one reused row, the
// least any decode costs), the fresh preview of it, the whole way from file to preview, and
// the preview rebuilt at a new size as a change of the poster's width rebuilds it.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include <jpeglib.h>

#include "poster/Output.h"
#include "poster/Preview.h"
#include "poster/Sources.h"
#include "image/DIB.h"

namespace tilvorn {
namespace {

constexpr int kWidth = 8000, kHeight = 6000;
// The preview of the window's default scrolling area, and of the next width typed.
constexpr int kPreviewWidth = 900, kPreviewHeight = 675;
constexpr int kOtherWidth = 890, kOtherHeight = 667;

// A photo-like picture: smooth gradients with a little grain, so that the file compresses
// as camera pictures do.
const std::string& PictureFile() {
    static const std::string file = [] {
        TDIB picture;
        picture.SetSize(kWidth, kHeight, 24);
        uint32_t seed = 12345;
        for (int y = 0; y < kHeight; ++y) {
            uint8_t* row = picture.ScanLine(y);
            for (int x = 0; x < kWidth; ++x) {
                seed = seed * 1664525u + 1013904223u;
                row[x * 3] = uint8_t(x * 255 / kWidth + (seed >> 30));
                row[x * 3 + 1] = uint8_t(y * 255 / kHeight + (seed >> 29 & 3));
                row[x * 3 + 2] = uint8_t(((x / 16 + y / 16) % 64) * 3);
            }
        }
        std::string name = (std::filesystem::temp_directory_path() / "tilvorn-bench-8000x6000.jpg").string();
        WriteSheetJpeg(picture, name);
        return name;
    }();
    return file;
}

void Preview(TDIB& picture, int width, int height) {
    TPreviewBuilder builder;
    TDIB preview;
    builder.Build(picture, width, height, preview);
    DrawPreviewGrid(preview, 5, 4, 200, 5, 287, 5, 1000, 750);
    benchmark::DoNotOptimize(preview.Image());
}

// libjpeg alone: the same file decoded to RGB into one row that is used again and again.
void BM_LibjpegDecodeAlone(benchmark::State& state) {
    std::ifstream in(PictureFile(), std::ios::binary);
    std::vector<unsigned char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    for (auto _ : state) {
        jpeg_decompress_struct info;
        jpeg_error_mgr errors;
        info.err = jpeg_std_error(&errors);
        jpeg_create_decompress(&info);
        jpeg_mem_src(&info, bytes.data(), static_cast<unsigned long>(bytes.size()));
        jpeg_read_header(&info, TRUE);
        info.out_color_space = JCS_RGB;
        jpeg_start_decompress(&info);
        std::vector<unsigned char> row(size_t(info.output_width) * 3);
        while (info.output_scanline < info.output_height) {
            JSAMPROW rows[1] = {row.data()};
            jpeg_read_scanlines(&info, rows, 1);
        }
        jpeg_finish_decompress(&info);
        jpeg_destroy_decompress(&info);
        benchmark::DoNotOptimize(row.data());
    }
}
BENCHMARK(BM_LibjpegDecodeAlone)->Unit(benchmark::kMillisecond)->Iterations(3);

// The file branch as the open button takes it: the picture the window will hold.
void BM_ReadLargeJpegFile(benchmark::State& state) {
    PictureFile();
    for (auto _ : state) benchmark::DoNotOptimize(ReadPictureFile(PictureFile()));
}
BENCHMARK(BM_ReadLargeJpegFile)->Unit(benchmark::kMillisecond)->Iterations(3);

// From the closing dialog to the preview on screen.
void BM_OpenLargeJpegToPreview(benchmark::State& state) {
    PictureFile();
    for (auto _ : state) {
        std::unique_ptr<TDIB> picture = ReadPictureFile(PictureFile());
        Preview(*picture, kPreviewWidth, kPreviewHeight);
    }
}
BENCHMARK(BM_OpenLargeJpegToPreview)->Unit(benchmark::kMillisecond)->Iterations(3);

// A new width: the same picture, a preview of another size.
void BM_LargeJpegWidthChange(benchmark::State& state) {
    std::unique_ptr<TDIB> picture = ReadPictureFile(PictureFile());
    for (auto _ : state) Preview(*picture, kOtherWidth, kOtherHeight);
}
BENCHMARK(BM_LargeJpegWidthChange)->Unit(benchmark::kMillisecond)->Iterations(5);

}  // namespace
}  // namespace tilvorn

BENCHMARK_MAIN();
