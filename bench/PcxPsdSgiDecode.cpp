// Decoding a 4000 x 3000 picture stored as PSD (PackBits RGB), SGI (run-length) and PCX
// (24 bits, run-length), next to Pillow decoding the same files in the same run.
//
// The files are made once per run in a temporary folder: Pillow draws the picture (a
// Mandelbrot set and two gradients, so that runs come in all lengths), ImageMagick writes
// the PSD, Netpbm's pnmtosgi the SGI file and Pillow the PCX file. Pillow's time per file is
// the best of several decodes (open + load) measured by Python itself; it is reported as
// its own benchmark (manual time) and our time divided by it as the counter "vs_pillow".
#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>

#include "formats/PCXImage.h"
#include "formats/PSDImage.h"
#include "formats/SGIImage.h"

namespace {

namespace fs = std::filesystem;
using namespace tilvorn;

const char* const kMakeAndTime = R"PY(
import sys, time
from PIL import Image
folder = sys.argv[1]
w, h = 4000, 3000
red = Image.effect_mandelbrot((w, h), (-2.2, -1.2, 1.0, 1.2), 64)
green = Image.linear_gradient("L").resize((w, h))
blue = Image.radial_gradient("L").resize((w, h))
picture = Image.merge("RGB", (red, green, blue))
picture.save(folder + "/picture.ppm")
picture.save(folder + "/picture.pcx")
)PY";

const char* const kPillowTimes = R"PY(
import sys, time
from PIL import Image
for name in sys.argv[2:]:
    best = 1e9
    for _ in range(5):
        start = time.perf_counter()
        im = Image.open(sys.argv[1] + "/" + name)
        im.load()
        best = min(best, time.perf_counter() - start)
    print(name, best)
)PY";

struct TFiles {
    std::string Folder;
    std::map<std::string, double> PillowSeconds;
    bool Ready = false;
};

int Shell(const std::string& command) { return std::system(command.c_str()); }

const TFiles& Files() {
    static TFiles files = [] {
        TFiles f;
        f.Folder = (fs::temp_directory_path() / "tilvorn-bench-pcx-psd-sgi").string();
        fs::create_directories(f.Folder);
        std::ofstream(f.Folder + "/make.py") << kMakeAndTime;
        std::ofstream(f.Folder + "/times.py") << kPillowTimes;
        const std::string dir = "'" + f.Folder + "'";
        if (Shell("/usr/bin/python3 " + dir + "/make.py " + dir) != 0 ||
            Shell("/usr/bin/convert " + dir + "/picture.ppm -compress RLE " + dir + "/picture.psd") != 0 ||
            Shell("pnmtosgi -rle " + dir + "/picture.ppm > " + dir + "/picture.sgi 2>/dev/null") != 0)
            return f;
        const std::string out = f.Folder + "/times.txt";
        if (Shell("/usr/bin/python3 " + dir + "/times.py " + dir + " picture.psd picture.sgi picture.pcx > '" + out +
                  "'") != 0)
            return f;
        std::ifstream in(out);
        std::string name;
        double seconds;
        while (in >> name >> seconds) f.PillowSeconds[name] = seconds;
        f.Ready = f.PillowSeconds.size() == 3;
        return f;
    }();
    return files;
}

template <typename Reader>
void DecodeWithTilvorn(benchmark::State& state, const char* name) {
    const TFiles& files = Files();
    if (!files.Ready) {
        state.SkipWithError("the bench files could not be made (python3-pil, imagemagick, netpbm)");
        return;
    }
    const std::string path = files.Folder + "/" + name;
    double total = 0;
    for (auto _ : state) {
        const auto start = std::chrono::steady_clock::now();
        Reader reader;
        reader.ReadImageFile(path);
        benchmark::DoNotOptimize(reader.ScanLine(0));
        total += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }
    state.counters["vs_pillow"] = total / double(state.iterations()) / files.PillowSeconds.at(name);
}

void BM_TilvornPSD(benchmark::State& state, const char* name) { DecodeWithTilvorn<TPSDGraphic>(state, name); }
void BM_TilvornSGI(benchmark::State& state, const char* name) { DecodeWithTilvorn<TSGIGraphic>(state, name); }
void BM_TilvornPCX(benchmark::State& state, const char* name) { DecodeWithTilvorn<TPCXGraphic>(state, name); }

void BM_Pillow(benchmark::State& state, const char* name) {
    const TFiles& files = Files();
    if (!files.Ready) {
        state.SkipWithError("the bench files could not be made (python3-pil, imagemagick, netpbm)");
        return;
    }
    for (auto _ : state) state.SetIterationTime(files.PillowSeconds.at(name));
}

BENCHMARK_CAPTURE(BM_TilvornPSD, psd_packbits_rgb, "picture.psd")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pillow, psd_packbits_rgb, "picture.psd")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TilvornSGI, sgi_rle, "picture.sgi")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pillow, sgi_rle, "picture.sgi")->UseManualTime()->Iterations(1)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_TilvornPCX, pcx_24bit_rle, "picture.pcx")->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_Pillow, pcx_24bit_rle, "picture.pcx")
    ->UseManualTime()
    ->Iterations(1)
    ->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
