#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <functional>
#include <span>
#include <string>
#include <vector>

#include "core/Exceptions.h"
#include "readers/ReaderColor.h"
#include "support/TestSupport.h"

using namespace tilvorn;

namespace {

using Bytes = std::vector<uint8_t>;

std::string ErrorOf(const std::function<void()>& action) {
    try {
        action();
    } catch (const EColorConversionError& e) {
        return e.what();
    }
    return "";
}

const char* const kNoMethod = "Color conversion failed. Could not find a proper method.";
const char* const kIndexed = "Conversion between indexed and non-indexed pixel formats is not supported.";

}  // namespace

TEST(ColorManager, StartsAsRGBToBGRWithTheDisplayGammaTable) {
    TColorManager cm;
    EXPECT_TRUE(cm.NeedsSetup());
    EXPECT_EQ(cm.SourceModel(), ColorModel::RGB);
    EXPECT_EQ(cm.TargetModel(), ColorModel::BGR);
    EXPECT_EQ(cm.SourceBits(), 8);
    EXPECT_EQ(cm.TargetSamples(), 3);
    EXPECT_FLOAT_EQ(cm.LumaWeights()[1], 0.587f);
    Bytes source{10, 20, 30}, target(3, 0);
    cm.ConvertPixels(source.data(), target.data(), 1);
    EXPECT_EQ(target, (Bytes{30, 20, 10}));
    EXPECT_FALSE(cm.NeedsSetup());
    EXPECT_TRUE(cm.HasRowConverter());
}

TEST(ColorManager, GammaCorrectionUsesTheDefaultTable) {
    struct Case {
        uint8_t in, out;
    };
    const Case cases[] = {{0, 0}, {255, 255}, {128, 186}, {64, 136}, {1, 21}};
    TColorManager cm;
    cm.TargetFlags.Include(ConversionFlag::GammaCorrect);
    for (const Case& c : cases) {
        Bytes source{c.in, c.in, c.in}, target(3, 7);
        cm.ConvertPixels(source.data(), target.data(), 1);
        EXPECT_EQ(target, (Bytes{c.out, c.out, c.out})) << int(c.in);
        EXPECT_EQ(cm.GammaLut()[c.in], c.out);
    }
}

TEST(ColorManager, GammaTableSpansEightBitValuesAtLowDepths) {
    // A 4-bit grey image with a file gamma: its 16-step ramp is looked up at 0, 17, ..., 255
    // and must come out rising to white, not from stale entries.
    TColorManager cm;
    cm.SetSourceBits(4);
    cm.SetTargetBits(4);
    cm.SetTargetSamples(1);
    cm.ConfigureGamma(1.0f / 2.2f, 2.2f);  // cancels out: identity
    cm.TargetFlags.Include(ConversionFlag::GammaCorrect);
    TPalette ramp = cm.BuildGrayPalette(false);
    ASSERT_EQ(ramp.size(), 16u);
    for (unsigned i = 0; i < 16; ++i) EXPECT_EQ(ramp[i].Red, i * 17) << i;
}

TEST(ColorManager, AlphaIsConsumedOrKeptAsTheModelsSay) {
    TColorManager rgbaToBgr;
    rgbaToBgr.SetSourceModel(ColorModel::RGBA);
    Bytes rgba{1, 2, 3, 4, 5, 6, 7, 8}, bgr(6, 0);
    rgbaToBgr.ConvertPixels(rgba.data(), bgr.data(), 2);
    EXPECT_EQ(bgr, (Bytes{3, 2, 1, 7, 6, 5}));

    TColorManager rgbToBgra;
    rgbToBgra.SetTargetModel(ColorModel::BGRA);
    Bytes rgb{1, 2, 3, 4, 5, 6}, bgra(8, 0xEE);
    rgbToBgra.ConvertPixels(rgb.data(), bgra.data(), 2);
    EXPECT_EQ(bgra, (Bytes{3, 2, 1, 0xEE, 6, 5, 4, 0xEE}));

    TColorManager rgbaToBgra;
    rgbaToBgra.SetSourceModel(ColorModel::RGBA);
    rgbaToBgra.SetTargetModel(ColorModel::BGRA);
    rgbaToBgra.TargetFlags.Include(ConversionFlag::GammaCorrect);  // never on alpha
    Bytes both(4, 0);
    Bytes one{128, 0, 255, 128};
    rgbaToBgra.ConvertPixels(one.data(), both.data(), 1);
    EXPECT_EQ(both, (Bytes{255, 0, 186, 128}));
}

