// The working image: sizes and formats, copy-on-write sharing, rows, colour tables and
// palettes, assignment from other graphics.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/PictureMemory.h"
#include "image/DIB.h"
#include "image/ImageTestSupport.h"

using namespace tilvorn;
using tilvorn::test::ExpectError;

namespace {

// A graphic that is not a bitmap: paints each pixel from its coordinates.
class GradientGraphic : public TGraphic {
public:
    GradientGraphic(int w, int h) : w_(w), h_(h) {}
    int GetWidth() const override { return w_; }
    int GetHeight() const override { return h_; }
    bool GetEmpty() const override { return w_ == 0 || h_ == 0; }
    void Draw(TCanvas& canvas, const TRect& rect) override {
        for (int y = rect.Top; y < rect.Bottom; ++y)
            for (int x = rect.Left; x < rect.Right; ++x)
                canvas.SetPixel(x, y, RGBColor(uint8_t(10 * x), uint8_t(20 * y), 7));
    }
    void LoadFromStream(TStream&) override {}
    void SaveToStream(TStream&) override {}

private:
    int w_, h_;
};

}  // namespace

TEST(PixelFormat, FieldsFromBitCounts) {
    struct Case {
        int r, g, b;
        int32_t redMask, greenMask, blueMask, redShift, greenShift, blueShift;
    } cases[] = {
        {8, 8, 8, 0xFF0000, 0xFF00, 0xFF, 16, 8, 0},
        {5, 5, 5, 0x7C00, 0x3E0, 0x1F, 7, 2, 3},
        {5, 6, 5, 0xF800, 0x7E0, 0x1F, 8, 3, 3},
    };
    for (const auto& c : cases) {
        DIBPixelFormat f = DIBPixelFormat::FromBits(c.r, c.g, c.b);
        EXPECT_EQ(f.RedMask, c.redMask);
        EXPECT_EQ(f.GreenMask, c.greenMask);
        EXPECT_EQ(f.BlueMask, c.blueMask);
        EXPECT_EQ(f.RedShift, c.redShift);
        EXPECT_EQ(f.GreenShift, c.greenShift);
        EXPECT_EQ(f.BlueShift, c.blueShift);
        EXPECT_EQ(f.RedPad, 8 - c.r);
    }
    // Only mask widths count: 8-bit masks anywhere give the standard 8-8-8 positions.
    EXPECT_EQ(DIBPixelFormat::FromMasks(0xFF, 0xFF00, 0xFF000000), pf888);
    EXPECT_EQ(DIBPixelFormat::FromMasks(0xF800, 0x7E0, 0x1F), pf565);
    EXPECT_EQ(DIBPixelFormat::FromMasks(0, 0, 0).RedBits, 0);
}

TEST(PixelFormat, PackAndUnpackExpandToFullRange) {
    uint8_t r, g, b;
    pf555.Unpack(pf555.Pack(255, 255, 255), r, g, b);
    EXPECT_EQ(r, 255);
    EXPECT_EQ(g, 255);
    EXPECT_EQ(b, 255);
    EXPECT_EQ(pf565.Pack(0xFF, 0, 0), 0xF800u);
    EXPECT_EQ(pf565.Pack(0, 0xFF, 0), 0x07E0u);
    EXPECT_EQ(pf555.Pack(0, 0, 0xFF), 0x001Fu);
    // The stored bits stay at the top and are repeated below: 5-bit 01000 is 0x42 (66 of
    // 255, as 8 of 31), 6-bit 100000 is 0x82, never a value whose top bits differ.
    struct Case {
        uint32_t pixel;
        uint8_t r, g, b;
    } cases[] = {{0x8410, 0x84, 0x82, 0x84}, {0x4208, 0x42, 0x41, 0x42}, {0x0000, 0, 0, 0}, {0xFFFF, 255, 255, 255}};
    for (const auto& c : cases) {
        pf565.Unpack(c.pixel, r, g, b);
        EXPECT_EQ(r, c.r) << std::hex << c.pixel;
        EXPECT_EQ(g, c.g) << std::hex << c.pixel;
        EXPECT_EQ(b, c.b) << std::hex << c.pixel;
    }
    for (uint32_t v = 0; v < 32; ++v) {  // every 5-bit value keeps its bits on top
        pf555.Unpack(v << 10, r, g, b);
        EXPECT_EQ(r >> 3, int(v));
    }
}

