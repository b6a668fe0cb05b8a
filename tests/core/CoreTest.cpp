#include <gtest/gtest.h>

#include <cstring>

#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/IntText.h"
#include "core/Rounding.h"
#include "core/Streams.h"
#include "core/GlobalMemory.h"
#include "support/TestSupport.h"

using namespace tilvorn;

TEST(Format, FillsTextsAndIntegersInOrder) {
    EXPECT_EQ(Format("Bitcount in invalid (%d)", 12), "Bitcount in invalid (12)");
    EXPECT_EQ(Format("%s cannot be made", "DIB"), "DIB cannot be made");
    EXPECT_EQ(Format("Cannot load image. Invalid or unexpected %s image format.", std::string("PNG")),
              "Cannot load image. Invalid or unexpected PNG image format.");
    EXPECT_EQ(Format("%d%% of %s", -3, "x"), "-3% of x");
    // A placeholder with no argument left stays as written.
    EXPECT_EQ(Format("(%d) (%d)", 1), "(1) (%d)");
}

struct IntCase {
    const char* text;
    bool valid;
    int32_t value;
};

class IntTextTest : public ::testing::TestWithParam<IntCase> {};

TEST_P(IntTextTest, FollowsTheIntegerTextRules) {
    const IntCase& c = GetParam();
    auto parsed = ParseIntText(c.text);
    ASSERT_EQ(parsed.has_value(), c.valid) << "'" << c.text << "'";
    if (c.valid) {
        EXPECT_EQ(*parsed, c.value);
        EXPECT_EQ(StrToInt(c.text), c.value);
    } else {
        EXPECT_EQ(StrToIntDef(c.text, 77), 77);
        EXPECT_THROW(StrToInt(c.text), EConvertError);
    }
}

INSTANTIATE_TEST_SUITE_P(Table, IntTextTest, ::testing::Values(
    IntCase{"12", true, 12}, IntCase{"   12", true, 12}, IntCase{"+7", true, 7}, IntCase{"-7", true, -7},
    IntCase{"$1F", true, 31}, IntCase{"x10", true, 16}, IntCase{"X10", true, 16}, IntCase{"0x10", true, 16},
    IntCase{"-$10", true, -16}, IntCase{"0", true, 0}, IntCase{"007", true, 7},
    IntCase{"2147483647", true, 2147483647}, IntCase{"-2147483648", true, INT32_MIN},
    IntCase{"$7FFFFFFF", true, 2147483647},
    IntCase{"2147483648", false, 0}, IntCase{"-2147483649", false, 0}, IntCase{"$80000000", false, 0},
    IntCase{"", false, 0}, IntCase{"   ", false, 0}, IntCase{"12 ", false, 0}, IntCase{"1a", false, 0},
    IntCase{"+", false, 0}, IntCase{"$", false, 0}, IntCase{"0x", false, 0}, IntCase{"1.5", false, 0},
    IntCase{"\t5", false, 0}, IntCase{"99999999999999999999", false, 0}));

TEST(IntText, ConvertErrorNamesTheText) {
    try {
        StrToInt("abc");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
}

TEST(Rounding, TruncCutsTowardZeroRoundGoesToEven) {
    struct { double in; int64_t trunc, round; } cases[] = {
        {2.5, 2, 2}, {3.5, 3, 4}, {-2.5, -2, -2}, {-3.5, -3, -4}, {2.4999, 2, 2},
        {2.6, 2, 3}, {-2.6, -2, -3}, {0.5, 0, 0}, {1.5, 1, 2}, {11811.02, 11811, 11811},
        {5e9 + 0.5, 5000000000LL, 5000000000LL}};
    for (auto c : cases) {
        EXPECT_EQ(Trunc(c.in), c.trunc) << c.in;
        EXPECT_EQ(Round(c.in), c.round) << c.in;
    }
}

TEST(Streams, MemoryStreamReadsWritesAndSeeks) {
    TMemoryStream m;
    m.WriteBuffer("abcdef", 6);
    EXPECT_EQ(m.Size(), 6);
    m.SetPosition(2);
    char buf[4] = {};
    m.ReadBuffer(buf, 3);
    EXPECT_EQ(std::string(buf, 3), "cde");
    EXPECT_EQ(m.Read(buf, 4), 1);  // only "f" is left
    EXPECT_EQ(m.Seek(-2, SeekOrigin::End), 4);
}

TEST(Streams, ShortReadsRaiseStreamReadError) {
    TCustomMemoryStream m("xyz", 3);
    char buf[8];
    try {
        m.ReadBuffer(buf, 4);
        FAIL();
    } catch (const EReadError& e) {
        EXPECT_STREQ(e.what(), "Stream read error");
    }
    // A fixed memory stream never grows.
    TCustomMemoryStream fixed(buf, 2);
    EXPECT_THROW(fixed.WriteBuffer("abc", 3), EWriteError);
}

TEST(Streams, FileStreamOpenErrorsAndRoundTrip) {
    std::string dir = test::TempDir("streams");
    EXPECT_THROW(TFileStream(dir + "/missing.bin", FileMode::OpenRead), EFOpenError);
    EXPECT_THROW(TFileStream(dir + "/no/such/folder.bin", FileMode::Create), EFCreateError);
    {
        TFileStream out(dir + "/a.bin", FileMode::Create);
        out.WriteBuffer("hello", 5);
    }
    TFileStream in(dir + "/a.bin", FileMode::OpenRead);
    EXPECT_EQ(in.Size(), 5);
    char buf[5];
    in.ReadBuffer(buf, 5);
    EXPECT_EQ(std::string(buf, 5), "hello");
    EXPECT_THROW(in.ReadBuffer(buf, 1), EReadError);
}

TEST(Streams, GlobalMemoryStreamLocksWhileItLivesAndLeavesTheBlock) {
    using namespace platform;
    HGLOBAL block = GlobalAlloc(GHND, 16);
    ASSERT_NE(block, nullptr);
    std::memcpy(GlobalLock(block), "0123456789abcdef", 16);
    GlobalUnlock(block);
    {
        TGlobalMemoryStream s(block);
        EXPECT_EQ(GlobalLockCount(block), 1);
        EXPECT_EQ(s.Size(), 16);
        char buf[4];
        s.ReadBuffer(buf, 4);
        EXPECT_EQ(std::string(buf, 4), "0123");
    }
    EXPECT_EQ(GlobalLockCount(block), 0);
    EXPECT_EQ(GlobalSize(block), 16u);
    EXPECT_EQ(GlobalFree(block), nullptr);
}