TEST(ColorManager, MaskSelectsTargetPixelsAndConsumesOnlyThoseSources) {
    TColorManager cm;
    Bytes source{1, 2, 3, 4, 5, 6, 9, 9, 9};
    Bytes target(16 * 3, 0);
    cm.ConvertPixels(source.data(), target.data(), 16, 0x80);
    for (unsigned i = 0; i < 16; ++i) {
        Bytes pixel(target.begin() + i * 3, target.begin() + i * 3 + 3);
        Bytes expected = i == 0 ? Bytes{3, 2, 1} : i == 8 ? Bytes{6, 5, 4} : Bytes{0, 0, 0};
        EXPECT_EQ(pixel, expected) << "pixel " << i;
    }
}

TEST(ColorManager, SixteenBitSamplesAreSwappedAndScaled) {
    TColorManager cm;
    cm.SetSourceBits(16);
    cm.SourceFlags.Include(ConversionFlag::SwapBytes);
    Bytes source{0xFF, 0xFF, 0x80, 0x00, 0x00, 0xFF};  // big-endian 65535, 32768, 255
    Bytes target(3, 0);
    cm.ConvertPixels(source.data(), target.data(), 1);
    EXPECT_EQ(target, (Bytes{0, 127, 255}));
}

TEST(ColorManager, PlanarRGBReadsOnePlanePerSample) {
    TColorManager cm;
    Bytes r{10, 11}, g{20, 21}, b{30, 31}, target(6, 0);
    cm.ConvertPixels({r.data(), g.data(), b.data()}, target.data(), 2);
    EXPECT_EQ(target, (Bytes{30, 20, 10, 31, 21, 11}));
}

TEST(ColorManager, EightBitColourRowsOfEveryLayoutGiveTheirPixels) {
    // Rows long enough for the wide-register loops and their ends: each layout against the
    // pixels worked out one by one.
    constexpr uint32_t kCount = 37;
    Bytes rgb(kCount * 3), rgbx(kCount * 4), r(kCount), g(kCount), b(kCount);
    for (uint32_t i = 0; i < kCount; ++i) {
        r[i] = uint8_t(i), g[i] = uint8_t(100 + i), b[i] = uint8_t(200 + i);
        rgb[3 * i] = rgbx[4 * i] = r[i];
        rgb[3 * i + 1] = rgbx[4 * i + 1] = g[i];
        rgb[3 * i + 2] = rgbx[4 * i + 2] = b[i];
        rgbx[4 * i + 3] = 0x77;
    }
    auto pixels = [&](bool blueFirst) {
        Bytes expected;
        for (uint32_t i = 0; i < kCount; ++i)
            for (uint8_t v : blueFirst ? Bytes{b[i], g[i], r[i]} : Bytes{r[i], g[i], b[i]}) expected.push_back(v);
        return expected;
    };
    struct Case {
        const char* name;
        ColorModel source, target;
        std::vector<const void*> planes;
        bool blueFirst;
    };
    const Case cases[] = {
        {"RGB to BGR", ColorModel::RGB, ColorModel::BGR, {rgb.data()}, true},
        {"RGB to RGB", ColorModel::RGB, ColorModel::RGB, {rgb.data()}, false},
        {"RGBA to BGR", ColorModel::RGBA, ColorModel::BGR, {rgbx.data()}, true},
        {"RGBA to RGB", ColorModel::RGBA, ColorModel::RGB, {rgbx.data()}, false},
        {"planes to BGR", ColorModel::RGB, ColorModel::BGR, {r.data(), g.data(), b.data()}, true},
        {"planes to RGB", ColorModel::RGB, ColorModel::RGB, {r.data(), g.data(), b.data()}, false},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetSourceModel(c.source);
        cm.SetTargetModel(c.target);
        Bytes target(kCount * 3 + 1, 0xEE);
        cm.ConvertPixels(std::span<const void* const>(c.planes), target.data(), kCount);
        EXPECT_EQ(Bytes(target.begin(), target.end() - 1), pixels(c.blueFirst)) << c.name;
        EXPECT_EQ(target.back(), 0xEE) << c.name << ": written past the row";
    }
}

