// Settings that leave no poster are refused before the layout; page lists are walked range
// by range.
#include <gtest/gtest.h>

#include <utility>
#include <vector>

#include "core/Exceptions.h"
#include "poster/Geometry.h"
#include "poster/SetAsString.h"

namespace tilvorn {
namespace {

std::string LayoutError(TSheetGeometry sheet, TMarginsAndOverlaps lengths, TPosterSize size) {
    try {
        ComputeLayout(sheet, lengths, size, 64, 48);
    } catch (const Exception& e) {
        return e.Message();
    }
    return "(laid out)";
}

TEST(LayoutRefusals, MarginsOverlapsAndPageCountsNameTheirLimit) {
    const TSheetGeometry a4 = SheetFromPaper(210, 297, PxPerMmFromDpi(300));
    struct Case {
        TMarginsAndOverlaps Lengths;
        TPosterSize Size;
        const char* Text;
    } cases[] = {
        {{105, 1, 5, 5},
         {600, 450},
         "The left and right margins of 105 mm leave nothing of a sheet 210 mm wide; each must be less than 105 mm."},
        {{1, 149, 5, 5},
         {600, 450},
         "The top and bottom margins of 149 mm leave nothing of a sheet 297 mm high; each must be less than 148.5 mm."},
        {{1, 1, 208, 5},
         {600, 450},
         "An overlap of 208 mm across leaves no step from sheet to sheet; it must be less than the 208 mm the "
         "margins leave of the sheet."},
        {{1, 1, 5, 296},
         {600, 450},
         "An overlap of 296 mm down leaves no step from sheet to sheet; it must be less than the 295 mm the "
         "margins leave of the sheet."},
        {{1, 1, 5, 5},
         {100000000, 75000000},
         "The poster would need 492675 columns and 258611 rows of sheets; at most 2147483647 sheets can be made."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.Text);
        EXPECT_EQ(LayoutError(a4, c.Lengths, c.Size), c.Text);
    }
    // Just inside every limit a layout comes out, one sheet across and down.
    const TLayout edge = ComputeLayout(a4, {104, 148, 0, 0}, {1, 1}, 64, 48);
    EXPECT_EQ(edge.Counts.Columns, 1);
    EXPECT_EQ(edge.Counts.Rows, 1);
}

TEST(LayoutRefusals, PosterBeyond32BitPixelsNamesTheLargestSize) {
    const TSheetGeometry a4 = SheetFromPaper(210, 297, PxPerMmFromDpi(300));
    EXPECT_EQ(LayoutError(a4, {}, {2147483647, 10}),
              "A poster of 2147483647 x 10 mm has too many printer pixels (25363929354 x 118). At this resolution "
              "the width may be at most 181820645 mm and the height at most 181820645 mm.");
}

TEST(PageSetWalk, RangesAreClippedAndNeverExpandedBeyondTheBounds) {
    TSetAsString set;
    set.SetAsString("1-2000000000,-5--1,7");
    std::vector<std::pair<int32_t, int32_t>> seen;
    set.ForEachRangeWithin(1, 6, [&](int32_t first, int32_t last) { seen.emplace_back(first, last); });
    EXPECT_EQ(seen, (std::vector<std::pair<int32_t, int32_t>>{{1, 6}}));
    EXPECT_EQ(set.AsArrayWithin(1, 6), (TIntArray{1, 2, 3, 4, 5, 6}));
    set.SetAsString("2-3,5,9-12");
    EXPECT_EQ(set.AsArrayWithin(3, 10), (TIntArray{3, 5, 9, 10}));
    EXPECT_TRUE(set.AsArrayWithin(13, 20).empty());
    EXPECT_TRUE(set.AsArrayWithin(1, 0).empty());
}

}  // namespace
}  // namespace tilvorn
