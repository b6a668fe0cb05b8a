// The preview image against the plain definition of it: a reduced picture blurred with radius
// (picture width / preview width − 1) and then stretched nearest-neighbour, a kept or enlarged
// one stretched and then blurred with radius (preview width / picture width). The reference
// below computes each preview pixel from that definition, pixel by pixel.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "image/DIB.h"
#include "support/TestSupport.h"
#include "poster/Preview.h"

namespace tilvorn {
namespace {

using test::MakeNoise;

using Grid = std::vector<std::vector<TColor>>;  // [y][x]

Grid ColorsOf(TDIB& dib) {
    Grid g(size_t(dib.Height()), std::vector<TColor>(size_t(dib.Width())));
    for (int y = 0; y < dib.Height(); ++y)
        for (int x = 0; x < dib.Width(); ++x) g[size_t(y)][size_t(x)] = GetStorePixel(*dib.Image(), x, y);
    return g;
}

// Nearest neighbour: the source pixel under the centre of target pixel i.
int Sample(int i, int sourceLength, int targetLength) {
    return int((2 * int64_t(i) + 1) * sourceLength / (2 * int64_t(targetLength)));
}

// The mean (rounded down) of the colours in the window of radius r around (x, y), clipped.
TColor WindowMean(const Grid& g, int x, int y, int r) {
    const int h = int(g.size()), w = int(g[0].size());
    uint64_t red = 0, green = 0, blue = 0, n = 0;
    for (int v = std::max(y - r, 0); v <= std::min(y + r, h - 1); ++v)
        for (int u = std::max(x - r, 0); u <= std::min(x + r, w - 1); ++u, ++n) {
            TColor c = g[size_t(v)][size_t(u)];
            red += ColorRed(c), green += ColorGreen(c), blue += ColorBlue(c);
        }
    return RGBColor(uint8_t(red / n), uint8_t(green / n), uint8_t(blue / n));
}

Grid ReferencePreview(TDIB& picture, int width, int height) {
    const Grid source = ColorsOf(picture);
    const int w = picture.Width(), h = picture.Height();
    Grid out(static_cast<size_t>(height), std::vector<TColor>(static_cast<size_t>(width)));
    if (width < w) {
        const int r = w / width - 1;
        for (int j = 0; j < height; ++j)
            for (int i = 0; i < width; ++i)
                out[size_t(j)][size_t(i)] = WindowMean(source, Sample(i, w, width), Sample(j, h, height), r);
        return out;
    }
    Grid stretched = out;
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i)
            stretched[size_t(j)][size_t(i)] = source[size_t(Sample(j, h, height))][size_t(Sample(i, w, width))];
    const int r = width / w;
    for (int j = 0; j < height; ++j)
        for (int i = 0; i < width; ++i) out[size_t(j)][size_t(i)] = WindowMean(stretched, i, j, r);
    return out;
}

TEST(PreviewImage, EqualsBlurThenStretchAtEverySizeAndScale) {
    struct Case {
        int w, h, bits, width, height;
    } cases[] = {
        {601, 397, 24, 90, 61},  // radius 5, odd sizes
        {600, 400, 24, 90, 60},  // the window's proportions
        {333, 250, 24, 332, 250},  // radius 0: a plain stretch
        {333, 250, 24, 111, 300},  // taller than the picture: rows taken twice
        {333, 250, 24, 1, 1},  // a single pixel: the whole picture's mean
        {1000, 3, 24, 7, 2},  // windows far taller than the picture
        {2000, 10, 24, 3, 40},  // windows far apart: each one summed afresh
        {5, 1, 24, 2, 1},  // one row
        {97, 89, 8, 20, 30},  // indexed colours
        {97, 89, 16, 31, 13},  // 5-6-5
        {97, 89, 32, 40, 40},  // 32 bits
        {97, 89, 1, 19, 17},  // two colours
        {1, 1, 24, 1, 1},  // scale 1 of a single pixel
        {1, 1, 24, 7, 5},  // a single pixel enlarged
        {1, 9, 24, 3, 9},  // a single column enlarged
        {90, 61, 24, 90, 61},  // scale 1
        {45, 30, 24, 90, 61},  // enlarged: radius 2
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + "x" + std::to_string(c.bits) + " to " +
                     std::to_string(c.width) + "x" + std::to_string(c.height));
        TDIB picture;
        MakeNoise(picture, c.w, c.h, c.bits, uint32_t(c.w * 31 + c.height));
        const Grid expected = ReferencePreview(picture, c.width, c.height);
        TPreviewBuilder builder;
        TDIB preview;
        builder.Build(picture, c.width, c.height, preview);
        ASSERT_EQ(preview.Width(), c.width);
        ASSERT_EQ(preview.Height(), c.height);
        EXPECT_EQ(preview.BitCount(), 24);
        EXPECT_EQ(ColorsOf(preview), expected);
    }
}

TEST(PreviewImage, ReadsThePictureWithoutCopyingOrChangingIt) {
    TDIB picture, other;
    MakeNoise(picture, 300, 200, 24, 9);
    other.Assign(&picture);  // shared, as the window's picture is with the builder
    TDIBStore* store = picture.Image();
    const Grid before = ColorsOf(picture);
    TPreviewBuilder builder;
    TDIB preview;
    builder.Build(picture, 70, 40, preview);
    EXPECT_EQ(picture.Image(), store);
    EXPECT_EQ(other.Image(), store);
    EXPECT_EQ(ColorsOf(picture), before);
}

TEST(PreviewImage, CompressedPictureIsReadDecoded) {
    // A 4 × 2 RLE8 bitmap: bottom row 10 10 10 10, top row 50 50 50 50 (grey table).
    std::vector<uint8_t> f(54 + 1024, 0);
    f[0] = 'B', f[1] = 'M', f[14] = 40, f[18] = 4, f[22] = 2, f[26] = 1, f[28] = 8, f[30] = 1;
    for (int i = 0; i < 256; ++i) f[54 + 4 * i] = f[55 + 4 * i] = f[56 + 4 * i] = uint8_t(i);
    const uint8_t rle[] = {4, 10, 0, 0, 4, 50, 0, 1};
    f.insert(f.end(), std::begin(rle), std::end(rle));
    f[34] = sizeof rle;
    TCustomMemoryStream stream(f.data(), int64_t(f.size()));
    TDIB picture;
    picture.LoadFromStream(stream);
    ASSERT_TRUE(picture.IsCompressed());
    TPreviewBuilder builder;
    TDIB preview;
    builder.Build(picture, 2, 2, preview);  // radius 1: every window holds both rows
    EXPECT_TRUE(picture.IsCompressed());
    for (int y = 0; y < 2; ++y)
        for (int x = 0; x < 2; ++x) EXPECT_EQ(GetStorePixel(*preview.Image(), x, y), RGBColor(30, 30, 30));
}

}  // namespace
}  // namespace tilvorn