TEST(DIB, NewImageIsEmptyWithGreyRampAnd888) {
    TDIB dib;
    EXPECT_TRUE(dib.Empty());
    EXPECT_EQ(dib.Width(), 0);
    EXPECT_EQ(dib.Height(), 0);
    EXPECT_EQ(dib.BitCount(), 0);
    EXPECT_EQ(dib.ColorTable, GreyColorTable());
    EXPECT_EQ(dib.PixelFormat, pf888);
    EXPECT_EQ(dib.Image(), TDIBStore::EmptyImage());
    // Drawing an empty image does nothing.
    TDIB target;
    target.SetSize(2, 2, 24);
    std::memset(target.Pixels(), 0x55, size_t(target.Size()));
    target.Canvas().Draw(0, 0, dib);
    EXPECT_EQ(target.ScanLine(0)[0], 0x55);
}

TEST(DIB, RowBytesAndSizesPerBitCount) {
    struct Case {
        int width, bits, rowBytes;
    } cases[] = {{3, 24, 12}, {10, 1, 4}, {33, 1, 8}, {9, 4, 8}, {5, 8, 8}, {3, 16, 8}, {3, 32, 12}};
    for (const auto& c : cases) {
        TDIB dib;
        dib.PixelFormat = c.bits == 16 ? pf565 : pf888;
        dib.SetSize(c.width, 7, c.bits);
        EXPECT_EQ(dib.RowBytes(), c.rowBytes) << c.width << "x" << c.bits;
        EXPECT_EQ(dib.Size(), c.rowBytes * 7);
        EXPECT_EQ(dib.RowStep(), -c.rowBytes);
        // Bottom-up: row 0 is the last row of memory.
        EXPECT_EQ(dib.ScanLine(0), dib.Pixels() + 6 * c.rowBytes);
        EXPECT_EQ(dib.ScanLine(6), dib.Pixels());
    }
}

TEST(DIB, SetSizeErrorsKeepTheOldPicture) {
    TDIB dib;
    dib.SetSize(4, 4, 24);
    TDIBStore* before = dib.Image();
    ExpectError<EInvalidGraphicOperation>([&] { dib.SetSize(4, 4, 16); }, "PixelFormat in invalid");
    ExpectError<EInvalidGraphicOperation>([&] { dib.SetSize(4, 4, 12); }, "Bitcount in invalid (12)");
    ExpectError<EInvalidGraphicOperation>([&] { dib.SetSize(4, 4, 0); }, "Bitcount in invalid (0)");
    EXPECT_EQ(dib.Image(), before);
    EXPECT_EQ(dib.BitCount(), 24);
    // 16 bits work once the format says 5-5-5 or 5-6-5; 24 bits then refuse it.
    for (auto format : {pf555, pf565}) {
        TDIB d16;
        d16.PixelFormat = format;
        d16.SetSize(4, 4, 16);
        EXPECT_EQ(d16.BitCount(), 16);
        EXPECT_EQ(d16.CurrentPixelFormat(), format);
        ExpectError<EInvalidGraphicOperation>([&] { d16.SetSize(4, 4, 24); }, "PixelFormat in invalid");
    }
    // A picture whose size does not fit a 32-bit size field is refused, not wrapped, and
    // the refusal names its size.
    SetPictureMemoryLimit(uint64_t(2) << 30);
    ExpectError<EOutOfMemory>(
        [&] { dib.SetSize(70000, 70000, 32); },
        "The picture is 70000 × 70000 pixels, 19.6 GB at 32 bits; one picture may take at most 2.1 GB.");
    SetPictureMemoryLimit(0);
}

TEST(DIB, SetSizeEmptiesOnZeroOrNegativeAndKeepsUnchangedPicture) {
    for (auto [w, h] : {std::pair{0, 100}, std::pair{100, 0}, std::pair{-5, 10}, std::pair{10, -1}}) {
        TDIB dib;
        dib.SetSize(8, 8, 24);
        dib.SetSize(w, h, 24);
        EXPECT_TRUE(dib.Empty());
        EXPECT_EQ(dib.Image(), TDIBStore::EmptyImage());
    }
    TDIB dib;
    dib.SetSize(8, 8, 24);
    dib.ScanLine(3)[0] = 99;
    TDIBStore* store = dib.Image();
    // A new picture's pixels are 0, small ones and ones large enough for fresh pages alike.
    for (int side : {8, 2000}) {
        TDIB fresh;
        fresh.SetSize(side, side, 24);
        const uint8_t* pixels = fresh.Pixels();
        EXPECT_TRUE(std::all_of(pixels, pixels + fresh.Size(), [](uint8_t b) { return b == 0; })) << side;
    }
    dib.SetSize(8, 8, 24);  // nothing changes, the pixels stay
    EXPECT_EQ(dib.Image(), store);
    EXPECT_EQ(dib.ScanLine(3)[0], 99);
}

