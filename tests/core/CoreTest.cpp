#include <gtest/gtest.h>

#include <cstring>

#include "core/ByteOrder.h"
#include "core/Exceptions.h"
#include "core/Format.h"
#include "core/IntText.h"
#include "core/Rounding.h"
#include "core/StreamPosition.h"
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

INSTANTIATE_TEST_SUITE_P(
    Table, IntTextTest,
    ::testing::Values(IntCase{"12", true, 12}, IntCase{"   12", true, 12}, IntCase{"+7", true, 7},
                      IntCase{"-7", true, -7}, IntCase{"$1F", true, 31}, IntCase{"x10", true, 16},
                      IntCase{"X10", true, 16}, IntCase{"0x10", true, 16}, IntCase{"-$10", true, -16},
                      IntCase{"0", true, 0}, IntCase{"007", true, 7}, IntCase{"2147483647", true, 2147483647},
                      IntCase{"-2147483648", true, INT32_MIN}, IntCase{"$7FFFFFFF", true, 2147483647},
                      IntCase{"2147483648", false, 0}, IntCase{"-2147483649", false, 0}, IntCase{"$80000000", false, 0},
                      IntCase{"", false, 0}, IntCase{"   ", false, 0}, IntCase{"12 ", false, 0},
                      IntCase{"1a", false, 0}, IntCase{"+", false, 0}, IntCase{"$", false, 0}, IntCase{"0x", false, 0},
                      IntCase{"1.5", false, 0}, IntCase{"\t5", false, 0}, IntCase{"99999999999999999999", false, 0}));

TEST(IntText, ConvertErrorNamesTheText) {
    try {
        StrToInt("abc");
        FAIL();
    } catch (const EConvertError& e) {
        EXPECT_STREQ(e.what(), "'abc' is not a valid integer value");
    }
}

TEST(Rounding, TruncCutsTowardZeroRoundGoesToEven) {
    struct {
        double in;
        int64_t trunc, round;
    } cases[] = {{2.5, 2, 2},
                 {3.5, 3, 4},
                 {-2.5, -2, -2},
                 {-3.5, -3, -4},
                 {2.4999, 2, 2},
                 {2.6, 2, 3},
                 {-2.6, -2, -3},
                 {0.5, 0, 0},
                 {1.5, 1, 2},
                 {11811.02, 11811, 11811},
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

namespace {

/// A memory stream whose seeks fail once told to.
class TFailingSeekStream : public TMemoryStream {
public:
    bool Fail = false;
    int64_t Seek(int64_t offset, SeekOrigin origin) override {
        if (Fail) throw EReadError(kStreamReadError);
        return TMemoryStream::Seek(offset, origin);
    }
};

}  // namespace

TEST(StreamPosition, RestoredOnEveryWayOut) {
    TMemoryStream stream;
    stream.Write("0123456789", 10);
    stream.SetPosition(3);
    {
        TKeepPosition keep(stream);
        stream.SetPosition(8);
    }
    EXPECT_EQ(stream.Position(), 3);
    uint8_t bytes[20];
    EXPECT_THROW(
        {
            TKeepPosition keep(stream);
            stream.ReadBuffer(bytes, 20);  // past the end: the read error passes the guard
        },
        EReadError);
    EXPECT_EQ(stream.Position(), 3);
}

TEST(StreamPosition, AFailingRestoreIsSwallowed) {
    TFailingSeekStream stream;
    stream.Write("0123", 4);
    stream.SetPosition(1);
    EXPECT_THROW(
        {
            TKeepPosition keep(stream);
            stream.Fail = true;  // the restore itself fails while the first error is on its way
            throw EInvalidGraphic("damaged");
        },
        EInvalidGraphic);
    stream.Fail = false;
    {
        TKeepPosition keep(stream);  // fails on leaving without another error: still no escape
        stream.Fail = true;
    }
    stream.Fail = false;
    EXPECT_EQ(stream.Position(), 1);
}

TEST(ByteOrder, LoadsAndStoresBothOrders) {
    const uint8_t bytes[] = {0x12, 0x34, 0x56, 0x78};
    EXPECT_EQ(LE16(bytes), 0x3412);
    EXPECT_EQ(BE16(bytes), 0x1234);
    EXPECT_EQ(LE32(bytes), 0x78563412u);
    EXPECT_EQ(BE32(bytes), 0x12345678u);
    const uint8_t high[] = {0xFF, 0xFE, 0xFD, 0xFC};  // no sign spreads into the result
    EXPECT_EQ(LE32(high), 0xFCFDFEFFu);
    EXPECT_EQ(BE32(high), 0xFFFEFDFCu);
    uint8_t out[4] = {};
    PutLE32(out, 0xA1B2C3D4u);
    EXPECT_EQ(LE32(out), 0xA1B2C3D4u);
    PutLE16(out, 0xBEEF);
    EXPECT_EQ(out[0], 0xEF);
    EXPECT_EQ(out[1], 0xBE);
    EXPECT_EQ(out[2], 0xB2);  // a 16-bit store leaves the bytes after it alone
}