TEST(ColorManager, CMYKBecomesRGBOrBGR) {
    struct Case {
        ColorModel target;
        Bytes cmyk;
        Bytes expected;
    };
    const Case cases[] = {
        {ColorModel::BGR, {0, 0, 0, 0}, {255, 255, 255}},
        {ColorModel::BGR, {255, 0, 0, 0}, {255, 255, 0}},  // cyan: no red
        {ColorModel::RGB, {255, 0, 0, 0}, {0, 255, 255}},
        {ColorModel::BGR, {0, 0, 0, 255}, {0, 0, 0}},
        {ColorModel::BGR, {100, 50, 0, 100}, {155, 124, 94}},  // 255-X-K+X*K/255 per sample
    };
    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetSourceModel(ColorModel::CMYK);
        cm.SetSourceSamples(4);
        cm.SetTargetModel(c.target);
        Bytes target(3, 0);
        cm.ConvertPixels(c.cmyk.data(), target.data(), 1);
        EXPECT_EQ(target, c.expected);
    }
    // Four planes are read as C, M, Y, K.
    TColorManager planar;
    planar.SetSourceModel(ColorModel::CMYK);
    Bytes c{255}, m{0}, y{0}, k{0}, target(3, 0);
    planar.ConvertPixels({c.data(), m.data(), y.data(), k.data()}, target.data(), 1);
    EXPECT_EQ(target, (Bytes{255, 255, 0}));
}

// L* is lightness as the eye sees it: L* 50 is the sRGB grey 119 (18 % of white's light).
TEST(ColorManager, CIELabWhiteAndMiddleGrey) {
    struct Case {
        Bytes lab;
        TConversionFlags flags;
        Bytes expected;
    };
    const Case cases[] = {
        {{100, 0, 0}, {}, {255, 255, 255}},
        {{50, 0, 0}, {}, {119, 119, 119}},
        {{255, 128, 128}, {ConversionFlag::LabLumaByteScale, ConversionFlag::LabChromaBias}, {255, 255, 255}},
        {{0, 0, 0}, {}, {0, 0, 0}},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetSourceModel(ColorModel::CIELab);
        cm.SourceFlags = c.flags;
        Bytes target(3, 9);
        cm.ConvertPixels(c.lab.data(), target.data(), 1);
        EXPECT_EQ(target, c.expected);
    }
}

