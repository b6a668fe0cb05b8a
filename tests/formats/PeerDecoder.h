// Reference pictures decoded by other programs (ImageMagick, Pillow), for comparing what our
// readers make of the same file.
#pragma once
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

namespace tilvorn::test::peer {

/// A decoded picture: rows top-down, four 16-bit samples per pixel (red, green, blue, alpha),
/// each on the scale 0..65535 whatever the file's depth.
struct PeerPicture {
    int Width = 0;
    int Height = 0;
    bool HasAlpha = false;
    std::vector<uint16_t> Rgba;

    bool Valid() const { return Width > 0 && Height > 0; }
    const uint16_t* Pixel(int x, int y) const { return &Rgba[(size_t(y) * Width + x) * 4]; }
};

/// The first image of the file as ImageMagick reads it, at 16 bits per sample; an empty
/// picture when /usr/bin/convert is missing or cannot read the file.
/// Options go between the file and the output (such as "-colorspace sRGB").
PeerPicture DecodeWithImageMagick(const std::string& path, const std::string& options = "");

/// The first image of the file as Pillow reads it (8-bit samples scaled to 16 bits by 257);
/// empty when Debian's python3 with Pillow is missing or cannot read the file.
PeerPicture DecodeWithPillow(const std::string& path);

bool HaveImageMagick();
bool HavePillow();

}  // namespace tilvorn::test::peer

namespace tilvorn {
class TDIB;
}

namespace tilvorn::test::peer {

/// What a reader's bitmap shows, as 8-bit red, green, blue, alpha per pixel, rows top-down:
/// indices looked up in the colour table, 5-5-5 pixels widened, the fourth byte of 32-bit
/// pixels taken as alpha (255 for every other depth).
struct BitmapPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgba;
    const uint8_t* Pixel(int x, int y) const { return &Rgba[(size_t(y) * Width + x) * 4]; }
};
BitmapPicture PictureOf(TDIB& bitmap);

/// The 8-bit value a reader gives a 16-bit reference sample: v × 255 / 65535.
inline uint8_t ReduceTo8(uint16_t v) { return uint8_t(uint32_t(v) * 255 / 65535); }

/// Compares colour (and, with compareAlpha, alpha) of every pixel; expected maps a reference
/// sample (16-bit) to the 8-bit value the reader should give. Answers "" when all pixels are
/// within tolerance, else a description of the first difference and the count.
template <typename Expected>
std::string ComparePictures(const BitmapPicture& got, const PeerPicture& reference, int tolerance, bool compareAlpha,
                            Expected expected) {
    if (got.Width != reference.Width || got.Height != reference.Height)
        return "size " + std::to_string(got.Width) + "x" + std::to_string(got.Height) + " instead of " +
            std::to_string(reference.Width) + "x" + std::to_string(reference.Height);
    size_t bad = 0;
    std::string first;
    for (int y = 0; y < got.Height; ++y)
        for (int x = 0; x < got.Width; ++x) {
            const uint8_t* g = got.Pixel(x, y);
            const uint16_t* r = reference.Pixel(x, y);
            for (int c = 0; c < (compareAlpha ? 4 : 3); ++c) {
                int want = c == 3 ? ReduceTo8(r[3]) : expected(r[c]);
                if (std::abs(int(g[c]) - want) > tolerance) {
                    if (bad++ == 0)
                        first = "pixel (" + std::to_string(x) + "," + std::to_string(y) + ") sample " +
                            std::to_string(c) + ": " + std::to_string(g[c]) + " instead of " + std::to_string(want);
                }
            }
        }
    return bad ? first + " (" + std::to_string(bad) + " samples differ)" : "";
}

}  // namespace tilvorn::test::peer

namespace tilvorn::test {
// Reached as test::… beside the shared test support.
using namespace peer;
}  // namespace tilvorn::test
