#include <gtest/gtest.h>

#include "poster/SetAsString.h"

namespace tilvorn {
namespace {

// The invariant every public operation keeps: ascending, non-empty, never touching.
void ExpectCanonical(const TSetAsString& set) {
    for (auto* r = set.First(); r; r = r->Next.get()) {
        EXPECT_LE(r->Low, r->High);
        if (r->Next) {
            EXPECT_GE(int64_t{r->Next->Low} - r->High, 2);
        }
    }
}

TEST(SetAsString, PageListTextsReadBackCanonical) {
    struct Case {
        const char* text;
        const char* canonical;
        int64_t count;
    };
    const Case cases[] = {
        {"5,1-3,2", "1-3,5", 4},
        {"3,4", "3-4", 2},
        {"7-7", "7", 1},
        {"1-3,,x,4", "1-4", 4},
        {" 2, 6", "2,6", 2},  // leading blanks are accepted
        {"2 ,6 ", "", 0},  // trailing blanks make an item invalid
        {"5-3", "", 0},
        {"-5", "", 0},
        {"", "", 0},
        {"$A,0x10,x3", "3,10,16", 3},  // hexadecimal forms of the common integer syntax
        {"1-2,4-5,3", "1-5", 5},
        {"10-20,12-30,1-11", "1-30", 30},
        {"1-2-3", "", 0},  // the high text "2-3" is not an integer
        {"1--3", "", 0},  // a high of -3 is below the low
        {"2147483646-2147483647,2147483645", "2147483645-2147483647", 3},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.text);
        TSetAsString set;
        set.SetAsString(c.text);
        EXPECT_EQ(set.AsString(), c.canonical);
        EXPECT_EQ(set.Count(), c.count);
        ExpectCanonical(set);
    }
}

TEST(SetAsString, IncludeExcludeAndContains) {
    struct Case {
        const char* start;
        char op;  // '+' include, '-' exclude
        int32_t value;
        const char* result;
    };
    const Case cases[] = {
        {"1-9", '-', 5, "1-4,6-9"},
        {"1", '-', 1, ""},
        {"1-9", '-', 1, "2-9"},
        {"1-9", '-', 9, "1-8"},
        {"1-9", '-', 10, "1-9"},
        {"3-4", '+', 5, "3-5"},
        {"3-4", '+', 2, "2-4"},
        {"1-3,5-7", '+', 4, "1-7"},
        {"1-3,9", '+', 6, "1-3,6,9"},
        {"", '+', -7, "-7"},
        {"4-5", '-', 4, "5"},
        {"2147483647", '-', 2147483647, ""},
        {"", '+', -2147483647 - 1, "-2147483648"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.start) + c.op + std::to_string(c.value));
        TSetAsString set;
        set.SetAsString(c.start);
        if (c.op == '+')
            set.Include(c.value);
        else
            set.Exclude(c.value);
        EXPECT_EQ(set.AsString(), c.result);
        EXPECT_EQ(set.Contains(c.value), c.op == '+');
        ExpectCanonical(set);
    }
}

TEST(SetAsString, FarApartMembersDoNotOverflowTheirDistance) {
    TSetAsString set;
    set.Include(-2147483647 - 1);
    set.Include(2147483647);
    set.Include(0);
    EXPECT_EQ(set.AsString(), "-2147483648,0,2147483647");
    EXPECT_EQ(set.Count(), 3);
    ExpectCanonical(set);
}

TEST(SetAsString, ArrayForms) {
    TSetAsString set;
    set.SetAsString("1-3,7");
    EXPECT_EQ(set.AsArray(), (TIntArray{1, 2, 3, 7}));
    EXPECT_EQ(set.Count(), 4);
    set.SetAsArray({9, 3, 4, 3, 8, -1});
    EXPECT_EQ(set.AsString(), "-1,3-4,8-9");
    EXPECT_EQ(set.AsArray(), (TIntArray{-1, 3, 4, 8, 9}));
    set.AddFromArray({5, 6, 7});
    EXPECT_EQ(set.AsString(), "-1,3-9");
    set.Clear();
    EXPECT_TRUE(set.AsArray().empty());
    EXPECT_EQ(set.AsString(), "");
}

TEST(SetAsString, AHugeRangeIsHeldAsOneRange) {
    TSetAsString set;
    set.SetAsString("1-2000000000");
    EXPECT_EQ(set.AsString(), "1-2000000000");
    EXPECT_EQ(set.Count(), 2000000000);
    EXPECT_TRUE(set.Contains(1999999999));
    set.Exclude(1000000000);
    EXPECT_EQ(set.AsString(), "1-999999999,1000000001-2000000000");
    // The widest possible range counts beyond 32 bits.
    set.SetAsString("-2147483648-2147483647");
    EXPECT_EQ(set.AsString(), "");  // the low text is empty: negative lows cannot be typed
    set.SetAsString("0-2147483647");
    EXPECT_EQ(set.Count(), int64_t{2147483648});
}

TEST(SetAsString, NormalizeDropsEmptyAndMergesTouchingRanges) {
    TSetAsString set;
    set.SetAsString("1-3,5-6,9");
    // Reach into the list as a caller of Normalize would find it after its own edits.
    auto* first = const_cast<TSetAsString::RangeNode*>(set.First());
    first->High = 4;  // now touches 5-6
    first->Next->Next->Low = 10;  // 9 becomes the empty range 10..9
    set.Normalize();
    EXPECT_EQ(set.AsString(), "1-6");
    ExpectCanonical(set);
}

}  // namespace
}  // namespace tilvorn

namespace tilvorn {
namespace {

TEST(SetAsString, MembersWithinAPosterArePickedAndCounted) {
    struct Case {
        const char* set;
        int32_t pages;
        TIntArray within;
    } cases[] = {
        {"99", 12, {}},
        {"1-20", 15, {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15}},
        {"0,3,12-14,40", 13, {3, 12, 13}},
        {"", 5, {}},
        {"1-2147483647", 2, {1, 2}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.set);
        TSetAsString set;
        set.SetAsString(c.set);
        EXPECT_EQ(set.AsArrayWithin(1, c.pages), c.within);
        EXPECT_EQ(set.CountWithin(1, c.pages), int64_t(c.within.size()));
    }
    TSetAsString all;
    all.SetAsString("0-2147483647");
    EXPECT_EQ(all.CountWithin(INT32_MIN, INT32_MAX), int64_t{2147483648});
}

}  // namespace
}  // namespace tilvorn
