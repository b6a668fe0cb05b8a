#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "TwainTestSupport.h"
#include "core/Streams.h"
#include "support/TestSupport.h"
#include "twain/TwainDib.h"

namespace tilvorn::twain::test {
namespace {

namespace fs = std::filesystem;

HGLOBAL HeaderOnly(uint32_t headerSize, int width, int height, int bits, uint32_t colorsUsed, size_t extra = 0) {
    HGLOBAL block = GlobalAlloc(platform::GHND, std::max<size_t>(headerSize, 12) + extra);
    auto* p = static_cast<uint8_t*>(GlobalLock(block));
    std::memcpy(p, &headerSize, 4);
    if (headerSize == 12) {
        uint16_t w = uint16_t(width), h = uint16_t(height), planes = 1, b = uint16_t(bits);
        std::memcpy(p + 4, &w, 2), std::memcpy(p + 6, &h, 2), std::memcpy(p + 8, &planes, 2),
            std::memcpy(p + 10, &b, 2);
    } else {
        std::memcpy(p + 4, &width, 4), std::memcpy(p + 8, &height, 4);
        p[12] = 1, p[14] = uint8_t(bits);
        std::memcpy(p + 32, &colorsUsed, 4);
    }
    GlobalUnlock(block);
    return block;
}

/// A block's pixel colour as 0x00RRGGBB from a 24-bit working image.
uint32_t ShownColour(TDIB& dib, int x, int y) {
    TColor c = dib.Canvas().GetPixel(x, y);
    return uint32_t(ColorRed(c)) << 16 | uint32_t(ColorGreen(c)) << 8 | ColorBlue(c);
}

// --- geometry and colour count ---------------------------------------------------------------

struct HeaderCase {
    const char* name;
    uint32_t headerSize;
    int width, height, bits;
    uint32_t colorsUsed;
    int colorCount;
    size_t pixelOffset;
};

class HeaderTest : public ::testing::TestWithParam<HeaderCase> {};

TEST_P(HeaderTest, ReadsGeometryColourCountAndPixelOffset) {
    const HeaderCase& c = GetParam();
    HGLOBAL block = HeaderOnly(c.headerSize, c.width, c.height, c.bits, c.colorsUsed, 4 * 256);
    EXPECT_EQ(TwainDibPixelWidth(block), c.width);
    EXPECT_EQ(TwainDibPixelHeight(block), c.height);
    EXPECT_EQ(TwainDibBitCount(block), c.bits);
    EXPECT_EQ(TwainDibColorCount(block), c.colorCount);
    auto* locked = static_cast<uint8_t*>(GlobalLock(block));
    EXPECT_EQ(size_t(TwainDibPixelData(locked) - locked), c.pixelOffset);
    GlobalUnlock(block);
    EXPECT_EQ(platform::GlobalLockCount(block), 0) << "every routine unlocks";
    GlobalFree(block);
}

INSTANTIATE_TEST_SUITE_P(Headers, HeaderTest,
                         ::testing::Values(HeaderCase{"TrueColour", 40, 100, 50, 24, 0, 0, 40},
                                           HeaderCase{"ThirtyTwoBits", 40, 3, 2, 32, 0, 0, 40},
                                           HeaderCase{"EightBitsFullTable", 40, 8, 8, 8, 0, 256, 40 + 1024},
                                           HeaderCase{"EightBitsSixteenUsed", 40, 8, 8, 8, 16, 16, 40 + 64},
                                           HeaderCase{"OneBit", 40, 9, 1, 1, 0, 2, 48},
                                           HeaderCase{"FourBits", 40, 9, 1, 4, 0, 16, 104},
                                           HeaderCase{"TopDown", 40, 7, -5, 8, 2, 2, 48},
                                           HeaderCase{"MoreThan256Used", 40, 4, 4, 24, 300, 0, 40},
                                           HeaderCase{"CoreEightBits", 12, 6, 4, 8, 0, 256, 12 + 1024},
                                           HeaderCase{"CoreTrueColour", 12, 6, 4, 24, 0, 0, 12}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TwainDibTest, ABlockThatCannotBeReadAnswersZero) {
    HGLOBAL tiny = GlobalAlloc(platform::GHND, 8);
    for (HGLOBAL block : {HGLOBAL(nullptr), tiny}) {
        EXPECT_EQ(TwainDibPixelWidth(block), 0);
        EXPECT_EQ(TwainDibPixelHeight(block), 0);
        EXPECT_EQ(TwainDibBitCount(block), 0);
        EXPECT_EQ(TwainDibColorCount(block), 0);
        EXPECT_EQ(TwainDibPalette(block), nullptr);
    }
    GlobalFree(tiny);
}

// --- palettes --------------------------------------------------------------------------------

TEST(TwainDibTest, TheDefaultPaletteKeepsTheSystemColoursAndTheSpreadBetween) {
    const auto& palette = TwainDefaultPalette();
    const PALETTEENTRY systemColours[20] = {
        {0, 0, 0, 0},          {0x80, 0, 0, 0},       {0, 0x80, 0, 0},       {0x80, 0x80, 0, 0},
        {0, 0, 0x80, 0},       {0x80, 0, 0x80, 0},    {0, 0x80, 0x80, 0},    {0xC0, 0xC0, 0xC0, 0},
        {0xC0, 0xDC, 0xC0, 0}, {0xA6, 0xCA, 0xF0, 0}, {0xFF, 0xFB, 0xF0, 0}, {0xA0, 0xA0, 0xA4, 0},
        {0x80, 0x80, 0x80, 0}, {0xFF, 0, 0, 0},       {0, 0xFF, 0, 0},       {0xFF, 0xFF, 0, 0},
        {0, 0, 0xFF, 0},       {0xFF, 0, 0xFF, 0},    {0, 0xFF, 0xFF, 0},    {0xFF, 0xFF, 0xFF, 0}};
    for (int i = 0; i < 20; ++i) EXPECT_EQ(palette[i < 10 ? i : 236 + i], systemColours[i]) << "entry " << i;
    for (int i = 10; i <= 245; ++i) EXPECT_EQ(palette[i].peFlags, PC_NOCOLLAPSE) << "entry " << i;

    const uint8_t darkStart[8] = {0x04, 0x08, 0x0C, 0x11, 0x16, 0x1C, 0x22, 0x29};
    for (int i = 0; i < 8; ++i) EXPECT_EQ(palette[10 + i], (PALETTEENTRY{darkStart[i], darkStart[i], darkStart[i], 4}));
    const uint8_t lightEnd[5] = {0xDD, 0xE3, 0xEA, 0xF1, 0xF8};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(palette[241 + i], (PALETTEENTRY{lightEnd[i], lightEnd[i], lightEnd[i], 4}));
    EXPECT_EQ(palette[22], (PALETTEENTRY{0xFF, 0x7C, 0x80, 4}));
    EXPECT_EQ(palette[233], (PALETTEENTRY{0xA5, 0x00, 0x21, 4}));
    EXPECT_EQ(palette[29], (PALETTEENTRY{0x33, 0, 0, 4}));
    EXPECT_EQ(palette[30], (PALETTEENTRY{0x66, 0, 0, 4}));
    EXPECT_EQ(palette[32], (PALETTEENTRY{0xCC, 0, 0, 4}));
    int cubeColours = 0;
    auto onLevel = [](uint8_t v) { return v % 0x33 == 0; };
    for (int i = 29; i <= 232; ++i)
        cubeColours += onLevel(palette[i].peRed) && onLevel(palette[i].peGreen) && onLevel(palette[i].peBlue);
    EXPECT_GT(cubeColours, (232 - 29 + 1) / 2) << "most of the middle is the colour cube";
}

struct PaletteCase {
    const char* name;
    int bits;
    uint32_t colorsUsed;
    size_t tableEntries;
    size_t paletteSize;
    bool ownTable;
};

class PaletteTest : public ::testing::TestWithParam<PaletteCase> {};

TEST_P(PaletteTest, ComesFromTheBlocksTableOrTheDefault) {
    const PaletteCase& c = GetParam();
    std::vector<uint32_t> table(c.tableEntries);
    for (size_t i = 0; i < table.size(); ++i) table[i] = uint32_t(i * 0x010203 + 0x405060) & 0xFFFFFF;
    HGLOBAL block = MakePackedDib(c.bits, 4, 2, table, c.colorsUsed, [](int, int) { return 0u; });
    int livePalettes = LivePaletteCount();
    HPALETTE palette = TwainDibPalette(block);
    ASSERT_NE(palette, nullptr);
    std::vector<PALETTEENTRY> entries(256);
    int got = GetPaletteEntries(palette, 0, 256, entries.data());
    ASSERT_EQ(size_t(got), c.paletteSize);
    for (int i = 0; i < got; ++i) {
        PALETTEENTRY wanted = c.ownTable
            ? PALETTEENTRY{uint8_t(table[i] >> 16), uint8_t(table[i] >> 8), uint8_t(table[i]), 0}
            : TwainDefaultPalette()[i];
        EXPECT_EQ(entries[i], wanted) << "entry " << i;
    }
    DeletePalette(palette);
    EXPECT_EQ(LivePaletteCount(), livePalettes);
    EXPECT_EQ(platform::GlobalLockCount(block), 0);
    GlobalFree(block);
}

INSTANTIATE_TEST_SUITE_P(Blocks, PaletteTest,
                         ::testing::Values(PaletteCase{"TrueColour", 24, 0, 0, 256, false},
                                           PaletteCase{"ThirtyTwoBits", 32, 0, 0, 256, false},
                                           PaletteCase{"EightBits", 8, 0, 256, 256, true},
                                           PaletteCase{"SixteenUsed", 8, 16, 16, 16, true},
                                           PaletteCase{"OneBit", 1, 0, 2, 2, true}),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TwainDibTest, ATableRunningPastTheBlockGivesNoPalette) {
    HGLOBAL block = HeaderOnly(40, 4, 4, 8, 200, 16);
    EXPECT_EQ(TwainDibPalette(block), nullptr);
    GlobalFree(block);
}

// --- painting --------------------------------------------------------------------------------

struct PaintCase {
    const char* name;
    TestScan picture;
    bool topDown;
};

std::vector<PaintCase> PaintCases() {
    std::vector<PaintCase> cases;
    for (const TestScan& p : TestScans())
        cases.push_back({p.bits == 1 ? "OneBit" : p.bits == 8 ? "EightBits" : "TrueColour", p, false});
    cases.push_back({"TrueColourTopDown", TestScans()[2], true});
    std::vector<uint32_t> sixteen(16);
    for (uint32_t i = 0; i < 16; ++i) sixteen[i] = i * 0x100F01;
    cases.push_back({"FourBits", {4, sixteen, [](int x, int y) { return uint32_t(x + 3 * y) % 16; }}, false});
    // 5-5-5 pixels with each channel at 0 or full, so the widening to 8 bits is unambiguous.
    cases.push_back({"SixteenBits",
                     {16,
                      {},
                      [](int x, int y) {
                          return uint32_t((x & 1 ? 0x7C00 : 0) | (y & 1 ? 0x03E0 : 0) | ((x + y) % 3 ? 0x1F : 0));
                      }},
                     false});
    cases.push_back(
        {"ThirtyTwoBits",
         {32, {}, [](int x, int y) { return uint32_t(x * 19) << 16 | uint32_t(y * 30) << 8 | uint32_t(x ^ y); }},
         false});
    return cases;
}

uint32_t Expected(const PaintCase& c, int x, int y) {
    if (c.picture.bits != 16) return c.picture.Colour(x, y);
    uint32_t v = c.picture.stored(x, y);
    return (v & 0x7C00 ? 0xFF0000u : 0) | (v & 0x03E0 ? 0x00FF00u : 0) | (v & 0x1F ? 0x0000FFu : 0);
}

class PaintTest : public ::testing::TestWithParam<PaintCase> {};

TEST_P(PaintTest, PaintsTheBlockWithItsOwnColours) {
    const PaintCase& c = GetParam();
    const int width = 13, height = 7;
    HGLOBAL block = MakePackedDib(c.picture.bits, width, height, c.picture.table, 0, c.picture.stored, c.topDown);
    TDIB target;
    target.SetSize(width, height, 24);
    TwainPaintDib(target.Canvas(), 0, 0, width, height, block, 0, 0);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) ASSERT_EQ(ShownColour(target, x, y), Expected(c, x, y)) << x << "," << y;
    EXPECT_EQ(platform::GlobalLockCount(block), 0);
    GlobalFree(block);
}

INSTANTIATE_TEST_SUITE_P(Depths, PaintTest, ::testing::ValuesIn(PaintCases()),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(TwainDibTest, PaintingAPartTakesTheSourceFromTheTopLeftAndLeavesTheRest) {
    const TestScan picture = TestScans()[2];
    HGLOBAL block = picture.Make(10, 8);
    TDIB target;
    target.SetSize(6, 5, 24);
    target.Canvas().Brush.Color = RGBColor(1, 2, 3);
    target.Canvas().FillRect(Rect(0, 0, 6, 5));
    TwainPaintDib(target.Canvas(), 2, 1, 3, 2, block, 4, 5);
    for (int y = 0; y < 5; ++y)
        for (int x = 0; x < 6; ++x) {
            bool inside = x >= 2 && x < 5 && y >= 1 && y < 3;
            uint32_t wanted = inside ? picture.Colour(x - 2 + 4, y - 1 + 5) : 0x010203;
            EXPECT_EQ(ShownColour(target, x, y), wanted) << x << "," << y;
        }
    GlobalFree(block);
}

TEST(TwainDibTest, ABlockTooShortForItsPixelsPaintsNothing) {
    HGLOBAL cut = HeaderOnly(40, 50, 50, 24, 0, 100);  // promises 7500 bytes of pixels, holds 100
    TDIB target;
    target.SetSize(4, 4, 24);
    target.Canvas().Brush.Color = clWhite;
    target.Canvas().FillRect(Rect(0, 0, 4, 4));
    for (HGLOBAL block : {cut, HGLOBAL(nullptr)}) {
        TwainPaintDib(target.Canvas(), 0, 0, 4, 4, block, 0, 0);
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 4; ++x) EXPECT_EQ(ShownColour(target, x, y), 0xFFFFFFu);
    }
    GlobalFree(cut);
}

// A 40-byte header (124 bytes for `v5`) with the given fields, an 8-bit grey table when
// `table` is set, then `pixels` bytes; bit-field blocks carry 5-6-5 masks after a 40-byte header.
HGLOBAL PackedBlock(int width, int height, int bits, uint32_t compression, uint32_t imageSize,
                    const std::vector<uint8_t>& pixels, bool table = false, bool v5 = false) {
    const uint32_t headerSize = v5 ? 124 : 40;
    std::vector<uint8_t> bytes(headerSize);
    auto put32 = [&](size_t at, uint32_t v) { std::memcpy(bytes.data() + at, &v, 4); };
    put32(0, headerSize), put32(4, uint32_t(width)), put32(8, uint32_t(height));
    bytes[12] = 1, bytes[14] = uint8_t(bits);
    put32(16, compression), put32(20, imageSize);
    if (compression == BI_BITFIELDS) {
        const uint32_t masks[3] = {0xF800, 0x07E0, 0x001F};
        if (v5)
            for (int i = 0; i < 3; ++i) put32(40 + 4 * i, masks[i]);
        else
            bytes.insert(bytes.end(), reinterpret_cast<const uint8_t*>(masks),
                         reinterpret_cast<const uint8_t*>(masks + 3));
    }
    if (table) {
        put32(32, 256);
        for (uint32_t i = 0; i < 256; ++i) bytes.insert(bytes.end(), {uint8_t(i), uint8_t(i), uint8_t(i), 0});
    }
    bytes.insert(bytes.end(), pixels.begin(), pixels.end());
    HGLOBAL block = GlobalAlloc(platform::GMEM_MOVEABLE, bytes.size());
    std::memcpy(GlobalLock(block), bytes.data(), bytes.size());
    GlobalUnlock(block);
    return block;
}

TEST(TwainDibTest, RunLengthBlocksPaintTheirRunsWithOrWithoutAnImageSize) {
    // 4 × 2: the bottom row one run of grey 10, the top row 20, 20, 30, 30; then end of bitmap.
    const std::vector<uint8_t> rle8 = {4, 10, 0, 0, 2, 20, 2, 30, 0, 1};
    // RLE4 packs two indexes in a byte and alternates them along the run.
    const std::vector<uint8_t> rle4 = {4, 0xA1, 0, 0, 4, 0x23, 0, 1};
    struct Case {
        uint32_t compression;
        int bits;
        const std::vector<uint8_t>& data;
        uint32_t wanted[2][4];  // grey levels, top row first
    } cases[] = {{BI_RLE8, 8, rle8, {{20, 20, 30, 30}, {10, 10, 10, 10}}},
                 {BI_RLE4, 4, rle4, {{2, 3, 2, 3}, {10, 1, 10, 1}}}};
    for (const Case& c : cases)
        for (uint32_t imageSize : {uint32_t(c.data.size()), 0u}) {
            SCOPED_TRACE(testing::Message() << "bits " << c.bits << ", image size " << imageSize);
            HGLOBAL block = PackedBlock(4, 2, c.bits, c.compression, imageSize, c.data, true);
            TDIB target;
            target.SetSize(4, 2, 24);
            TwainPaintDib(target.Canvas(), 0, 0, 4, 2, block, 0, 0);
            for (int y = 0; y < 2; ++y)
                for (int x = 0; x < 4; ++x)
                    EXPECT_EQ(ShownColour(target, x, y), c.wanted[y][x] * 0x010101u) << x << "," << y;
            GlobalFree(block);
        }
}

struct ShortBlockCase {
    std::string name;
    int width, height, bits;
    uint32_t compression, imageSize;
    size_t pixelBytes;
    bool v5 = false;
};

std::vector<ShortBlockCase> ShortBlockCases() {
    std::vector<ShortBlockCase> cases;
    // Every plain depth one byte short of its 13 × 7 rows.
    for (int bits : {1, 4, 8, 16, 24, 32}) {
        size_t needed = size_t((bits * 13 + 31) / 32 * 4) * 7;
        cases.push_back({"", 13, 7, bits, BI_RGB, 0, needed - 1});
        cases.push_back({"", 13, -7, bits, BI_RGB, 0, needed - 1});
        if (bits == 16 || bits == 32) cases.push_back({"", 13, 7, bits, BI_BITFIELDS, 0, needed - 1});
    }
    for (ShortBlockCase& c : cases)
        c.name = std::string(c.compression == BI_BITFIELDS ? "BitFields" : "Plain") + std::to_string(c.bits) +
            (c.height < 0 ? "TopDown" : "") + "OneByteShort";
    // RLE data whose image size passes the end of the block.
    cases.push_back({"RunLength8SizePastTheBlock", 4, 2, 8, BI_RLE8, 64, 10});
    cases.push_back({"RunLength4SizePastTheBlock", 4, 2, 4, BI_RLE4, 64, 8});
    // Width times depth beyond 2^31 bytes a row, which a 32-bit row size wraps to a small or
    // negative one: the header of a block a fuzzer found (16-bit bit fields, 124-byte header).
    cases.push_back({"RowSizePastTwoGigabytes", 0x60FFFF07, -0x17A9FF90, 16, BI_BITFIELDS, 0, 100, true});
    cases.push_back({"RowsTimesHeightPast64Bits", 0x7FFFFFFF, 0x7FFFFFFF, 32, BI_RGB, 0, 100});
    cases.push_back({"LowestHeight", 4, INT32_MIN, 24, BI_RGB, 0, 100});
    // Depths and modes that do not go together.
    cases.push_back({"RunLength8AtTwentyFourBits", 4, 2, 24, BI_RLE8, 0, 100});
    cases.push_back({"RunLength4AtEightBits", 4, 2, 8, BI_RLE4, 0, 100});
    cases.push_back({"BitFieldsAtEightBits", 4, 2, 8, BI_BITFIELDS, 0, 100});
    cases.push_back({"ZeroBits", 4, 2, 0, BI_RGB, 0, 100});
    cases.push_back({"UnknownCompression", 4, 2, 24, 4, 0, 100});
    return cases;
}

class ShortBlockTest : public ::testing::TestWithParam<ShortBlockCase> {};

// The scanner's block is read only as far as it goes: a header promising more paints nothing.
TEST_P(ShortBlockTest, PaintsNothing) {
    const ShortBlockCase& c = GetParam();
    std::vector<uint8_t> pixels(c.pixelBytes, 0x5A);
    HGLOBAL block = PackedBlock(c.width, c.height, c.bits, c.compression, c.imageSize, pixels, c.bits <= 8, c.v5);
    TDIB target;
    target.SetSize(16, 16, 24);
    target.Canvas().Brush.Color = clWhite;
    target.Canvas().FillRect(Rect(0, 0, 16, 16));
    TwainPaintDib(target.Canvas(), 0, 0, 16, 16, block, 0, 0);
    for (int y = 0; y < 16; ++y)
        for (int x = 0; x < 16; ++x) ASSERT_EQ(ShownColour(target, x, y), 0xFFFFFFu) << x << "," << y;
    EXPECT_EQ(platform::GlobalLockCount(block), 0);
    GlobalFree(block);
}

INSTANTIATE_TEST_SUITE_P(Headers, ShortBlockTest, ::testing::ValuesIn(ShortBlockCases()),
                         [](const auto& info) { return info.param.name; });

// --- bitmap files ----------------------------------------------------------------------------

class BitmapFileTest : public ::testing::Test {
protected:
    void SetUp() override { folder = tilvorn::test::TempDir("twain-dib"); }
    std::string Path(const std::string& name) { return (fs::path(folder) / name).string(); }
    std::string folder;
    platform::TScriptedDialogs dialogs;
    platform::ScopedDialogs scoped{dialogs};
};

TEST_F(BitmapFileTest, SavingAnEightBitBlockWritesHeaderTableAndRows) {
    const TestScan picture = TestScans()[1];
    HGLOBAL block = picture.Make(100, 50);
    std::string path = Path("eight.bmp");
    ASSERT_EQ(TwainSaveDibAsBmp(block, path), 0);
    std::vector<unsigned char> file = tilvorn::test::ReadFileBytes(path);
    ASSERT_EQ(file.size(), 54u + 1024 + 5000);
    uint32_t fileSize, offset, imageSize;
    std::memcpy(&fileSize, &file[2], 4);
    std::memcpy(&offset, &file[10], 4);
    std::memcpy(&imageSize, &file[14 + 20], 4);
    EXPECT_EQ(file[0], 'B');
    EXPECT_EQ(file[1], 'M');
    EXPECT_EQ(fileSize, 6078u);
    EXPECT_EQ(offset, 1078u);
    EXPECT_EQ(imageSize, 5000u) << "the image size is filled in";
    auto* bytes = static_cast<uint8_t*>(GlobalLock(block));
    EXPECT_EQ(std::memcmp(file.data() + 14, bytes, file.size() - 14), 0);
    GlobalUnlock(block);

    if (!tilvorn::test::HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
    std::string ppm = Path("eight.ppm");
    ASSERT_EQ(tilvorn::test::Run("/usr/bin/convert '" + path + "' -compress none '" + ppm + "'"), 0);
    std::ifstream in(ppm);
    std::string magic;
    int w, h, maxValue;
    in >> magic >> w >> h >> maxValue;
    ASSERT_EQ(magic, "P3");
    ASSERT_EQ(w, 100);
    ASSERT_EQ(h, 50);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            int r, g, b;
            in >> r >> g >> b;
            ASSERT_EQ(uint32_t(r << 16 | g << 8 | b), picture.Colour(x, y)) << "ImageMagick reads " << x << "," << y;
        }
    GlobalFree(block);
}

TEST_F(BitmapFileTest, TopDownRowsAreCountedByTheirNumberNotTheirSign) {
    HGLOBAL block = MakePackedDib(
        24, 5, 3, {}, 0, [](int x, int y) { return uint32_t(x * y); }, true);
    std::string path = Path("topdown.bmp");
    ASSERT_EQ(TwainSaveDibAsBmp(block, path), 0);
    EXPECT_EQ(fs::file_size(path), 54u + 3 * 16);
    GlobalFree(block);
}

struct SaveFailure {
    const char* name;
    std::function<HGLOBAL()> block;
    bool missingFolder;
    int result;
};

class SaveFailureTest : public BitmapFileTest, public ::testing::WithParamInterface<SaveFailure> {};

TEST_P(SaveFailureTest, AnswersItsCode) {
    HGLOBAL block = GetParam().block();
    std::string path =
        GetParam().missingFolder ? Path("missing/folder/x.bmp") : Path(std::string(GetParam().name) + ".bmp");
    EXPECT_EQ(TwainSaveDibAsBmp(block, path), GetParam().result);
    if (GetParam().result == kSaveWriteFailed) {
        EXPECT_LE(fs::file_size(path), 0u + kFileHeaderSize) << "nothing past the file header is written";
    }
    if (block) GlobalFree(block);
}

INSTANTIATE_TEST_SUITE_P(
    Failures, SaveFailureTest,
    ::testing::Values(SaveFailure{"NoBlock", [] { return HGLOBAL(nullptr); }, false, kSaveCannotLock},
                      SaveFailure{"MissingFolder", [] { return TestScans()[2].Make(2, 2); }, true, kSaveCannotCreate},
                      SaveFailure{"BlockShorterThanItsRows", [] { return HeaderOnly(40, 64, 64, 24, 0, 10); }, false,
                                  kSaveWriteFailed},
                      SaveFailure{"CompressedWithoutSize",
                                  [] {
                                      HGLOBAL block = HeaderOnly(40, 4, 4, 8, 0, 1024 + 16);
                                      static_cast<uint8_t*>(GlobalLock(block))[16] = BI_RLE8;
                                      GlobalUnlock(block);
                                      return block;
                                  },
                                  false, kSaveWriteFailed}),
    [](const auto& info) { return std::string(info.param.name); });

TEST_F(BitmapFileTest, WithoutANameTheSaveDialogAsksAndBmpIsAppended) {
    HGLOBAL block = TestScans()[0].Make(9, 9);
    EXPECT_EQ(TwainSaveDibAsBmp(block, ""), kSaveCancelled);
    ASSERT_EQ(dialogs.saveRequests.size(), 1u);
    EXPECT_EQ(dialogs.saveRequests[0].filter, "Windows Bitmap (*.bmp)|*.bmp");

    std::string chosen = Path("typed-without-extension");
    dialogs.saveAnswers.push_back(chosen);
    EXPECT_EQ(TwainSaveDibAsBmp(block, ""), kSaveDone);
    EXPECT_TRUE(fs::exists(chosen + ".bmp"));

    dialogs.openAnswers.push_back(chosen);
    HGLOBAL loaded = TwainLoadDibFromBmp("");
    ASSERT_NE(loaded, nullptr) << "the open dialog's name gets .bmp too";
    EXPECT_EQ(dialogs.openRequests.back().filter, "Windows Bitmaps (*.bmp)|*.bmp");
    EXPECT_EQ(TwainLoadDibFromBmp(""), nullptr) << "cancelled";
    GlobalFree(loaded);
    GlobalFree(block);
}

TEST_F(BitmapFileTest, SavedBlocksLoadBackByteForByte) {
    for (const TestScan& picture : TestScans()) {
        HGLOBAL block = picture.Make(11, 6);
        std::string path = Path("round-" + std::to_string(picture.bits) + ".bmp");
        ASSERT_EQ(TwainSaveDibAsBmp(block, path), 0);
        HGLOBAL loaded = TwainLoadDibFromBmp(path);
        ASSERT_NE(loaded, nullptr);
        ASSERT_EQ(platform::GlobalSize(loaded), fs::file_size(path) - 14);
        EXPECT_EQ(std::memcmp(GlobalLock(loaded), GlobalLock(block), platform::GlobalSize(loaded)), 0);
        GlobalUnlock(loaded);
        GlobalUnlock(block);
        GlobalFree(loaded);
        GlobalFree(block);
    }
}

TEST_F(BitmapFileTest, LoadsABitmapWrittenByImageMagick) {
    if (!tilvorn::test::HaveTool("/usr/bin/convert")) GTEST_SKIP() << "ImageMagick is not installed";
    std::string bmp = Path("magick.bmp"), ppm = Path("magick.ppm");
    ASSERT_EQ(tilvorn::test::Run("/usr/bin/convert -size 9x4 gradient:red-blue -type truecolor BMP3:'" + bmp + "'"), 0);
    ASSERT_EQ(tilvorn::test::Run("/usr/bin/convert '" + bmp + "' -compress none '" + ppm + "'"), 0);
    HGLOBAL block = TwainLoadDibFromBmp(bmp);
    ASSERT_NE(block, nullptr);
    ASSERT_EQ(TwainDibPixelWidth(block), 9);
    ASSERT_EQ(TwainDibPixelHeight(block), 4);
    TDIB target;
    target.SetSize(9, 4, 24);
    TwainPaintDib(target.Canvas(), 0, 0, 9, 4, block, 0, 0);
    std::ifstream in(ppm);
    std::string magic;
    int w, h, maxValue;
    in >> magic >> w >> h >> maxValue;
    for (int y = 0; y < 4; ++y)
        for (int x = 0; x < 9; ++x) {
            int r, g, b;
            in >> r >> g >> b;
            EXPECT_EQ(ShownColour(target, x, y), uint32_t(r << 16 | g << 8 | b)) << x << "," << y;
        }
    GlobalFree(block);
}

struct LoadFailure {
    const char* name;
    std::vector<unsigned char> bytes;  // empty: no file at all
};

class LoadFailureTest : public BitmapFileTest, public ::testing::WithParamInterface<LoadFailure> {};

TEST_P(LoadFailureTest, AnswersNoBlock) {
    std::string path = Path(std::string(GetParam().name) + ".bmp");
    if (!GetParam().bytes.empty()) tilvorn::test::WriteFileBytes(path, GetParam().bytes);
    int64_t live = platform::GlobalLiveBlocks();
    EXPECT_EQ(TwainLoadDibFromBmp(path), nullptr);
    EXPECT_EQ(platform::GlobalLiveBlocks(), live);
}

std::vector<unsigned char> FileHeader(char b, char m, uint32_t size, size_t total) {
    std::vector<unsigned char> bytes(total);
    bytes[0] = uint8_t(b), bytes[1] = uint8_t(m);
    std::memcpy(&bytes[2], &size, 4);
    return bytes;
}

INSTANTIATE_TEST_SUITE_P(Files, LoadFailureTest,
                         ::testing::Values(LoadFailure{"Missing", {}},
                                           LoadFailure{"NotBM", FileHeader('P', 'K', 100, 100)},
                                           LoadFailure{"ShorterThanAFileHeader", {'B', 'M', 1, 0}},
                                           LoadFailure{"SizeBeyondTheFile", FileHeader('B', 'M', 5000, 100)},
                                           LoadFailure{"SizeBelowTheFileHeader", FileHeader('B', 'M', 10, 100)}),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace tilvorn::twain::test