// 16-bit samples give the colours of their 8-bit values, signed or biased, in either byte
// order; a pure red and a blue stay what they are in sRGB.
TEST(ColorManager, CIELabSixteenBitsAgreeWithEightBits) {
    struct Lab {
        int L, a, b;  // L over 0..255, a and b signed
    };
    const Lab colours[] = {{255, 0, 0}, {128, 0, 0}, {136, 80, 67}, {47, 53, -71}, {200, -60, 90}, {20, 10, -30}};
    for (const Lab& c : colours) {
        SCOPED_TRACE(testing::Message() << c.L << " " << c.a << " " << c.b);
        TColorManager narrow;
        narrow.SetSourceModel(ColorModel::CIELab);
        narrow.SourceFlags = {ConversionFlag::LabLumaByteScale};
        Bytes eight{uint8_t(c.L), uint8_t(c.a), uint8_t(c.b)}, want(3, 0);
        narrow.ConvertPixels(eight.data(), want.data(), 1);
        struct Form {
            TConversionFlags flags;
            uint16_t a, b;
            bool bigEndian;
        } forms[] = {{{ConversionFlag::LabLumaByteScale}, uint16_t(c.a * 256), uint16_t(c.b * 256), false},
                     {{ConversionFlag::LabLumaByteScale, ConversionFlag::LabChromaBias, ConversionFlag::SwapBytes},
                      uint16_t((c.a + 128) * 256),
                      uint16_t((c.b + 128) * 256),
                      true}};
        for (const Form& f : forms) {
            TColorManager wide;
            wide.SetSourceModel(ColorModel::CIELab);
            wide.SetSourceBits(16);
            wide.SourceFlags = f.flags;
            Bytes sixteen;
            for (uint16_t v : {uint16_t(c.L * 257), f.a, f.b}) {
                sixteen.push_back(uint8_t(f.bigEndian ? v >> 8 : v));
                sixteen.push_back(uint8_t(f.bigEndian ? v : v >> 8));
            }
            Bytes got(3, 0);
            wide.ConvertPixels(sixteen.data(), got.data(), 1);
            EXPECT_EQ(got, want) << "big-endian " << f.bigEndian;
        }
    }
    // sRGB red is L* 53.24, a* 80.09, b* 67.20 of the D65 white.
    TColorManager red;
    red.SetSourceModel(ColorModel::CIELab);
    red.SetSourceBits(16);
    red.SourceFlags = {ConversionFlag::LabLumaByteScale};
    const uint16_t samples[3] = {uint16_t(53.2408 / 100 * 65535 + 0.5), uint16_t(80.0925 * 256 + 0.5),
                                 uint16_t(67.2032 * 256 + 0.5)};
    Bytes sixteen, bgr(3, 0);
    for (uint16_t v : samples) sixteen.insert(sixteen.end(), {uint8_t(v), uint8_t(v >> 8)});
    red.ConvertPixels(sixteen.data(), bgr.data(), 1);
    EXPECT_NEAR(bgr[0], 0, 1);
    EXPECT_NEAR(bgr[1], 0, 1);
    EXPECT_NEAR(bgr[2], 255, 1);
}

TEST(ColorManager, LumaChromaTablesForBothCentres) {
    TColorManager cm;
    cm.SetSourceModel(ColorModel::YCbCr);
    Bytes ycc{128, 128, 128}, target(3, 0);
    cm.ConvertPixels(ycc.data(), target.data(), 1);
    EXPECT_EQ(cm.RedFromCr()[255], 178);
    EXPECT_EQ(cm.BlueFromCb()[255], 225);
    EXPECT_EQ(cm.GreenFromCr()[255], -91);
    EXPECT_EQ(cm.GreenFromCb()[255], -44);
    EXPECT_EQ(cm.RedFromCr()[128], 0);
    EXPECT_EQ(cm.BlueFromCb()[128], 0);
    EXPECT_EQ(cm.GreenFromCr()[128], 0);
    EXPECT_EQ(cm.GreenFromCb()[128], 0);
    EXPECT_EQ(target, (Bytes{128, 128, 128}));

    Bytes red{76, 85, 255};  // pure red in full-range YCbCr
    cm.ConvertPixels(red.data(), target.data(), 1);
    EXPECT_EQ(target, (Bytes{0, 0, 254}));

    cm.SetSourceModel(ColorModel::PhotoYCC);
    cm.ConvertPixels(ycc.data(), target.data(), 1);
    EXPECT_EQ(cm.RedFromCr()[137], 0);
    EXPECT_EQ(cm.BlueFromCb()[156], 0);
}

TEST(ColorManager, ChromaWeightsTakeEffectAtTheNextChoice) {
    TColorManager cm;
    cm.SetSourceModel(ColorModel::YCbCr);
    cm.SetChromaParameters({0.2126f, 0.7152f, 0.0722f}, 2, 1);
    EXPECT_EQ(cm.ChromaStepH(), 2);
    Bytes ycc{128, 128, 255}, target(3, 0);
    cm.ConvertPixels(ycc.data(), target.data(), 1);
    EXPECT_EQ(cm.RedFromCr()[255], 200);  // N(1.5748 x 127)
}