TEST(DIB, SetSizeInItsBlockKeepsTheBlockOfAPictureOfItsOwnWhereItFits) {
    TDIB dib;
    dib.SetSize(100, 60, 24);
    const uint8_t* block = dib.Pixels();
    struct Case {
        int w, h, bits;
        bool sameBlock;
    } cases[] = {
        {90, 60, 24, true},  // narrower
        {100, 60, 24, true},  // back to the size the block was made for
        {300, 20, 8, true},  // another depth in as many bytes
        {100, 61, 24, false},  // one row more than the block holds
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.w) + "x" + std::to_string(c.h) + "x" + std::to_string(c.bits));
        if (c.bits == 8) dib.ColorTable = GreyColorTable();
        dib.SetSizeInItsBlock(c.w, c.h, c.bits);
        EXPECT_EQ(dib.Width(), c.w);
        EXPECT_EQ(dib.Height(), c.h);
        EXPECT_EQ(dib.BitCount(), c.bits);
        EXPECT_EQ(dib.Pixels() == block, c.sameBlock);
        EXPECT_EQ(dib.ScanLine(c.h - 1), dib.Pixels());  // bottom row first, as ever
        if (!c.sameBlock) {  // a new block is cleared as SetSize clears it
            EXPECT_TRUE(std::all_of(dib.Pixels(), dib.Pixels() + dib.Size(), [](uint8_t b) { return b == 0; }));
        }
        dib.ScanLine(0)[dib.RowBytes() - 1] = 7;  // the whole top row is there
    }

    // A block of megabytes reaches to the end of its last 2 MiB page: 3 MB made, 3.9 MB fit.
    TDIB large;
    large.SetSize(1000, 1000, 24);
    const uint8_t* largeBlock = large.Pixels();
    large.SetSizeInItsBlock(1000, 1300, 24);
    EXPECT_EQ(large.Pixels(), largeBlock);
    large.ScanLine(0)[large.RowBytes() - 1] = 7;
    large.SetSizeInItsBlock(1000, 1500, 24);  // 4.5 MB: past the 4 MiB
    EXPECT_NE(large.Pixels(), largeBlock);

    // A shared picture is left to its other owner, whole.
    TDIB other;
    other.Assign(&dib);
    dib.SetSizeInItsBlock(10, 10, 24);
    EXPECT_EQ(other.Width(), 100);
    EXPECT_EQ(other.Height(), 61);
    EXPECT_NE(dib.Image(), other.Image());

    // Refusals keep the picture as it was.
    TDIBStore* store = dib.Image();
    ExpectError<EInvalidGraphicOperation>([&] { dib.SetSizeInItsBlock(5, 5, 12); }, "Bitcount in invalid (12)");
    EXPECT_EQ(dib.Image(), store);
    EXPECT_EQ(dib.Width(), 10);
    dib.SetSizeInItsBlock(0, 5, 24);
    EXPECT_TRUE(dib.Empty());
}

TEST(DIB, ScanLineRangeErrorCarriesTheIndex) {
    TDIB dib;
    dib.SetSize(5, 3, 8);
    for (int y : {-1, 3, 1000}) {
        ExpectError<EInvalidGraphicOperation>(
            [&] { dib.ScanLine(y); }, "Index of the scanning line exceeded the range. (" + std::to_string(y) + ")");
    }
    TDIB empty;
    ExpectError<EInvalidGraphicOperation>([&] { empty.ScanLine(0); },
                                          "Index of the scanning line exceeded the range. (0)");
}

