// Pictures as other programs decode them (Pillow, ImageMagick), for comparing the readers'
// pixels against within a tolerance.
#pragma once
#include <cstdint>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "image/DIB.h"

namespace tilvorn::test {

/// A picture in plain form: top row first, four bytes per pixel (red, green, blue, alpha).
struct TRgbaPicture {
    int Width = 0;
    int Height = 0;
    std::vector<uint8_t> Rgba;
    bool Empty() const { return Width == 0 || Height == 0; }
    const uint8_t* Pixel(int x, int y) const { return &Rgba[(static_cast<size_t>(y) * Width + x) * 4]; }
};

/// True when Debian's Python with Pillow is there.
bool HavePillow();
/// The picture as Pillow decodes it; 16-bit grey is reduced by 255/65535. Empty on failure.
TRgbaPicture LoadWithPillow(const std::string& path);
/// The picture as ImageMagick's /usr/bin/convert decodes it. Empty on failure.
TRgbaPicture LoadWithImageMagick(const std::string& path);

/// The bitmap's pixels as colours (through its colour table when indexed); the alpha of
/// 32-bit bitmaps from their fourth bytes, 255 otherwise.
TRgbaPicture PictureOf(TDIB& bitmap);

/// Skips the running test with a message when Pillow is missing.
#define TILVORN_REQUIRE_PILLOW() \
    if (!::tilvorn::test::HavePillow()) GTEST_SKIP() << "Python with Pillow (python3-pil) is not installed"

/// Same size and every red, green and blue sample (and alpha when compareAlpha) within
/// tolerance; names the first pixel that differs.
::testing::AssertionResult SamePixels(const TRgbaPicture& expected, const TRgbaPicture& actual, int tolerance,
                                      bool compareAlpha = false);

}  // namespace tilvorn::test
