#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <random>

#include "image/DIB.h"
#include "poster/Marks.h"
#include "poster/Output.h"

namespace tilvorn::test {
namespace {

// 3 × 3 sheets of 210 × 297 mm at 2 pixels per mm, 10 mm margins and overlaps, a noisy
// 250 × 300 picture enlarged four times.
TSheetLayout NineSheets(TEnlargement how) {
    TSheetLayout l;
    l.SheetWidthPx = 420;
    l.SheetHeightPx = 594;
    l.MarginXPx = l.MarginYPx = 20;
    l.OverlapXPx = l.OverlapYPx = 20;
    l.PrintWidthPx = 380;
    l.PrintHeightPx = 554;
    l.PosterWidthPx = 1000;
    l.PosterHeightPx = 1200;
    l.ScaleXNum = l.ScaleYNum = 4;
    l.Columns = 3;
    l.PxPerMmX = l.PxPerMmY = 2;
    l.Enlargement = how;
    return l;
}

void NoisyPicture(TDIB& picture) {
    picture.PixelFormat = pf888;
    picture.SetSize(250, 300, 24);
    std::mt19937 random(5);
    for (int y = 0; y < picture.Height(); ++y) {
        uint8_t* row = picture.TopRow() + int64_t(y) * picture.RowStep();
        for (int x = 0; x < picture.Width() * 3; ++x) row[x] = uint8_t(random());
    }
}

bool SamePixel(TDIB& a, TDIB& b, int x, int y) {
    const int bytes = a.BitCount() / 8;
    return std::memcmp(a.TopRow() + int64_t(y) * a.RowStep() + x * bytes,
                       b.TopRow() + int64_t(y) * b.RowStep() + x * bytes, size_t(bytes)) == 0;
}

TEST(SheetLabels, OnlyTheHiddenBandsChangeOnEverySheet) {
    for (TEnlargement how : {TEnlargement::Smooth, TEnlargement::Blocks})
        for (int depth : {24, 8}) {
            TSheetLayout plain = NineSheets(how), labelled = plain;
            labelled.Labels = true;
            TDIB picture;
            NoisyPicture(picture);
            for (int page = 1; page <= 9; ++page) {
                const int column = (page - 1) % 3, row = (page - 1) / 3;
                // What shows of this sheet once glued: the page window within the poster, less
                // the right and bottom overlaps where a neighbour covers them.
                const int k = column * 360, i = row * 534;
                const int visibleW = column < 2 ? 360 : std::min(380, 1000 - k);
                const int visibleH = row < 2 ? 534 : std::min(554, 1200 - i);
                TDIB without, with;
                ComposeSheet(plain, picture, page, depth, without);
                ComposeSheet(labelled, picture, page, depth, with);
                int changedHidden = 0;
                for (int y = 0; y < 594; ++y)
                    for (int x = 0; x < 420; ++x) {
                        const bool visible = x >= 20 && x < 20 + visibleW && y >= 20 && y < 20 + visibleH;
                        const bool same = SamePixel(without, with, x, y);
                        if (visible)
                            ASSERT_TRUE(same) << "page " << page << " at " << x << "," << y;
                        else
                            changedHidden += !same;
                    }
                EXPECT_GT(changedHidden, 100) << "page " << page << " carries no labels";
            }
        }
}

TEST(SheetLabels, NameTheSheetAndEachNeighbourAtLeastTwoMillimetresHigh) {
    const TSheetLayout l = NineSheets(TEnlargement::Smooth);
    struct Case {
        int page;
        std::vector<std::string> texts;
    } cases[] = {
        {1, {"↓ (1;2)", "→ (2;1)", "(1;1) page 1"}},
        {5, {"↑ (2;1)", "↓ (2;3)", "← (1;2)", "→ (3;2)", "(2;2) page 5"}},
        {9, {"↑ (3;2)", "← (2;3)", "(3;3) page 9"}},
    };
    for (const Case& c : cases) {
        std::vector<std::string> texts;
        for (const TSheetLabel& label : SheetLabelsOf(l, c.page)) {
            texts.push_back(label.Text);
            EXPECT_GE(label.Size * 0.729, 2.0 * l.PxPerMmX - 1e-9) << label.Text;
        }
        std::sort(texts.begin(), texts.end());
        std::vector<std::string> expected = c.texts;
        std::sort(expected.begin(), expected.end());
        EXPECT_EQ(texts, expected) << "page " << c.page;
    }
}

TEST(SheetLabels, LeftOutWhereThereIsNoRoom) {
    TSheetLayout l = NineSheets(TEnlargement::Smooth);
    // 1 mm margins and overlaps: no band is deep enough for 2 mm digits, except below the poster.
    l.MarginXPx = l.MarginYPx = l.OverlapXPx = l.OverlapYPx = 2;
    l.PrintWidthPx = 416;
    l.PrintHeightPx = 590;
    l.PosterWidthPx = 3 * 414 + 2;
    l.PosterHeightPx = 3 * 588 + 2;
    for (int page : {1, 5, 9}) EXPECT_TRUE(SheetLabelsOf(l, page).empty()) << page;
}

TEST(AssemblyMap, OutlinesEverySheetOverThePreview) {
    TSheetLayout l = NineSheets(TEnlargement::Smooth);
    TDIB picture;
    picture.PixelFormat = pf888;
    picture.SetSize(250, 300, 24);
    for (int y = 0; y < 300; ++y) std::memset(picture.TopRow() + int64_t(y) * picture.RowStep(), 0xFF, 750);
    TDIB map;
    ComposeAssemblyMap(l, picture, {1, 2, 3, 4, 5, 6, 7, 8, 9}, 24, map);
    ASSERT_EQ(map.Width(), 420);
    ASSERT_EQ(map.Height(), 594);
    // On a white picture the outlines are the only long dark columns: each sheet's left and
    // right edge, 3 columns of sheets with overlaps between them.
    std::vector<int> dark(420, 0);
    for (int y = 0; y < 594; ++y)
        for (int x = 0; x < 420; ++x) dark[size_t(x)] += map.TopRow()[int64_t(y) * map.RowStep() + x * 3] < 96;
    int lines = 0;
    for (int x = 0; x < 420; ++x)
        if (dark[size_t(x)] > 300 && (x == 0 || dark[size_t(x - 1)] <= 300)) ++lines;
    EXPECT_GE(lines, 4);
    EXPECT_EQ(MapFileName("wall"), "wall(map).JPG");
}

}  // namespace
}  // namespace tilvorn::test
