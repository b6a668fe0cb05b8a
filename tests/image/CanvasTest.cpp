// The drawing surface: fills, lines with GDI's end-point rule, dotted pens, stretch copies and
// drawing of graphics, on every bit count.
#include <gtest/gtest.h>

#include <cstring>

#include "image/DIB.h"
#include "image/ImageTestSupport.h"

using namespace tilvorn;
using namespace tilvorn::test;

namespace {

const int kAllBitCounts[] = {1, 4, 8, 16, 24, 32};

// A picture of the given bit count whose table (for indexed pictures) holds black, white,
// red, green and blue first and grey after them.
void MakePicture(TDIB& dib, int w, int h, int bits) {
    dib.PixelFormat = bits == 16 ? pf565 : pf888;
    dib.ColorTable = GreyColorTable();
    const RGBQUAD firsts[] = {{0, 0, 0, 0}, {255, 255, 255, 0}, {0, 0, 255, 0}, {0, 255, 0, 0}, {255, 0, 0, 0}};
    if (bits == 1) {
        dib.ColorTable[0] = firsts[0];
        dib.ColorTable[1] = firsts[1];
    } else if (bits <= 8) {
        std::copy(std::begin(firsts), std::end(firsts), dib.ColorTable.begin());
    }
    dib.SetSize(w, h, bits);
    std::memset(dib.Pixels(), 0, size_t(dib.Size()));
}

// Colours each bit count can hold exactly.
TColor Exact(int bits, TColor c) { return bits == 1 ? (c == clBlack ? clBlack : clWhite) : c; }

std::string Picture(TDIB& dib) {
    std::string s;
    TCanvas& canvas = dib.Canvas();
    for (int y = 0; y < dib.Height(); ++y) {
        for (int x = 0; x < dib.Width(); ++x) s += canvas.GetPixel(x, y) == clBlack ? '.' : '#';
        s += '\n';
    }
    return s;
}

}  // namespace

TEST(Canvas, FillRectOnEveryBitCount) {
    for (int bits : kAllBitCounts) {
        SCOPED_TRACE(bits);
        TDIB dib;
        MakePicture(dib, 11, 4, bits);
        TCanvas& canvas = dib.Canvas();
        canvas.Brush.Color = Exact(bits, clRed);
        canvas.FillRect(Rect(1, 1, 10, 3));
        canvas.FillRect(Rect(-5, -5, 1, 1));  // clipped to the top-left pixel
        for (int y = 0; y < 4; ++y)
            for (int x = 0; x < 11; ++x) {
                bool inside = (x >= 1 && x < 10 && y >= 1 && y < 3) || (x == 0 && y == 0);
                EXPECT_EQ(canvas.GetPixel(x, y), inside ? Exact(bits, clRed) : clBlack) << x << "," << y;
            }
    }
}

TEST(Canvas, IndexedPicturesTakeTheNearestEntry) {
    TDIB dib;
    MakePicture(dib, 2, 1, 8);
    TCanvas& canvas = dib.Canvas();
    canvas.Brush.Color = RGBColor(250, 10, 5);  // nearest: red (entry 2)
    canvas.FillRect(Rect(0, 0, 1, 1));
    canvas.Brush.Color = RGBColor(128, 128, 129);  // nearest: grey 128
    canvas.FillRect(Rect(1, 0, 2, 1));
    EXPECT_EQ(dib.ScanLine(0)[0], 2);
    EXPECT_EQ(dib.ScanLine(0)[1], 128);
    TDIB mono;
    MakePicture(mono, 2, 1, 1);
    mono.Canvas().Brush.Color = RGBColor(200, 200, 200);
    mono.Canvas().FillRect(Rect(0, 0, 1, 1));
    EXPECT_EQ(mono.ScanLine(0)[0], 0x80);
}