TEST(DIB, AssignSharesAndFirstWriteCopies) {
    TDIB b;
    b.SetSize(10, 10, 24);
    std::memset(b.Pixels(), 0, size_t(b.Size()));
    TDIB a;
    a.Assign(&b);
    EXPECT_EQ(a.Image(), b.Image());
    EXPECT_EQ(b.Image()->RefCount, 2);

    // A line on A's canvas leaves B alone.
    a.Canvas().Pen.Color = clWhite;
    a.Canvas().MoveTo(0, 0);
    a.Canvas().LineTo(5, 0);
    EXPECT_NE(a.Image(), b.Image());
    EXPECT_EQ(a.ScanLine(0)[0], 255);
    EXPECT_EQ(b.ScanLine(0)[0], 0);

    // Reading a row of B while shared gives B a private copy; A keeps the original.
    TDIB c;
    c.Assign(&a);
    TDIBStore* shared = a.Image();
    c.ScanLine(0);
    EXPECT_NE(c.Image(), shared);
    EXPECT_EQ(a.Image(), shared);
    EXPECT_EQ(shared->RefCount, 1);
    EXPECT_EQ(c.ScanLine(0)[0], 255);

    // Assigning itself or nothing.
    a.Assign(&a);
    EXPECT_EQ(a.Image(), shared);
    a.Assign(static_cast<const TGraphic*>(nullptr));
    EXPECT_TRUE(a.Empty());
}

TEST(DIB, SecondCanvasRequestWhileSharedCopiesAtOnce) {
    TDIB a, b;
    a.SetSize(4, 4, 24);
    a.Canvas();
    b.Assign(&a);
    EXPECT_EQ(a.Image(), b.Image());
    a.Canvas();
    EXPECT_NE(a.Image(), b.Image());
    EXPECT_FALSE(a.IsMemoryImage());
    EXPECT_EQ(a.Canvas().Handle(), a.Image());
}

TEST(DIB, CanvasOfEmptyImageRefusesDrawing) {
    TDIB dib;
    TCanvas& canvas = dib.Canvas();  // the first request gives the canvas
    ExpectError<EInvalidOperation>([&] { canvas.FillRect(Rect(0, 0, 1, 1)); }, "Canvas does not allow drawing");
    ExpectError<EInvalidOperation>([&] { dib.Canvas(); }, "Canvas does not allow drawing");
    // After SetSize the same canvas draws.
    dib.SetSize(2, 2, 8);
    dib.Canvas().FillRect(Rect(0, 0, 2, 2));
    EXPECT_EQ(dib.ScanLine(1)[1], 255);
}

TEST(DIB, NewPictureIsMemoryImageUntilCanvasIsAsked) {
    TDIB dib;
    dib.SetSize(3, 3, 24);
    EXPECT_TRUE(dib.IsMemoryImage());
    dib.Canvas();
    EXPECT_FALSE(dib.IsMemoryImage());
    // SetSize keeps the kind.
    dib.SetSize(5, 5, 24);
    EXPECT_FALSE(dib.IsMemoryImage());
}

TEST(DIB, SetWidthAndHeight) {
    TDIB dib;
    dib.SetWidth(5);
    EXPECT_EQ(dib.Width(), 5);
    EXPECT_EQ(dib.Height(), 1);
    EXPECT_EQ(dib.BitCount(), 8);
    dib.SetHeight(4);
    EXPECT_EQ(dib.Height(), 4);
    EXPECT_EQ(dib.BitCount(), 8);
    dib.SetWidth(0);
    EXPECT_TRUE(dib.Empty());
}

TEST(DIB, ApplyColorTableUpdatesHeaderAndPalette) {
    TDIB dib;
    dib.SetSize(2, 2, 4);
    TDIB other;
    other.Assign(&dib);
    dib.ColorTable[3] = {1, 2, 3, 0};
    dib.ApplyColorTable();
    EXPECT_NE(dib.Image(), other.Image());  // the change did not reach the other owner
    EXPECT_EQ(dib.Image()->ColorTable[3], (RGBQUAD{1, 2, 3, 0}));
    EXPECT_EQ(other.Image()->ColorTable[3], (RGBQUAD{3, 3, 3, 0}));
    const uint8_t* entry = dib.Image()->Header.data() + 40 + 4 * 3;
    EXPECT_EQ(entry[0], 1);
    EXPECT_EQ(entry[2], 3);
    EXPECT_TRUE(dib.PaletteModified);
    HPALETTE p = dib.GetPalette();
    ASSERT_NE(p, nullptr);
    ASSERT_EQ(p->Entries.size(), 16u);
    EXPECT_EQ(p->Entries[3], (PALETTEENTRY{3, 2, 1, 0}));
}