TEST(ColorManager, PackedSamplesScaleToTheTargetDepth) {
    struct Case {
        uint8_t sourceBits, targetBits;
        Bytes source;
        uint32_t count;
        uint8_t mask;
        Bytes expected;
    };
    const Case cases[] = {
        {1, 8, {0xB0}, 4, 0xFF, {255, 0, 255, 255}},
        {1, 8, {0xB0, 0x80}, 10, 0xFF, {255, 0, 255, 255, 0, 0, 0, 0, 255, 0}},
        {1, 8, {0xB0, 0x80}, 10, 0x7F, {0, 255, 0, 255, 255, 0, 0, 0, 0, 0}},  // masked: per pixel
        {4, 8, {0x0F, 0x80}, 3, 0xFF, {0, 255, 136}},
        {8, 4, {0, 255, 17, 34}, 4, 0xFF, {0x0F, 0x12}},
        {2, 8, {0x1B}, 4, 0xFF, {0, 85, 170, 255}},
        {8, 8, {1, 2, 3}, 3, 0xFF, {1, 2, 3}},
        {1, 1, {0xFF}, 8, 0x88, {0x88}},  // masked copy keeps the unselected bits
        {3, 8, {0xE0}, 2, 0xFF, {255, 0}},  // a 3-bit field does not span bytes
    };
    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetSourceModel(ColorModel::Gray);
        cm.SetTargetModel(ColorModel::Gray);
        cm.SetSourceSamples(1);
        cm.SetTargetSamples(1);
        cm.SetSourceBits(c.sourceBits);
        cm.SetTargetBits(c.targetBits);
        Bytes target(c.expected.size(), 0);
        cm.ConvertPixels(c.source.data(), target.data(), c.count, c.mask);
        EXPECT_EQ(target, c.expected) << int(c.sourceBits) << "->" << int(c.targetBits);
    }
}

TEST(ColorManager, GreyAndIndexConvertersForSixteenBits) {
    struct Case {
        ColorModel source, target;
        uint8_t sourceBits, targetBits;
        bool swap;
        Bytes in;
        Bytes expected;
    };
    const Case cases[] = {
        {ColorModel::Gray, ColorModel::Gray, 16, 8, true, {0x80, 0x00, 0xFF, 0xFF}, {127, 255}},
        {ColorModel::GrayAlpha, ColorModel::Gray, 8, 8, false, {10, 99, 20, 99}, {10, 20}},
        {ColorModel::GrayAlpha, ColorModel::Indexed, 16, 8, false, {0xFF, 0xFF, 0, 0, 0, 0, 0, 0}, {255, 0}},
        {ColorModel::Gray, ColorModel::Gray, 8, 16, false, {1, 255}, {1, 1, 255, 255}},
        {ColorModel::Indexed, ColorModel::Indexed, 16, 8, true, {0xFF, 0xFF, 0x00, 0x01}, {255, 0}},
        {ColorModel::Indexed, ColorModel::Indexed, 16, 16, true, {0x12, 0x34}, {0x34, 0x12}},
        {ColorModel::Indexed, ColorModel::Indexed, 1, 16, false, {0x80}, {0xFF, 0xFF, 0, 0}},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetSourceModel(c.source);
        cm.SetTargetModel(c.target);
        cm.SetSourceSamples(1);
        cm.SetTargetSamples(1);
        cm.SetSourceBits(c.sourceBits);
        cm.SetTargetBits(c.targetBits);
        if (c.swap) cm.SourceFlags.Include(ConversionFlag::SwapBytes);
        Bytes target(c.expected.size(), 0);
        cm.ConvertPixels(c.in.data(), target.data(), uint32_t(c.expected.size() / (c.targetBits == 16 ? 2 : 1)));
        EXPECT_EQ(target, c.expected) << int(c.source) << " " << int(c.sourceBits) << "->" << int(c.targetBits);
    }
}

TEST(ColorManager, UnsupportedPairsRaiseTheirMessages) {
    struct Case {
        ColorModel source, target;
        uint8_t sourceBits, targetBits;
        const char* message;
    };
    const Case cases[] = {
        {ColorModel::CMY, ColorModel::BGR, 8, 8, kNoMethod},
        {ColorModel::Unknown, ColorModel::BGR, 8, 8, kNoMethod},
        {ColorModel::GrayAlpha, ColorModel::GrayAlpha, 8, 8, kIndexed},
        {ColorModel::Indexed, ColorModel::BGR, 8, 8, kIndexed},
        {ColorModel::RGB, ColorModel::Gray, 8, 8, kIndexed},
        {ColorModel::Gray, ColorModel::Gray, 4, 16, kNoMethod},
        {ColorModel::RGB, ColorModel::BGR, 8, 16, kNoMethod},  // no bitmap holds 16-bit colour
    };
    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetSourceModel(c.source);
        cm.SetTargetModel(c.target);
        cm.SetSourceBits(c.sourceBits);
        cm.SetTargetBits(c.targetBits);
        Bytes source(8, 0), target(8, 0);
        EXPECT_EQ(ErrorOf([&] { cm.ConvertPixels(source.data(), target.data(), 1); }), c.message)
            << int(c.source) << "->" << int(c.target);
    }
}