TEST(Canvas, LineToLeavesOutTheEndPoint) {
    struct Case {
        const char* what;
        TPoint from, to;
        const char* picture;
    } cases[] = {
        {"right", {0, 1}, {4, 1}, ".....\n####.\n.....\n.....\n"},
        {"left", {4, 1}, {0, 1}, ".....\n.####\n.....\n.....\n"},
        {"down", {2, 0}, {2, 3}, "..#..\n..#..\n..#..\n.....\n"},
        {"diagonal", {0, 0}, {3, 3}, "#....\n.#...\n..#..\n.....\n"},
        {"single point", {1, 1}, {1, 1}, ".....\n.....\n.....\n.....\n"},
        {"off the picture", {-3, 2}, {9, 2}, ".....\n.....\n#####\n.....\n"},
    };
    for (int bits : kAllBitCounts) {
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(bits));
            TDIB dib;
            MakePicture(dib, 5, 4, bits);
            TCanvas& canvas = dib.Canvas();
            canvas.Pen.Color = clWhite;
            canvas.MoveTo(c.from.X, c.from.Y);
            canvas.LineTo(c.to.X, c.to.Y);
            EXPECT_EQ(Picture(dib), c.picture);
            EXPECT_EQ(canvas.PenPos, c.to);
        }
    }
}

TEST(Canvas, DottedPenDrawsThreeOnThreeOff) {
    TDIB dib;
    MakePicture(dib, 14, 2, 24);
    TCanvas& canvas = dib.Canvas();
    canvas.Pen.Color = clWhite;
    canvas.Pen.Style = TPenStyle::psDot;
    canvas.Brush.Color = clRed;  // the gaps take the solid brush's colour
    canvas.MoveTo(0, 0);
    canvas.LineTo(13, 0);
    canvas.Brush.Style = TBrushStyle::bsClear;  // now the gaps stay as they were
    canvas.MoveTo(0, 1);
    canvas.LineTo(13, 1);
    std::string top, bottom;
    for (int x = 0; x < 14; ++x) {
        TColor t = canvas.GetPixel(x, 0), b = canvas.GetPixel(x, 1);
        top += t == clWhite ? '#' : t == clRed ? 'r' : '.';
        bottom += b == clWhite ? '#' : b == clRed ? 'r' : '.';
    }
    EXPECT_EQ(top, "###rrr###rrr#.");
    EXPECT_EQ(bottom, "###...###...#.");
}

TEST(Canvas, EveryDrawingCallRunsTheHookFirst) {
    TDIB dib;
    MakePicture(dib, 4, 4, 24);
    TDIB other;
    MakePicture(other, 4, 4, 24);
    TCanvas& canvas = dib.Canvas();
    int calls = 0;
    auto inner = canvas.OnChanging;
    canvas.OnChanging = [&] {
        ++calls;
        inner();
    };
    canvas.FillRect(Rect(0, 0, 1, 1));
    canvas.MoveTo(0, 0);  // moving the pen draws nothing
    canvas.LineTo(2, 2);
    canvas.CopyRect(Rect(0, 0, 2, 2), other.Canvas(), Rect(0, 0, 2, 2));
    canvas.Draw(0, 0, other);
    canvas.StretchDraw(Rect(0, 0, 4, 4), other);
    canvas.SetPixel(1, 1, clRed);
    EXPECT_EQ(calls, 6);
    canvas.Lock();
    canvas.Lock();
    EXPECT_TRUE(canvas.Locked());
    canvas.Unlock();
    canvas.Unlock();
    EXPECT_FALSE(canvas.Locked());
}

