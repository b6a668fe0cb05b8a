// Decoder speed: TLZ77Decoder next to plain zlib inflate over the same large stream (goal:
// within 1.1 times), and one-dimensional fax decoding of an A4 page at 200 DPI coded by
// Netpbm's pbmtog3.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <zlib.h>

#include "readers/ReaderCodecs.h"

using namespace tilvorn;

namespace {

using Bytes = std::vector<uint8_t>;

/// An A4 page at 300 DPI, 24 bits: smooth shading with grain, as a photo gives.
const Bytes& PagePixels() {
    static const Bytes pixels = [] {
        const size_t width = 2480, height = 3508;
        Bytes p(width * height * 3);
        std::mt19937 random(5);
        for (size_t y = 0; y < height; ++y)
            for (size_t x = 0; x < width; ++x) {
                uint8_t* px = &p[(y * width + x) * 3];
                const unsigned grain = random() & 7;
                px[0] = static_cast<uint8_t>(x * 255 / width + grain);
                px[1] = static_cast<uint8_t>(y * 255 / height + grain);
                px[2] = static_cast<uint8_t>((x + y) / 24 + grain);
            }
        return p;
    }();
    return pixels;
}

const Bytes& PageStream() {
    static const Bytes stream = [] {
        const Bytes& pixels = PagePixels();
        uLongf size = compressBound(pixels.size());
        Bytes out(size);
        compress2(out.data(), &size, pixels.data(), pixels.size(), 6);
        out.resize(size);
        return out;
    }();
    return stream;
}

void BM_ZlibInflate(benchmark::State& state) {
    const Bytes& stream = PageStream();
    Bytes target(PagePixels().size());
    for (auto _ : state) {
        z_stream z{};
        inflateInit(&z);
        z.next_in = const_cast<Bytef*>(stream.data());
        z.avail_in = static_cast<uInt>(stream.size());
        z.next_out = target.data();
        z.avail_out = static_cast<uInt>(target.size());
        if (inflate(&z, Z_PARTIAL_FLUSH) != Z_STREAM_END) state.SkipWithError("inflate did not reach the stream end");
        inflateEnd(&z);
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(target.size()));
}

void BM_LZ77Decoder(benchmark::State& state) {
    const Bytes& stream = PageStream();
    Bytes target(PagePixels().size());
    for (auto _ : state) {
        TLZ77Decoder decoder(Z_PARTIAL_FLUSH, false);
        decoder.BeginDecompress();
        TSourcePos source(stream.data(), stream.size());
        TDestPos dest(target.data(), target.size());
        decoder.Decompress(source, dest, int32_t(stream.size()), int32_t(target.size()));
        if (decoder.InflateStatus != Z_STREAM_END) state.SkipWithError("the decoder did not reach the stream end");
        decoder.EndDecompress();
        benchmark::DoNotOptimize(target.data());
    }
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(target.size()));
}

// Both in the same run, one after the other, so their ratio is measured on one machine state.
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_LZ77Decoder)->Unit(benchmark::kMillisecond);

constexpr uint32_t kFaxWidth = 1728;  // A4 at 200 DPI, the fax standard width
constexpr uint32_t kFaxHeight = 2339;  // 297 mm at 200 lines per inch

/// A typed A4 page: lines of word-like black marks with margins, as a fax page of text.
Bytes FaxPageRows() {
    const size_t rowBytes = kFaxWidth / 8;
    Bytes rows(rowBytes * kFaxHeight, 0);
    std::mt19937 random(9);
    for (uint32_t lineTop = 160; lineTop + 40 < kFaxHeight - 160; lineTop += 44) {
        uint32_t x = 140;
        while (x < kFaxWidth - 140) {
            const uint32_t word = 20 + random() % 90;
            for (uint32_t y = lineTop; y < lineTop + 28; ++y)
                for (uint32_t px = x; px < std::min(x + word, kFaxWidth - 140); ++px)
                    if ((px * 7 + y * 3 + random() % 5) % 9 < 4)  // strokes, not solid blocks
                        rows[y * rowBytes + px / 8] |= static_cast<uint8_t>(0x80 >> (px % 8));
            x += word + 12 + random() % 10;
        }
    }
    return rows;
}

/// The page coded by pbmtog3 (empty when Netpbm is missing).
const Bytes& FaxPageCoded() {
    static const Bytes coded = [] {
        const std::string dir = "/tmp/tilvorn_bench_fax";
        std::system(("mkdir -p " + dir).c_str());
        const Bytes rows = FaxPageRows();
        std::ofstream(dir + "/page.pbm", std::ios::binary) << "P4\n"
                                                           << kFaxWidth << " " << kFaxHeight << "\n"
                                                           << std::string(rows.begin(), rows.end());
        if (std::system(("pbmtog3 " + dir + "/page.pbm > " + dir + "/page.g3 2>/dev/null").c_str()) != 0)
            return Bytes();
        std::ifstream in(dir + "/page.g3", std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }();
    return coded;
}

void BM_Fax3DecodeA4Page(benchmark::State& state) {
    const Bytes& coded = FaxPageCoded();
    if (coded.empty()) {
        state.SkipWithError("pbmtog3 (Netpbm) is not installed");
        return;
    }
    const Bytes expected = FaxPageRows();
    Bytes target(expected.size());
    Bytes input = coded;
    for (auto _ : state) {
        TCCITTFax3Decoder decoder(0, false, false, kFaxWidth);
        TSourcePos source(input.data(), input.size());
        TDestPos dest(target.data(), target.size());
        decoder.Decompress(source, dest, int32_t(input.size()), int32_t(target.size()));
        benchmark::DoNotOptimize(target.data());
    }
    if (target != expected) state.SkipWithError("the decoded page differs from the page");
    state.counters["coded_bytes"] = double(coded.size());
    state.SetBytesProcessed(int64_t(state.iterations()) * int64_t(coded.size()));
}

BENCHMARK(BM_Fax3DecodeA4Page)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