TEST(ColorManager, SettersCheckTheirValues) {
    TColorManager cm;
    const std::string depth = "Color depth is invalid. Bits per sample must be 1, 2, 4, 8 or 16.";
    const std::string samples = "Sample count per pixel does not correspond to the given color scheme.";
    EXPECT_EQ(ErrorOf([&] { cm.SetSourceBits(3); }), "");
    EXPECT_EQ(cm.SourceBits(), 3);
    EXPECT_EQ(ErrorOf([&] { cm.SetSourceBits(17); }), depth);
    EXPECT_EQ(ErrorOf([&] { cm.SetSourceBits(0); }), depth);
    EXPECT_EQ(ErrorOf([&] { cm.SetTargetBits(0); }), depth);
    EXPECT_EQ(cm.SourceBits(), 3);  // a failing setter leaves the setting
    EXPECT_EQ(ErrorOf([&] { cm.SetSourceSamples(0); }), samples);
    EXPECT_EQ(ErrorOf([&] { cm.SetTargetSamples(5); }), samples);
    EXPECT_EQ(ErrorOf([&] { cm.SetTargetSamples(4); }), "");

    const std::string subsampling = "Subsampling value is invalid. Allowed are 1, 2 and 4.";
    EXPECT_EQ(ErrorOf([&] { cm.SetChromaParameters({0.5f}, 3, 1); }), subsampling);
    EXPECT_FLOAT_EQ(cm.LumaWeights()[0], 0.5f);  // weights are stored before the checks
    EXPECT_EQ(ErrorOf([&] { cm.SetChromaParameters({}, 2, 8); }), subsampling);
    EXPECT_EQ(ErrorOf([&] { cm.SetChromaParameters({}, 1, 2); }),
              "Vertical subsampling value must be <= horizontal subsampling value.");
    EXPECT_EQ(ErrorOf([&] { cm.SetChromaParameters({}, 4, 2); }), "");
    EXPECT_EQ(cm.ChromaStepV(), 2);
}

TEST(ColorManager, OnlyChangesMarkTheConverterForRechoosing) {
    TColorManager cm;
    Bytes pixel{1, 2, 3}, target(3, 0);
    cm.ConvertPixels(pixel.data(), target.data(), 1);
    cm.SetSourceBits(8);
    cm.SetTargetModel(ColorModel::BGR);
    cm.ConfigureGamma(2.0f, 2.2f);
    EXPECT_FALSE(cm.NeedsSetup());
    cm.SetTargetModel(ColorModel::RGB);
    EXPECT_TRUE(cm.NeedsSetup());
    cm.ConvertPixels(pixel.data(), target.data(), 1);
    EXPECT_EQ(target, (Bytes{1, 2, 3}));
}

TEST(ColorManager, PixelFormatForEachSide) {
    struct Case {
        uint8_t samples, bits;
        BitmapPixelFormat expected;
    };
    const Case cases[] = {
        {1, 1, BitmapPixelFormat::Bits1},  {1, 2, BitmapPixelFormat::Bits4},  {1, 4, BitmapPixelFormat::Bits4},
        {1, 8, BitmapPixelFormat::Bits8},  {1, 16, BitmapPixelFormat::Bits8}, {1, 5, BitmapPixelFormat::Custom},
        {3, 5, BitmapPixelFormat::Bits15}, {3, 8, BitmapPixelFormat::Bits24}, {3, 16, BitmapPixelFormat::Bits24},
        {4, 8, BitmapPixelFormat::Bits32}, {4, 4, BitmapPixelFormat::Custom}, {2, 8, BitmapPixelFormat::Custom},
    };
    for (const Case& c : cases) {
        TColorManager cm;
        cm.SetTargetSamples(c.samples);
        cm.SetTargetBits(c.bits);
        EXPECT_EQ(cm.PixelFormatFor(1), c.expected) << int(c.samples) << "x" << int(c.bits);
        EXPECT_EQ(cm.PixelFormatFor(0), BitmapPixelFormat::Bits24);  // the source side stays 3 x 8
    }
}

