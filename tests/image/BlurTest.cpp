// Box blur: exact window averages at every source and target bit count, checked against a
// plain sum over each window; the grey tables; progress; errors.
#include <gtest/gtest.h>

#include <cstring>

#include "image/DIB.h"
#include "support/TestSupport.h"
#include "image/ImageTestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

// The blur's result by its definition: the sums over each clipped window, taken from
// summed-area tables so that large pictures and windows stay quick.
Colors Reference(TDIB& source, int bitCount, int radius) {
    Colors in = DecodedColors(source);
    Colors out = in;
    int64_t r = std::min<int64_t>(std::llabs(int64_t(radius)), 1 << 20);
    int w = in.width, h = in.height;
    std::vector<uint64_t> sat[3];
    for (auto& t : sat) t.assign(size_t(w + 1) * (h + 1), 0);
    auto at = [w](int x, int y) { return size_t(y) * (w + 1) + x; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            TColor c = in.At(x, y);
            const uint64_t v[3] = {ColorRed(c), ColorGreen(c), ColorBlue(c)};
            for (int k = 0; k < 3; ++k)
                sat[k][at(x + 1, y + 1)] = v[k] + sat[k][at(x, y + 1)] + sat[k][at(x + 1, y)] - sat[k][at(x, y)];
        }
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int x0 = int(std::max<int64_t>(x - r, 0)), x1 = int(std::min<int64_t>(x + r, w - 1)) + 1;
            int y0 = int(std::max<int64_t>(y - r, 0)), y1 = int(std::min<int64_t>(y + r, h - 1)) + 1;
            uint64_t sum[3];
            for (int k = 0; k < 3; ++k)
                sum[k] = sat[k][at(x1, y1)] - sat[k][at(x0, y1)] - sat[k][at(x1, y0)] + sat[k][at(x0, y0)];
            uint64_t R = sum[0], G = sum[1], B = sum[2], N = uint64_t(x1 - x0) * uint64_t(y1 - y0);
            TColor result;
            if (bitCount <= 8) {
                uint64_t grey = ((R + G + B) / N) / 3;
                int level;
                if (bitCount == 8)
                    level = int(grey);
                else if (bitCount == 4)
                    level = int(grey >> 4) * 17;
                else
                    level = grey > 127 ? 192 : 0;
                result = RGBColor(uint8_t(level), uint8_t(level), uint8_t(level));
            } else {
                result = RGBColor(uint8_t(R / N), uint8_t(G / N), uint8_t(B / N));
                if (bitCount == 16) {  // stored in 5-6-5
                    uint8_t r8, g8, b8;
                    pf565.Unpack(pf565.Pack(ColorRed(result), ColorGreen(result), ColorBlue(result)), r8, g8, b8);
                    result = RGBColor(r8, g8, b8);
                }
            }
            out.pixels[size_t(y) * in.width + x] = result;
        }
    return out;
}

}  // namespace

TEST(Blur, MatchesWindowSumsAtEveryBitCount) {
    const int bitCounts[] = {1, 4, 8, 16, 24, 32};
    for (int from : bitCounts)
        for (int to : bitCounts)
            for (int radius : {1, 2, 5}) {
                SCOPED_TRACE(std::to_string(from) + " -> " + std::to_string(to) + " r" + std::to_string(radius));
                TDIB dib;
                MakeNoise(dib, 13, 9, from, uint32_t(from * 100 + radius));
                Colors expected = Reference(dib, to, radius);
                dib.PixelFormat = to == 16 ? pf565 : pf888;
                dib.Blur(to, radius);
                EXPECT_EQ(dib.BitCount(), to);
                EXPECT_EQ(DecodedColors(dib), expected);
            }
}

TEST(Blur, LargePicturesAndWindowsStayExact) {
    // Windows of thousands of pixels, wider than the picture is high, at the two fast results
    // and one of the others.
    struct Case {
        int w, h, bits, radius;
    } cases[] = {{257, 130, 24, 60}, {257, 130, 8, 60},  {257, 130, 24, 100}, {257, 130, 8, 300},
                 {300, 90, 32, 40},  {1100, 3, 24, 520}, {3, 1100, 8, 700}};
    for (const auto& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + " to " + std::to_string(c.bits) + " r" +
                     std::to_string(c.radius));
        TDIB dib;
        MakeNoise(dib, c.w, c.h, 24, uint32_t(c.radius));
        Colors expected = Reference(dib, c.bits, c.radius);
        dib.Blur(c.bits, c.radius);
        EXPECT_EQ(DecodedColors(dib), expected);
    }
}