TEST(Canvas, CopyRectStretchesNearestNeighbour) {
    TDIB source;
    MakePicture(source, 4, 1, 24);
    const TColor colors[] = {clRed, clLime, clBlue, clWhite};
    for (int x = 0; x < 4; ++x) source.Canvas().SetPixel(x, 0, colors[x]);
    struct Case {
        const char* what;
        TRect dest, src;
        std::vector<TColor> row;
    } cases[] = {
        {"same size",
         Rect(0, 0, 4, 1),
         Rect(0, 0, 4, 1),
         {clRed, clLime, clBlue, clWhite, clBlack, clBlack, clBlack, clBlack}},
        {"doubled",
         Rect(0, 0, 8, 1),
         Rect(0, 0, 4, 1),
         {clRed, clRed, clLime, clLime, clBlue, clBlue, clWhite, clWhite}},
        {"halved: the pixels under the centres",
         Rect(0, 0, 2, 1),
         Rect(0, 0, 4, 1),
         {clLime, clWhite, clBlack, clBlack, clBlack, clBlack, clBlack, clBlack}},
        {"part, shifted",
         Rect(5, 0, 7, 1),
         Rect(1, 0, 3, 1),
         {clBlack, clBlack, clBlack, clBlack, clBlack, clLime, clBlue, clBlack}},
        {"mirrored",
         Rect(4, 0, 0, 1),
         Rect(0, 0, 4, 1),
         {clWhite, clBlue, clLime, clRed, clBlack, clBlack, clBlack, clBlack}},
        {"off the left edge",
         Rect(-2, 0, 2, 1),
         Rect(0, 0, 4, 1),
         {clBlue, clWhite, clBlack, clBlack, clBlack, clBlack, clBlack, clBlack}},
    };
    for (int bits : kAllBitCounts) {
        if (bits < 8) continue;  // needs the five colours
        for (const auto& c : cases) {
            SCOPED_TRACE(std::string(c.what) + " at " + std::to_string(bits));
            TDIB target;
            MakePicture(target, 8, 2, bits);
            target.Canvas().CopyRect(c.dest, source.Canvas(), c.src);
            for (int x = 0; x < 8; ++x) EXPECT_EQ(target.Canvas().GetPixel(x, 0), c.row[size_t(x)]) << x;
            EXPECT_EQ(target.Canvas().GetPixel(0, 1), clBlack);
        }
    }
}

TEST(Canvas, DrawAndStretchDrawAcrossBitCounts) {
    for (int from : kAllBitCounts) {
        for (int to : kAllBitCounts) {
            SCOPED_TRACE(std::to_string(from) + " into " + std::to_string(to));
            TDIB source;
            MakePicture(source, 2, 2, from);
            source.Canvas().SetPixel(1, 0, clWhite);
            TDIB target;
            MakePicture(target, 6, 5, to);
            target.Canvas().Draw(1, 1, source);  // at its own size
            target.Canvas().StretchDraw(Rect(2, 3, 6, 5), source);  // doubled
            std::string expected =
                "......\n"
                "..#...\n"
                "......\n"
                "....##\n"
                "......\n";
            EXPECT_EQ(Picture(target), expected);
        }
    }
}

TEST(Canvas, MemoryImageAndDrawableImageDrawTheSame) {
    TDIB memory;
    MakePicture(memory, 3, 3, 8);
    for (int y = 0; y < 3; ++y)
        for (int x = 0; x < 3; ++x) memory.ScanLine(y)[x] = uint8_t(1 + x + 3 * y);
    ASSERT_TRUE(memory.IsMemoryImage());
    TDIB drawable;
    drawable.Assign(&memory);
    drawable.Canvas();
    ASSERT_FALSE(drawable.IsMemoryImage());
    TDIB a, b;
    MakePicture(a, 7, 7, 24);
    MakePicture(b, 7, 7, 24);
    a.Canvas().StretchDraw(Rect(0, 0, 7, 7), memory);
    b.Canvas().StretchDraw(Rect(0, 0, 7, 7), drawable);
    EXPECT_EQ(DecodedColors(a), DecodedColors(b));
    EXPECT_EQ(a.Canvas().GetPixel(6, 6), RGBColor(9, 9, 9));
}

TEST(Canvas, DrawingAPictureIntoItselfReadsTheOldPixels) {
    TDIB dib;
    MakePicture(dib, 4, 1, 24);
    dib.Canvas().SetPixel(0, 0, clWhite);
    dib.Canvas().CopyRect(Rect(1, 0, 4, 1), dib.Canvas(), Rect(0, 0, 3, 1));
    EXPECT_EQ(Picture(dib), "##..\n");
}