TEST(ColorManager, GrayPalettes) {
    TColorManager cm;
    cm.SetTargetBits(1);
    cm.SetTargetSamples(1);
    TPalette reversed = cm.BuildGrayPalette(true);
    ASSERT_EQ(reversed.size(), 2u);
    EXPECT_EQ(reversed[0], (TPaletteEntry{255, 255, 255}));
    EXPECT_EQ(reversed[1], (TPaletteEntry{0, 0, 0}));
    cm.SetTargetSamples(3);
    EXPECT_EQ(cm.BuildGrayPalette(false).size(), 8u);
    cm.SetTargetBits(4);
    cm.SetTargetSamples(1);
    TPalette sixteen = cm.BuildGrayPalette(false);
    ASSERT_EQ(sixteen.size(), 16u);
    EXPECT_EQ(sixteen[1].Green, 17);
    EXPECT_EQ(sixteen[15].Blue, 255);
}

TEST(ColorManager, PalettesFromEveryLayout) {
    TColorManager cm;  // 8 and 8 bits: no depth adjustment
    Bytes triple{1, 2, 3, 4, 5, 6};
    EXPECT_EQ(cm.BuildPalette({triple.data()}, RawPaletteFormat::Interleaved8Triple, 2, false),
              (TPalette{{1, 2, 3}, {4, 5, 6}}));
    EXPECT_EQ(cm.BuildPalette({triple.data()}, RawPaletteFormat::Interleaved8Triple, 2, true),
              (TPalette{{3, 2, 1}, {6, 5, 4}}));
    Bytes quad{1, 2, 3, 99, 4, 5, 6, 99};
    EXPECT_EQ(cm.BuildPalette({quad.data()}, RawPaletteFormat::Interleaved8Quad, 2, true),
              (TPalette{{3, 2, 1}, {6, 5, 4}}));
    Bytes r{1, 2}, g{3, 4}, b{5, 6};
    EXPECT_EQ(cm.BuildPalette({r.data(), g.data(), b.data()}, RawPaletteFormat::Planar8, 2, true),
              (TPalette{{1, 3, 5}, {2, 4, 6}}));
    Bytes r16{0xFF, 0xFF}, g16{0x00, 0x80}, b16{0x00, 0x00};
    cm.SourceFlags.Include(ConversionFlag::SwapBytes);  // big-endian TIFF colour map
    EXPECT_EQ(cm.BuildPalette({r16.data(), g16.data(), b16.data()}, RawPaletteFormat::Planar16, 1, false),
              (TPalette{{255, 0, 0}}));
    Bytes triple16{0xFF, 0xFF, 0x00, 0x00, 0x80, 0x00};
    EXPECT_EQ(cm.BuildPalette({triple16.data()}, RawPaletteFormat::Interleaved16Triple, 1, false),
              (TPalette{{255, 0, 127}}));
    cm.TargetFlags.Include(ConversionFlag::GammaCorrect);
    Bytes grey{128, 128, 128};
    EXPECT_EQ(cm.BuildPalette({grey.data()}, RawPaletteFormat::Interleaved8Triple, 1, false),
              (TPalette{{186, 186, 186}}));
    // More than 256 colours are cut to 256.
    Bytes many(300 * 3, 7);
    cm.TargetFlags.Clear();
    EXPECT_EQ(cm.BuildPalette({many.data()}, RawPaletteFormat::Interleaved8Triple, 300, false).size(), 256u);
}