TEST(Blur, EverySmallRadiusOfColourAndGreyResultsStaysExact) {
    // The radii the row-sum path takes (1 to 16) and the first one past it, on pictures wide
    // enough for whole vector loops, ones just a window wide (19 is the window of radius 9,
    // whose sums take away the cell after the window), and ones shorter than a window;
    // near-white noise gives the largest sums each width of counter can hold.
    struct Size {
        int w, h;
    } sizes[] = {{101, 37}, {70, 5}, {33, 2}, {19, 6}};
    for (const Size& size : sizes)
        for (int radius = 1; radius <= 17; ++radius)
            for (int bits : {24, 8}) {
                if (size.w < 2 * radius + 1 && size.w != 33) continue;
                SCOPED_TRACE(std::to_string(size.w) + "x" + std::to_string(size.h) + " to " + std::to_string(bits) +
                             " r" + std::to_string(radius));
                TDIB dib;
                MakeNoise(dib, size.w, size.h, 24, uint32_t(radius * 7 + bits));
                if (radius % 2)
                    for (int y = 0; y < size.h; ++y)
                        for (int i = 0; i < 3 * size.w; ++i) dib.ScanLine(y)[i] |= 0xF0;
                Colors expected = Reference(dib, bits, radius);
                dib.Blur(bits, radius);
                EXPECT_EQ(DecodedColors(dib), expected);
            }
}

TEST(Blur, RadiusZeroNegativeAndLarge) {
    TDIB dib;
    MakeNoise(dib, 6, 4, 24, 7);
    TDIBStore* before = dib.Image();
    Colors original = DecodedColors(dib);
    dib.Blur(8, 0);  // nothing at all, whatever the bit count
    EXPECT_EQ(dib.Image(), before);
    EXPECT_EQ(dib.BitCount(), 24);

    TDIB negative, positive;
    negative.Assign(&dib);
    positive.Assign(&dib);
    negative.Blur(24, -2);
    positive.Blur(24, 2);
    EXPECT_EQ(DecodedColors(negative), DecodedColors(positive));
    EXPECT_EQ(DecodedColors(dib), original);  // the shared original is untouched

    // A window wider than the picture averages all of it into every pixel.
    uint64_t R = 0, G = 0, B = 0;
    for (TColor c : original.pixels) R += ColorRed(c), G += ColorGreen(c), B += ColorBlue(c);
    size_t n = original.pixels.size();
    TColor mean = RGBColor(uint8_t(R / n), uint8_t(G / n), uint8_t(B / n));
    for (int radius : {6, 1000, INT32_MAX, INT32_MIN}) {
        TDIB big;
        big.Assign(&dib);
        big.Blur(24, radius);
        for (TColor c : DecodedColors(big).pixels) EXPECT_EQ(c, mean) << radius;
    }
}

TEST(Blur, SinglePeakAndUniformPictures) {
    TDIB line;
    line.SetSize(5, 1, 24);
    std::memset(line.Pixels(), 0, size_t(line.Size()));
    std::memset(line.ScanLine(0) + 6, 255, 3);
    line.Blur(24, 1);
    const uint8_t* row = line.ScanLine(0);
    const int expected[] = {0, 85, 85, 85, 0};
    for (int x = 0; x < 5; ++x)
        for (int c = 0; c < 3; ++c) EXPECT_EQ(row[3 * x + c], expected[x]) << x;

    for (int radius : {1, 3, 50}) {
        TDIB uniform;
        uniform.SetSize(9, 7, 24);
        for (int y = 0; y < 7; ++y)
            for (int x = 0; x < 9; ++x) std::memcpy(uniform.ScanLine(y) + 3 * x, "\x11\x22\x33", 3);
        uniform.Blur(24, radius);
        for (TColor c : DecodedColors(uniform).pixels) EXPECT_EQ(c, RGBColor(0x33, 0x22, 0x11));
    }
}

