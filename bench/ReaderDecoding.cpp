// Decoding 4000 × 3000 pictures of every common kind, next to Pillow (Debian's python3-pil)
// decoding the same files in the same run. Each benchmark reads its file as the program does
// (the reader chosen by content, reading from the file) and reports Pillow's time for the file
// and the ratio ours / Pillow's (the goal is at most 1.0). Both are processor time of the
// decoding process, so that other work on a busy machine counts as little as it can.
//
// The files are made once by bench/pillow_peer.py (ImageMagick, libtiff's tiffcp, Netpbm and
// Pillow) in /tmp/tilvorn-bench-pictures; the same script times Pillow.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <map>
#include <memory>
#include <string>

#include "formats/AllFormats.h"
#include "readers/ImageReaders.h"

namespace {

using namespace tilvorn;

const std::string kDir = "/tmp/tilvorn-bench-pictures";
const std::string kPeer = std::string(TILVORN_BENCH_DIR) + "/pillow_peer.py";

// The pictures, in the order the benchmarks run.
const char* const kPictures[] = {"deflate.tif", "packbits.tif", "lzw.tif",     "tiled.tif",
                                 "g4.tif",      "picture.png",  "picture.ppm", "rle.tga",
                                 "picture.sgi", "picture.pcx",  "picture.psd"};

// Pillow's best processor time per file, asked once for all files; empty when Pillow or the
// tools that make the files are missing.
const std::map<std::string, double>& PillowSeconds() {
    static const std::map<std::string, double> seconds = [] {
        std::map<std::string, double> times;
        std::string command = "/usr/bin/python3 '" + kPeer + "' decode " + kDir;
        for (const char* name : kPictures) command += std::string(" ") + name;
        if (FILE* p = popen((command + " 2>/dev/null").c_str(), "r")) {
            char name[64];
            double value;
            while (std::fscanf(p, "%63s %lf", name, &value) == 2) times[name] = value;
            pclose(p);
        }
        return times;
    }();
    return seconds;
}

double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

void Decode(benchmark::State& state, const std::string& name) {
    const auto& pillow = PillowSeconds();
    if (pillow.count(name) == 0) {
        state.SkipWithError("the pictures could not be made or Pillow is missing (see bench/pillow_peer.py)");
        return;
    }
    RegisterStandardFormats();
    const std::string file = kDir + "/" + name;
    const TGraphicClass* readerClass = GlobalFormatRegistry().ClassForFile(file);
    if (!readerClass) {
        state.SkipWithError("no reader takes the file");
        return;
    }
    double total = 0;
    for (auto _ : state) {
        const double start = ProcessSeconds();
        std::unique_ptr<TReaderGraphic> reader = readerClass->Create();
        reader->ReadImageFile(file);
        benchmark::DoNotOptimize(reader->ScanLine(0));
        reader.reset();
        total += ProcessSeconds() - start;
    }
    const double ours = total / double(state.iterations());
    state.counters["ours_ms"] = ours * 1000;
    state.counters["pillow_ms"] = pillow.at(name) * 1000;
    state.counters["ratio"] = ours / pillow.at(name);
    state.SetLabel(std::string(readerClass->Name()));
}

const bool kRegistered = [] {
    for (const char* name : kPictures)
        benchmark::RegisterBenchmark(name, [name](benchmark::State& state) { Decode(state, name); })
            ->Unit(benchmark::kMillisecond)
            ->MinTime(1);
    return true;
}();

}  // namespace

BENCHMARK_MAIN();
