#include "support/TestSupport.h"

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <unistd.h>

namespace tilvorn::test {

namespace fs = std::filesystem;

std::string DataPath(const std::string& relative) { return std::string(TILVORN_TEST_DATA) + "/" + relative; }

std::string CorpusPath(const std::string& relative) {
    fs::path root(TILVORN_CORPUS_DIR);
    if (!fs::is_directory(root)) return "";
    return (root / relative).string();
}

std::string TempDir(const std::string& name) {
    static const fs::path base = [] {
        fs::path p = fs::temp_directory_path() / ("tilvorn-tests-" + std::to_string(::getpid()));
        fs::create_directories(p);
        std::atexit([] {
            std::error_code ec;
            fs::remove_all(fs::temp_directory_path() / ("tilvorn-tests-" + std::to_string(::getpid())), ec);
        });
        return p;
    }();
    fs::path dir = base / name;
    std::error_code ec;
    fs::remove_all(dir, ec);
    fs::create_directories(dir);
    return dir.string();
}

int Run(const std::string& command) {
    int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

bool HaveTool(const std::string& program) {
    if (!program.empty() && program[0] == '/') return fs::exists(program);
    return Run("command -v " + program + " >/dev/null 2>&1") == 0;
}

std::vector<unsigned char> ReadFileBytes(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void WriteFileBytes(const std::string& path, const std::vector<unsigned char>& bytes) {
    std::ofstream out(path, std::ios::binary);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

void MakeNoise(TDIB& dib, int w, int h, int bits, uint32_t seed) {
    dib.PixelFormat = bits == 16 ? pf565 : pf888;
    for (int i = 0; i < 256; ++i)
        dib.ColorTable[size_t(i)] = {uint8_t(i * 7 + 3), uint8_t(255 - i), uint8_t(i * 13), 0};
    dib.SetSize(w, h, bits);
    for (int y = 0; y < h; ++y) {
        uint8_t* row = dib.ScanLine(y);
        for (int i = 0; i < dib.RowBytes(); ++i) {
            seed = seed * 1103515245u + 12345u;
            row[i] = uint8_t(seed >> 16);
        }
    }
}

}  // namespace tilvorn::test
