// SANE's own `test` backend as the scanner of the tests, and scanimage as the reference.
//
// SANE's dll layer reads SANE_CONFIG_DIR once, at the first sane_init of a process, but
// reads dll.conf and the backends read their own files (test.conf) at every sane_init. So each
// test program points SANE_CONFIG_DIR at one folder of its own before anything starts SANE,
// and each test rewrites the files in it before it opens a session. Child programs
// (scanimage, tilvorn-cli) inherit the variable.
//
// An empty dll.conf stands for a machine without scanners: the test backend itself cannot be
// set to no devices (number_of_devices 0 makes it crash in sane_get_devices).
#pragma once
#include <cctype>
#include <cstdint>
#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "image/DIB.h"
#include "support/TestSupport.h"

namespace tilvorn::test::sane {

/// The settings of test.conf, with a colour picture and the geometry at its defaults.
inline std::map<std::string, std::string> TestBackendDefaults() {
    return {{"number_of_devices", "2"},
            {"mode", "Gray"},
            {"depth", "8"},
            {"hand-scanner", "false"},
            {"three-pass", "false"},
            {"three-pass-order", "RGB"},
            {"resolution_min", "1.0"},
            {"resolution_max", "1200.0"},
            {"resolution_quant", "1.0"},
            {"resolution", "50.0"},
            {"test-picture", "\"Color pattern\""},
            {"invert-endianess", "false"},
            {"read-limit", "false"},
            {"read-limit-size", "1"},
            {"read-delay", "false"},
            {"read-delay-duration", "1000"},
            {"read-status-code", "\"Default\""},
            {"fuzzy-parameters", "false"},
            {"ppl-loss", "0"},
            {"non-blocking", "false"},
            {"select-fd", "false"},
            {"enable-test-options", "false"},
            {"geometry_min", "0.0"},
            {"geometry_max", "200.0"},
            {"geometry_quant", "1.0"},
            {"tl_x", "0.0"},
            {"tl_y", "0.0"},
            {"br_x", "80.0"},
            {"br_y", "100.0"}};
}

/// The folder SANE_CONFIG_DIR names for this test program; made and set at the first call.
inline const std::string& SaneConfigDir() {
    static const std::string dir = [] {
        std::string d = TempDir("sane-config");
        setenv("SANE_CONFIG_DIR", d.c_str(), 1);
        return d;
    }();
    return dir;
}

inline void WriteText(const std::string& path, const std::string& text) { std::ofstream(path) << text; }

/// SANE with the test backend only; changes override TestBackendDefaults.
inline void UseTestBackend(const std::map<std::string, std::string>& changes = {}) {
    const std::string& dir = SaneConfigDir();
    std::map<std::string, std::string> settings = TestBackendDefaults();
    for (const auto& [key, value] : changes) settings[key] = value;
    std::string conf;
    for (const auto& [key, value] : settings) conf += key + " " + value + "\n";
    WriteText(dir + "/test.conf", conf);
    WriteText(dir + "/dll.conf", "test\n");
}

/// SANE without any backend: no scanner is found.
inline void UseNoBackend() {
    const std::string& dir = SaneConfigDir();
    WriteText(dir + "/dll.conf", "");
}

/// A picture as 0xRRGGBB values, top row first.
struct Pixels {
    int width = 0, height = 0;
    std::vector<uint32_t> rgb;
    uint32_t At(int x, int y) const { return rgb[size_t(y) * width + x]; }
};

/// Reads the portable any-map scanimage writes (P4, P5, P6; 8 or 16 bits big-endian), 16-bit
/// samples as their high byte.
inline Pixels ReadPnm(const std::string& path) {
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    size_t at = 0;
    auto token = [&] {
        std::string t;
        for (;;) {
            while (at < bytes.size() && std::isspace(bytes[at])) ++at;
            if (at < bytes.size() && bytes[at] == '#') {
                while (at < bytes.size() && bytes[at] != '\n') ++at;
                continue;
            }
            break;
        }
        while (at < bytes.size() && !std::isspace(bytes[at])) t += char(bytes[at++]);
        return t;
    };
    Pixels p;
    const std::string magic = token();
    p.width = std::stoi(token());
    p.height = std::stoi(token());
    const int maxval = magic == "P4" ? 1 : std::stoi(token());
    ++at;  // the one blank before the samples
    const int sampleBytes = maxval > 255 ? 2 : 1;
    const int channels = magic == "P6" ? 3 : 1;
    const size_t rowBytes = magic == "P4" ? size_t(p.width + 7) / 8 : size_t(p.width) * channels * sampleBytes;
    if (bytes.size() < at + rowBytes * p.height) return {};
    p.rgb.resize(size_t(p.width) * p.height);
    for (int y = 0; y < p.height; ++y) {
        const unsigned char* row = bytes.data() + at + rowBytes * y;
        for (int x = 0; x < p.width; ++x) {
            uint32_t c[3];
            if (magic == "P4") {
                const uint32_t v = (row[x / 8] >> (7 - x % 8)) & 1 ? 0 : 255;  // 1 is black
                c[0] = c[1] = c[2] = v;
            } else {
                for (int k = 0; k < 3; ++k) c[k] = row[(size_t(x) * channels + k % channels) * sampleBytes];
            }
            p.rgb[size_t(y) * p.width + x] = c[0] << 16 | c[1] << 8 | c[2];
        }
    }
    return p;
}

/// The pixels of a 24-bit picture.
inline Pixels PixelsOf(TDIB& picture) {
    Pixels p;
    p.width = picture.Width();
    p.height = picture.Height();
    for (int y = 0; y < p.height; ++y) {
        const uint8_t* row = picture.ScanLine(y);
        for (int x = 0; x < p.width; ++x)
            p.rgb.push_back(uint32_t(row[3 * x + 2]) << 16 | uint32_t(row[3 * x + 1]) << 8 | row[3 * x]);
    }
    return p;
}

/// The first pixel where a and b differ, as text; "" when they are the same picture.
inline std::string FirstDifference(const Pixels& a, const Pixels& b) {
    if (a.width != b.width || a.height != b.height)
        return "size " + std::to_string(a.width) + "x" + std::to_string(a.height) + " against " +
            std::to_string(b.width) + "x" + std::to_string(b.height);
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x)
            if (a.At(x, y) != b.At(x, y)) {
                std::ostringstream text;
                text << "pixel (" << x << ", " << y << "): " << std::hex << a.At(x, y) << " against " << b.At(x, y);
                return text.str();
            }
    return "";
}

/// scanimage of device with options over the whole area into a PNM file of folder; the
/// file's pixels, or an empty picture when scanimage failed.
inline Pixels ScanImage(const std::string& device, const std::string& options, const std::string& folder) {
    const std::string file = TempDir(folder) + "/reference.pnm";
    const int status = Run("scanimage -d '" + device + "' -l 0 -t 0 -x 200 -y 200 " + options + " --format=pnm >'" +
                           file + "' 2>/dev/null");
    return status == 0 ? ReadPnm(file) : Pixels{};
}

}  // namespace tilvorn::test::sane