TEST(Blur, GreyTablesOfTheResult) {
    struct Case {
        int bits;
        std::vector<int> entries;  // first entries
    } cases[] = {{1, {0, 192}}, {4, {0, 17, 34, 255}}, {8, {0, 1, 2, 255}}};
    for (const auto& c : cases) {
        TDIB dib;
        MakeNoise(dib, 4, 4, 24, 3);
        dib.Blur(c.bits, 1);
        const TColorTable& t = dib.Image()->ColorTable;
        EXPECT_EQ(t[0].rgbRed, c.entries[0]);
        EXPECT_EQ(t[1].rgbGreen, c.entries[1]);
        if (c.bits == 4) {
            EXPECT_EQ(t[2].rgbBlue, 34);
            EXPECT_EQ(t[15].rgbRed, 255);
            EXPECT_EQ(t[16].rgbRed, 0);  // entries past 2^bits are zero
        }
        if (c.bits == 8) {
            EXPECT_EQ(t[255].rgbRed, 255);
        }
        if (c.bits == 1) {
            EXPECT_EQ(t[2].rgbRed, 0);
        }
    }
}

TEST(Blur, ProgressStartsRunsAndEnds) {
    TDIB dib;
    MakeNoise(dib, 10, 50, 24, 1);
    std::vector<TProgressStage> stages;
    std::vector<int> percents;
    std::string names;
    dib.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t percent, bool, const TRect& rect,
                         const std::string& name) {
        stages.push_back(stage);
        percents.push_back(percent);
        names = name;
        EXPECT_EQ(rect.Right, 10);
    };
    dib.Blur(24, 2);
    ASSERT_GE(stages.size(), 3u);
    EXPECT_EQ(stages.front(), TProgressStage::psStarting);
    EXPECT_EQ(stages.back(), TProgressStage::psEnding);
    EXPECT_EQ(percents.back(), 100);
    EXPECT_EQ(names, "Blur");
    // Rows 0..49 of 50: percentages 0, 2, 4 … 98 change at every row after the first.
    EXPECT_EQ(stages.size(), size_t(1 + 49 + 1));
    for (size_t i = 1; i + 1 < percents.size(); ++i) EXPECT_EQ(percents[i], int(2 * i));
}

TEST(Blur, SixteenBitsNeedTheirFormatAndErrorsEndProgress) {
    TDIB dib;
    MakeNoise(dib, 4, 4, 24, 5);
    TDIBStore* before = dib.Image();
    int ends = 0;
    dib.OnProgress = [&](TGraphic&, TProgressStage stage, uint8_t, bool, const TRect&, const std::string&) {
        if (stage == TProgressStage::psEnding) ++ends;
    };
    ExpectError<EInvalidGraphicOperation>([&] { dib.Blur(16, 1); }, "PixelFormat in invalid");
    ExpectError<EInvalidGraphicOperation>([&] { dib.Blur(7, 1); }, "Bitcount in invalid (7)");
    EXPECT_EQ(dib.Image(), before);
    EXPECT_EQ(ends, 2);
}

TEST(Blur, CompressedPictureIsDecodedFirst) {
    // A 4 × 2 RLE8 picture: bottom row 10 10 10 10, top row 50 50 50 50.
    std::vector<uint8_t> f(54 + 1024, 0);
    f[0] = 'B', f[1] = 'M', f[14] = 40, f[18] = 4, f[22] = 2, f[26] = 1, f[28] = 8, f[30] = 1;
    for (int i = 0; i < 256; ++i) f[54 + 4 * i] = f[55 + 4 * i] = f[56 + 4 * i] = uint8_t(i);
    const uint8_t rle[] = {4, 10, 0, 0, 4, 50, 0, 1};
    f.insert(f.end(), std::begin(rle), std::end(rle));
    f[34] = sizeof rle;
    TCustomMemoryStream stream(f.data(), int64_t(f.size()));
    TDIB dib;
    dib.LoadFromStream(stream);
    ASSERT_TRUE(dib.IsCompressed());
    dib.Blur(8, 1);
    EXPECT_FALSE(dib.IsCompressed());
    for (int x = 0; x < 4; ++x) {
        EXPECT_EQ(dib.ScanLine(0)[x], 30);
        EXPECT_EQ(dib.ScanLine(1)[x], 30);
    }
}
