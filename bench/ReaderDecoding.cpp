// Decoding a 4000 × 3000 RGB picture stored as PNG (deflate), as TIFF with deflate and as TIFF
// with PackBits, next to Pillow (Debian's python3-pil) decoding the same files in the same
// run. Each of our benchmarks reports Pillow's time for its file and the ratio ours / Pillow's
// (the goal is at most 1.5). Both are measured in processor time of the decoding process, so
// that other work on a busy machine does not count.
//
// The files are made once by ImageMagick and libtiff's tiffcp in /tmp/tilvorn-bench-readers.
#include <benchmark/benchmark.h>

#include <ctime>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <memory>
#include <string>

#include "core/Streams.h"
#include "formats/PNGImage.h"
#include "formats/TIFFImage.h"

namespace {

namespace fs = std::filesystem;
using namespace tilvorn;

const fs::path kDir = "/tmp/tilvorn-bench-readers";

bool Run(const std::string& command) { return std::system(command.c_str()) == 0; }

// Makes the three files once; answers false when the tools are missing.
bool MakeFiles() {
    static const bool made = [] {
        fs::create_directories(kDir);
        const std::string dir = kDir.string();
        if (!fs::exists(kDir / "picture.tif") &&
            !Run("/usr/bin/convert -size 4000x3000 -seed 11 plasma:fractal -depth 8 -compress none " + dir +
                 "/picture.tif"))
            return false;
        if (!fs::exists(kDir / "picture.png") &&
            !Run("/usr/bin/convert " + dir + "/picture.tif " + dir + "/picture.png"))
            return false;
        if (!fs::exists(kDir / "deflate.tif") && !Run("tiffcp -c zip " + dir + "/picture.tif " + dir + "/deflate.tif"))
            return false;
        if (!fs::exists(kDir / "packbits.tif") &&
            !Run("tiffcp -c packbits " + dir + "/picture.tif " + dir + "/packbits.tif"))
            return false;
        return true;
    }();
    return made;
}

// Pillow's mean time in seconds to open and fully decode the file (best of 3 runs of 3).
double PillowSeconds(const std::string& file) {
    static std::map<std::string, double> cache;
    if (auto it = cache.find(file); it != cache.end()) return it->second;
    const std::string script = kDir.string() + "/pillow_time.py";
    if (FILE* f = std::fopen(script.c_str(), "w")) {
        std::fputs(
            "import sys, time\n"
            "from PIL import Image\n"
            "best = None\n"
            "for _ in range(3):\n"
            "    t = time.process_time()\n"
            "    for _ in range(3):\n"
            "        im = Image.open(sys.argv[1]); im.load()\n"
            "    t = (time.process_time() - t) / 3\n"
            "    best = t if best is None else min(best, t)\n"
            "print(best)\n",
            f);
        std::fclose(f);
    }
    double seconds = 0;
    if (FILE* p = popen(("/usr/bin/python3 " + script + " " + file + " 2>/dev/null").c_str(), "r")) {
        if (std::fscanf(p, "%lf", &seconds) != 1) seconds = 0;
        pclose(p);
    }
    cache[file] = seconds;
    return seconds;
}

double ProcessSeconds() {
    timespec t{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return double(t.tv_sec) + double(t.tv_nsec) * 1e-9;
}

template <typename Reader>
void Decode(benchmark::State& state, const char* name) {
    if (!MakeFiles()) {
        state.SkipWithError("ImageMagick or tiffcp is missing");
        return;
    }
    const std::string file = (kDir / name).string();
    TMemoryStream data;
    data.LoadFromFile(file);  // decoding is measured, not the disk
    double total = 0;
    for (auto _ : state) {
        const double start = ProcessSeconds();
        data.SetPosition(0);
        Reader reader;
        reader.ReadImage(data);
        benchmark::DoNotOptimize(reader.ScanLine(0));
        total += ProcessSeconds() - start;
    }
    const double ours = total / double(state.iterations());
    const double pillow = PillowSeconds(file);
    state.counters["ours_ms"] = ours * 1000;
    state.counters["pillow_ms"] = pillow * 1000;
    if (pillow > 0) state.counters["ratio"] = ours / pillow;
    state.SetLabel(name);
}

void PNGDeflate(benchmark::State& state) { Decode<TPNGGraphic>(state, "picture.png"); }
void TIFFDeflate(benchmark::State& state) { Decode<TTIFFGraphic>(state, "deflate.tif"); }
void TIFFPackBits(benchmark::State& state) { Decode<TTIFFGraphic>(state, "packbits.tif"); }

BENCHMARK(PNGDeflate)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(TIFFDeflate)->Unit(benchmark::kMillisecond)->MinTime(2);
BENCHMARK(TIFFPackBits)->Unit(benchmark::kMillisecond)->MinTime(2);

}  // namespace

BENCHMARK_MAIN();
