#include <gtest/gtest.h>

#include "TwainTestSupport.h"
#include "twain/TwainScan.h"

namespace tilvorn::twain::test {
namespace {

uint32_t ShownColour(TDIB& dib, int x, int y) {
    TColor c = dib.Canvas().GetPixel(x, y);
    return uint32_t(ColorRed(c)) << 16 | uint32_t(ColorGreen(c)) << 8 | ColorBlue(c);
}

/// The picture the poster had before the scan.
void MakePrevious(TDIB& picture) {
    picture.SetSize(3, 2, 24);
    picture.Canvas().Brush.Color = RGBColor(9, 8, 7);
    picture.Canvas().FillRect(Rect(0, 0, 3, 2));
}

void ExpectPrevious(TDIB& picture) {
    ASSERT_EQ(picture.Width(), 3);
    ASSERT_EQ(picture.Height(), 2);
    EXPECT_EQ(ShownColour(picture, 2, 1), 0x090807u);
}

class ScanTest : public FakeManagerTest {
protected:
    void SetUp() override {
        FakeManagerTest::SetUp();
        livePalettes = LivePaletteCount();
        MakePrevious(picture);
    }
    void TearDown() override {
        EXPECT_EQ(LivePaletteCount(), livePalettes) << "the scan's palette is released";
        FakeManagerTest::TearDown();
    }
    TDIB picture;
    int livePalettes = 0;
};

class ScanDepthTest : public ScanTest, public ::testing::WithParamInterface<int> {};

TEST_P(ScanDepthTest, TheScanBecomesATrueColourPictureWithTheSameColours) {
    const TestScan scan = TestScans()[GetParam()];
    const int width = 21, height = 9;
    FakeDsmQueuePage(TWRC_XFERDONE, scan.Make(width, height));  // the scan releases it
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);

    ASSERT_TRUE(ScanPicture(host.mainWindow, picture));

    EXPECT_EQ(picture.BitCount(), 24);
    ASSERT_EQ(picture.Width(), width);
    ASSERT_EQ(picture.Height(), height);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) ASSERT_EQ(ShownColour(picture, x, y), scan.Colour(x, y)) << x << "," << y;
    EXPECT_EQ(SentTriplets(false),
              (std::vector<Triplet>{kOpenDsm, kUserSelect, kCloseDsm, kOpenDsm, kOpenDs, kEnableDs, kNativeXfer,
                                    kEndXfer, kDisableDs, kCloseDs, kCloseDsm}));
    EXPECT_TRUE(dialogs.messages.empty());
}

INSTANTIATE_TEST_SUITE_P(Depths, ScanDepthTest, ::testing::Values(0, 1, 2),
                         [](const auto& info) { return "Bits" + std::to_string(TestScans()[info.param].bits); });

TEST_F(ScanTest, AThreePageScanKeepsTheLastPageAndReleasesEveryPage) {
    for (int page = 0; page < 3; ++page) {
        TestScan flat{24, {}, [page](int, int) { return uint32_t(0x102030 * (page + 1)); }};
        FakeDsmQueuePage(TWRC_XFERDONE, flat.Make(4 + page, 2));
    }
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
    ASSERT_TRUE(ScanPicture(host.mainWindow, picture));
    EXPECT_EQ(picture.Width(), 6);
    EXPECT_EQ(ShownColour(picture, 5, 1), 0x306090u);
}

TEST_F(ScanTest, ATopDownScanIsNotUpsideDown) {
    TestScan rows{24, {}, [](int, int y) { return y == 0 ? 0xFF0000u : 0x0000FFu; }};
    FakeDsmQueuePage(TWRC_XFERDONE, MakePackedDib(24, 5, 4, {}, 0, rows.stored, true));
    FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
    ASSERT_TRUE(ScanPicture(host.mainWindow, picture));
    ASSERT_EQ(picture.Height(), 4);
    EXPECT_EQ(ShownColour(picture, 2, 0), 0xFF0000u);
    EXPECT_EQ(ShownColour(picture, 2, 3), 0x0000FFu);
}

struct NoScan {
    const char* name;
    std::function<void()> arrange;
    std::vector<std::string> boxes;
};

class NoScanTest : public ScanTest, public ::testing::WithParamInterface<NoScan> {};

TEST_P(NoScanTest, LeavesThePictureAsItWas) {
    GetParam().arrange();
    EXPECT_FALSE(ScanPicture(host.mainWindow, picture));
    ExpectPrevious(picture);
    EXPECT_EQ(Boxes(), GetParam().boxes);
    EXPECT_EQ(host.enables.empty() ? true : host.enables.back().second, true) << "the window is usable again";
}

INSTANTIATE_TEST_SUITE_P(Outcomes, NoScanTest,
                         ::testing::Values(NoScan{"DialogClosed",
                                                  [] {
                                                      FakeDsmSetResult(DAT_IDENTITY, MSG_USERSELECT, TWRC_CANCEL);
                                                      FakeDsmQueueEvent(TWRC_DSEVENT, MSG_CLOSEDSREQ);
                                                  },
                                                  {}},
                                           NoScan{"TransferCancelled",
                                                  [] {
                                                      FakeDsmQueuePage(TWRC_CANCEL, nullptr);
                                                      FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
                                                      FakeDsmQueueEvent(TWRC_DSEVENT, MSG_CLOSEDSREQ);
                                                  },
                                                  {}},
                                           NoScan{"TransferFailed",
                                                  [] {
                                                      FakeDsmQueuePage(TWRC_FAILURE, nullptr);
                                                      FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
                                                  },
                                                  {}},
                                           NoScan{"NoSource",
                                                  [] { FakeDsmSetResult(DAT_IDENTITY, MSG_OPENDS, TWRC_FAILURE); },
                                                  {"TwainReportLastError: an error occurred"}},
                                           NoScan{"NoManager",
                                                  [] { TwainSetManagerPath("/nonexistent/libtwaindsm.so"); },
                                                  {"Unable to load Source Manager (TWAIN_32.DLL)",
                                                   "Unable to load Source Manager (TWAIN_32.DLL)"}}),
                         [](const auto& info) { return std::string(info.param.name); });

// A header of zeros has no width and no height; the most negative height has no positive one.
TEST_F(ScanTest, AScanWithoutAPictureRaisesAfterReleasingTheBlock) {
    for (const int32_t height : {0, INT32_MIN}) {
        HGLOBAL block = GlobalAlloc(platform::GHND, 40);
        auto* header = static_cast<uint8_t*>(GlobalLock(block));
        const int32_t fields[] = {40, height == 0 ? 0 : 4, height};
        std::memcpy(header, fields, sizeof fields);
        header[12] = 1;  // planes
        header[14] = 24;  // bits
        GlobalUnlock(block);
        FakeDsmQueuePage(TWRC_XFERDONE, block);
        FakeDsmQueueEvent(TWRC_DSEVENT, MSG_XFERREADY);
        EXPECT_THROW(ScanPicture(host.mainWindow, picture), EInvalidGraphic) << height;
        ExpectPrevious(picture);
    }
}

}  // namespace
}  // namespace tilvorn::twain::test