TEST(ColorManager, PaletteFollowsTheDepthChange) {
    Bytes ramp(256 * 3);
    for (int i = 0; i < 256; ++i) ramp[i * 3] = ramp[i * 3 + 1] = ramp[i * 3 + 2] = uint8_t(i);
    TColorManager reduce;
    reduce.SetSourceBits(8);
    reduce.SetTargetBits(4);
    TPalette sixteen = reduce.BuildPalette({ramp.data()}, RawPaletteFormat::Interleaved8Triple, 256, false);
    ASSERT_EQ(sixteen.size(), 16u);
    for (unsigned j = 0; j < 16; ++j) EXPECT_EQ(sixteen[j].Red, j * 17) << j;

    TColorManager expand;
    expand.SetSourceBits(1);
    expand.SetTargetBits(8);
    Bytes two{10, 10, 10, 200, 200, 200};
    TPalette full = expand.BuildPalette({two.data()}, RawPaletteFormat::Interleaved8Triple, 2, false);
    ASSERT_EQ(full.size(), 256u);
    EXPECT_EQ(full[0].Red, 10);
    EXPECT_EQ(full[254].Red, 10);
    EXPECT_EQ(full[255].Red, 200);  // where the packed converter puts index 1
}

// --- against ImageMagick's own conversions of its built-in rose picture ---------------------

namespace {

std::vector<uint8_t> MagickRaw(const std::string& dir, const std::string& options, const std::string& output) {
    const std::string file = dir + "/" + output.substr(output.find(':') + 1);
    if (test::Run("/usr/bin/convert rose: " + options + " -depth 8 " + output.substr(0, output.find(':') + 1) + file +
                  " 2>/dev/null") != 0)
        return {};
    return test::ReadFileBytes(file);
}

/// The largest difference between the converter's BGR rows and ImageMagick's RGB bytes.
int WorstDifference(const Bytes& ours, const Bytes& rgb) {
    int worst = 0;
    for (size_t i = 0; i + 2 < rgb.size(); i += 3)
        for (int k = 0; k < 3; ++k) worst = std::max(worst, std::abs(int(ours[i + 2 - k]) - int(rgb[i + k])));
    return worst;
}

}  // namespace

TEST(ColorManagerPeer, MatchesImageMagickForCMYKAndYCbCr) {
    if (!test::HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick's /usr/bin/convert is not installed";
    const std::string dir = test::TempDir("color_peer");
    const Bytes rgb = MagickRaw(dir, "", "rgb:rose.rgb");
    const Bytes cmyk = MagickRaw(dir, "-colorspace CMYK", "cmyk:rose.cmyk");
    const Bytes ycc = MagickRaw(dir, "-colorspace YCbCr -set colorspace sRGB", "rgb:rose.ycc");
    ASSERT_FALSE(rgb.empty());
    const uint32_t pixels = uint32_t(rgb.size() / 3);
    ASSERT_EQ(cmyk.size(), pixels * 4u);
    ASSERT_EQ(ycc.size(), pixels * 3u);

    TColorManager fromCmyk;
    fromCmyk.SetSourceModel(ColorModel::CMYK);
    fromCmyk.SetSourceSamples(4);
    Bytes bgr(rgb.size());
    fromCmyk.ConvertPixels(cmyk.data(), bgr.data(), pixels);
    EXPECT_LE(WorstDifference(bgr, rgb), 1);

    TColorManager fromYcc;
    fromYcc.SetSourceModel(ColorModel::YCbCr);
    fromYcc.ConvertPixels(ycc.data(), bgr.data(), pixels);
    EXPECT_LE(WorstDifference(bgr, rgb), 5);  // both sides quantise to 8 bits
}

TEST(ColorManager, TooFewPlanesAreRefusedRatherThanRead) {
    // Two read positions mean planes, but a three-sample model needs three of them.
    for (ColorModel model : {ColorModel::RGB, ColorModel::CIELab, ColorModel::YCbCr}) {
        TColorManager cm;
        cm.SetSourceModel(model);
        Bytes a{1}, b{2}, target(3, 0);
        EXPECT_EQ(ErrorOf([&] { cm.ConvertPixels({a.data(), b.data()}, target.data(), 1); }), kNoMethod) << int(model);
        EXPECT_EQ(target, (Bytes{0, 0, 0}));
    }
}
