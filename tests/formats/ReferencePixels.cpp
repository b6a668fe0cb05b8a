#include "formats/ReferencePixels.h"

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>

#include "support/TestSupport.h"

namespace tilvorn::test {

namespace {

const char* const kPython = "/usr/bin/python3";

// Writes "width height\n" and the RGBA bytes of the picture to the output file.
const char* const kPillowDump = R"PY(
import sys
from PIL import Image
im = Image.open(sys.argv[1])
im.load()
if im.mode in ("I", "I;16", "I;16B", "I;16L"):
    im = im.convert("I").point(lambda v: v * (255 / 65535)).convert("L")
im = im.convert("RGBA")
with open(sys.argv[2], "wb") as f:
    f.write(b"%d %d\n" % im.size)
    f.write(im.tobytes())
)PY";

std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += (c == '\'') ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}

TRgbaPicture ReadDump(const std::string& path) {
    TRgbaPicture picture;
    std::ifstream in(path, std::ios::binary);
    std::string line;
    if (!std::getline(in, line)) return {};
    std::istringstream size(line);
    size >> picture.Width >> picture.Height;
    picture.Rgba.resize(static_cast<size_t>(picture.Width) * picture.Height * 4);
    in.read(reinterpret_cast<char*>(picture.Rgba.data()), static_cast<std::streamsize>(picture.Rgba.size()));
    if (in.gcount() != static_cast<std::streamsize>(picture.Rgba.size())) return {};
    return picture;
}

std::string ScratchFile(const std::string& name) {
    static int counter = 0;
    return TempDir("reference-" + std::to_string(++counter)) + "/" + name;
}

}  // namespace

bool HavePillow() {
    static const bool have = HaveTool(kPython) && Run(std::string(kPython) + " -c 'import PIL' >/dev/null 2>&1") == 0;
    return have;
}

TRgbaPicture LoadWithPillow(const std::string& path) {
    if (!HavePillow()) return {};
    std::string script = ScratchFile("dump.py"), out = ScratchFile("picture.dump");
    std::ofstream(script) << kPillowDump;
    if (Run(std::string(kPython) + " " + Quote(script) + " " + Quote(path) + " " + Quote(out) + " 2>/dev/null") != 0)
        return {};
    return ReadDump(out);
}

TRgbaPicture LoadWithImageMagick(const std::string& path) {
    if (!HaveTool("/usr/bin/convert")) return {};
    std::string png = ScratchFile("picture.png");
    if (Run("/usr/bin/convert " + Quote(path) + "[0] -depth 8 PNG32:" + Quote(png) + " 2>/dev/null") != 0) return {};
    return LoadWithPillow(png);
}

TRgbaPicture PictureOf(TDIB& bitmap) {
    TRgbaPicture picture;
    if (bitmap.Empty()) return picture;
    picture.Width = bitmap.Width();
    picture.Height = bitmap.Height();
    picture.Rgba.resize(size_t(picture.Width) * picture.Height * 4);
    for (int y = 0; y < picture.Height; ++y) {
        const uint8_t* row = bitmap.ScanLine(y);
        for (int x = 0; x < picture.Width; ++x) {
            const TColor colour = GetStorePixel(*bitmap.Image(), x, y);
            uint8_t* out = &picture.Rgba[(size_t(y) * picture.Width + x) * 4];
            out[0] = ColorRed(colour);
            out[1] = ColorGreen(colour);
            out[2] = ColorBlue(colour);
            out[3] = bitmap.BitCount() == 32 ? row[x * 4 + 3] : 255;
        }
    }
    return picture;
}

::testing::AssertionResult SamePixels(const TRgbaPicture& expected, const TRgbaPicture& actual, int tolerance,
                                      bool compareAlpha) {
    if (expected.Width != actual.Width || expected.Height != actual.Height)
        return ::testing::AssertionFailure() << "size " << actual.Width << "x" << actual.Height << ", expected "
                                             << expected.Width << "x" << expected.Height;
    const int samples = compareAlpha ? 4 : 3;
    for (int y = 0; y < expected.Height; ++y)
        for (int x = 0; x < expected.Width; ++x)
            for (int s = 0; s < samples; ++s) {
                int want = expected.Pixel(x, y)[s], got = actual.Pixel(x, y)[s];
                if (std::abs(want - got) > tolerance)
                    return ::testing::AssertionFailure()
                        << "pixel (" << x << "," << y << ") sample " << s << " is " << got << ", expected " << want;
            }
    return ::testing::AssertionSuccess();
}

}  // namespace tilvorn::test