TEST(PaletteCache, EqualTablesShareOneHandleUntilTheLastGoes) {
    int before = LivePaletteCount();
    HPALETTE shared;
    {
        TDIB a, b;
        a.SetSize(2, 2, 8);
        b.SetSize(3, 3, 8);
        shared = a.GetPalette();
        EXPECT_EQ(b.GetPalette(), shared);
        EXPECT_EQ(TPaletteCache::Instance().RefCountOf(shared), 2);
        EXPECT_EQ(LivePaletteCount(), before + 1);
        TDIB c;
        c.SetSize(2, 2, 8);
        c.ColorTable[0] = {9, 9, 9, 0};
        c.ApplyColorTable();
        EXPECT_NE(c.GetPalette(), shared);
        TDIB rgb;
        rgb.SetSize(2, 2, 24);
        EXPECT_EQ(rgb.GetPalette(), nullptr);
    }
    EXPECT_EQ(TPaletteCache::Instance().RefCountOf(shared), 0);
    EXPECT_EQ(LivePaletteCount(), before);
}

TEST(PaletteCache, ReleaseOfUnknownHandleIsLeftAlone) {
    PALETTEENTRY e{1, 2, 3, 0};
    HPALETTE own = CreatePalette(&e, 1);
    HPALETTE copy = own;
    TPaletteCache::Instance().ReleasePalette(copy);
    EXPECT_EQ(copy, own);
    DeletePalette(own);
}

TEST(DIB, SetPaletteTakesEntriesAndDeletesThePalette) {
    int before = LivePaletteCount();
    TDIB dib;
    dib.SetSize(2, 2, 1);
    PALETTEENTRY entries[2] = {{255, 0, 0, 0}, {0, 0, 255, 0}};
    dib.SetPalette(CreatePalette(entries, 2));
    EXPECT_EQ(LivePaletteCount(), before);
    EXPECT_EQ(dib.Image()->ColorTable[0], (RGBQUAD{0, 0, 255, 0}));
    EXPECT_EQ(dib.Image()->ColorTable[1], (RGBQUAD{255, 0, 0, 0}));
}

TEST(DIB, AssignOtherGraphicGives24BitsDrawnAtOrigin) {
    GradientGraphic g(4, 3);
    TDIB dib;
    dib.PixelFormat = pf555;  // whatever the previous format, the result is 24 bits
    dib.Assign(&g);
    EXPECT_EQ(dib.BitCount(), 24);
    EXPECT_EQ(dib.Width(), 4);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 4; ++x) {
            const uint8_t* p = dib.ScanLine(y) + 3 * x;
            EXPECT_EQ(p[2], 10 * x);
            EXPECT_EQ(p[1], 20 * y);
            EXPECT_EQ(p[0], 7);
        }
}

TEST(DIB, AssignPlatformBitmapKeepsItsDepth) {
    struct Case {
        int bits;
        bool section;
        uint32_t masks[3];
        int expectBits;
        DIBPixelFormat expectFormat;
    } cases[] = {
        {16, false, {0, 0, 0}, 16, pf555}, {16, true, {0xF800, 0x7E0, 0x1F}, 16, pf565},
        {24, false, {0, 0, 0}, 24, pf888}, {32, true, {0, 0, 0}, 32, pf888},
        {8, false, {0, 0, 0}, 8, pf888},
    };
    for (const auto& c : cases) {
        TBitmap bitmap;
        bitmap.BitsPerPixel = c.bits;
        bitmap.DIBSection = c.section;
        std::copy(std::begin(c.masks), std::end(c.masks), bitmap.Masks);
        if (c.bits == 8)
            for (int i = 0; i < 256; ++i) bitmap.PaletteEntries.push_back({uint8_t(i), uint8_t(255 - i), 0, 0});
        bitmap.SetSize(3, 2);
        bitmap.SetPixel(1, 0, RGBColor(255, 0, 0));
        TDIB dib;
        dib.Assign(&bitmap);
        EXPECT_EQ(dib.BitCount(), c.expectBits);
        EXPECT_EQ(dib.CurrentPixelFormat(), c.expectFormat);
        TCanvas& canvas = dib.Canvas();
        EXPECT_EQ(canvas.GetPixel(1, 0), RGBColor(255, 0, 0)) << c.bits;
        // In the 8-bit table (i, 255 - i, 0) black is nearest to entries 127 and 128; the
        // first of equally near entries wins.
        EXPECT_EQ(canvas.GetPixel(0, 1), c.bits == 8 ? RGBColor(127, 128, 0) : clBlack);
    }
}
