// Helpers of the image tests: pictures as plain colour arrays, and what a peer tool
// (ImageMagick) says a file holds.
#pragma once

#include <cstdio>
#include <ostream>
#include <string>
#include <vector>

#include "image/DIB.h"
#include "support/TestSupport.h"

namespace tilvorn::test {

/// A picture as colours, top row first.
struct Colors {
    int width = 0;
    int height = 0;
    std::vector<TColor> pixels;
    bool operator==(const Colors&) const = default;
    TColor At(int x, int y) const { return pixels[size_t(y) * width + x]; }
};

/// Size and the first pixels as RRGGBB, for failure messages.
inline void PrintTo(const Colors& c, std::ostream* os) {
    *os << c.width << "x" << c.height << ":";
    char buf[8];
    for (size_t i = 0; i < c.pixels.size() && i < 24; ++i) {
        std::snprintf(buf, sizeof buf, " %02X%02X%02X", ColorRed(c.pixels[i]), ColorGreen(c.pixels[i]),
                      ColorBlue(c.pixels[i]));
        *os << buf;
    }
}

/// Reads a binary PPM (P6, maxval 255); empty on any other content.
inline Colors ReadPPM(const std::string& path) {
    Colors c;
    std::vector<unsigned char> bytes = ReadFileBytes(path);
    std::string text(bytes.begin(), bytes.end());
    int w = 0, h = 0, maxval = 0, consumed = 0;
    if (std::sscanf(text.c_str(), "P6 %d %d %d%n", &w, &h, &maxval, &consumed) != 3 || maxval != 255) return c;
    size_t at = size_t(consumed) + 1;
    if (bytes.size() < at + size_t(w) * h * 3) return c;
    c.width = w;
    c.height = h;
    for (int i = 0; i < w * h; ++i, at += 3) c.pixels.push_back(RGBColor(bytes[at], bytes[at + 1], bytes[at + 2]));
    return c;
}

inline bool HavePeerTool() { return HaveTool("/usr/bin/convert"); }

/// The picture as ImageMagick reads it; empty when it cannot read it.
inline Colors PeerDecode(const std::string& path) {
    std::string out = TempDir("peer") + "/picture.ppm";
    if (Run("/usr/bin/convert '" + path + "' -alpha off -depth 8 ppm:'" + out + "' 2>/dev/null") != 0) return {};
    return ReadPPM(out);
}

/// The colours of a working image (decoding compressed pictures).
inline Colors DecodedColors(TDIB& dib) {
    Colors c;
    if (dib.Empty()) return c;
    dib.ScanLine(0);  // makes the picture private and uncompressed
    c.width = dib.Width();
    c.height = dib.Height();
    for (int y = 0; y < c.height; ++y)
        for (int x = 0; x < c.width; ++x) c.pixels.push_back(GetStorePixel(*dib.Image(), x, y));
    return c;
}

template <typename E, typename Fn>
void ExpectError(Fn&& fn, const std::string& message) {
    try {
        fn();
        ADD_FAILURE() << "no error, expected: " << message;
    } catch (const E& e) {
        EXPECT_EQ(e.Message(), message);
    }
}

}  // namespace tilvorn::test
