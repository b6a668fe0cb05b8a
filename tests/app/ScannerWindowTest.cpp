// The scanner branch of the main window against the fake Source Manager: a scan becomes the
// poster's picture; a cancelled or failed scan leaves the window as it was.
#include <gtest/gtest.h>

#include "app/TwainQtHost.h"
#include "sane/SaneScanner.h"
#include "sane/SaneTestSupport.h"
#include "twain/TwainTestSupport.h"
#include "WindowSupport.h"

namespace tilvorn::twain::test {
namespace {

class ScannerWindowTest : public tilvorn::test::WindowTest {
protected:
    void SetUp() override {
        WindowTest::SetUp();
        ConnectFakeMemory();
        FakeDsmReset();
        TwainSetManagerPath(TILVORN_FAKE_DSM);
        SetTwainHost(&qtHost);
        liveBlocksBefore = platform::GlobalLiveBlocks();
    }
    void TearDown() override {
        EXPECT_EQ(TwainSessionState(), kManagerUnloaded);
        EXPECT_EQ(platform::GlobalLiveBlocks(), liveBlocksBefore) << "a scanned block leaked";
        SetTwainHost(nullptr);
        TwainSetManagerPath("");
        FakeDsmReset();
        WindowTest::TearDown();
    }
    void ClickScan() {
        form->sScrollBar2->setValue(1);
        QTest::mouseClick(form->ChangeImage, Qt::LeftButton);
    }
    TQtTwainHost qtHost;
    int64_t liveBlocksBefore = 0;
};

TEST_F(ScannerWindowTest, AScanBecomesThePicture) {
    Start();
    const TestScan scan = TestScans()[1];  // 8 bits through a colour table
    FakeDsmQueuePage(TWRC_XFERDONE, scan.Make(30, 20));
    FakeDsmQueueIdleEvent(TWRC_DSEVENT, MSG_XFERREADY);
    ClickScan();
    ASSERT_TRUE(form->SourceImage);
    EXPECT_EQ(form->SourceImage->Width(), 30);
    EXPECT_EQ(form->SourceImage->Height(), 20);
    EXPECT_EQ(form->SourceImage->BitCount(), 24);
    TColor c = form->SourceImage->Canvas().GetPixel(7, 3);
    EXPECT_EQ(uint32_t(ColorRed(c)) << 16 | uint32_t(ColorGreen(c)) << 8 | ColorBlue(c), scan.Colour(7, 3));
    EXPECT_TRUE(form->sPanel4->isEnabled()) << "the poster panels open for the scanned picture";
    EXPECT_TRUE(form->isEnabled()) << "the window is enabled again after the modal loop";
    EXPECT_TRUE(dialogs.messages.empty());
}

TEST_F(ScannerWindowTest, WithoutAManagerThePreviousPictureStays) {
    // Without a TWAIN manager the scanner mode goes to SANE; here it finds no scanner.
    tilvorn::test::sane::UseNoBackend();
    Start();
    GivePicture(12, 8);
    TwainSetManagerPath("/nonexistent/libtwaindsm.so");
    ClickScan();
    ASSERT_TRUE(form->SourceImage);
    EXPECT_EQ(form->SourceImage->Width(), 12);
    ASSERT_FALSE(dialogs.messages.empty());
    EXPECT_EQ(dialogs.messages[0].text, tilvorn::sane::kNoScannerFound);
    EXPECT_TRUE(form->sPanel4->isEnabled());
    EXPECT_EQ(TwainSessionState(), kManagerUnloaded);
}

}  // namespace
}  // namespace tilvorn::twain::test
